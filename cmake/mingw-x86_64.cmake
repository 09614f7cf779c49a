# 64-bit Windows (PE32+, x86-64): the same program for machines whose Wine runs only its 64-bit side.
set(MINGW_TARGET x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
