# 32-bit Windows (PE32, i686): the main release, for every Windows from 7 on, 32- and 64-bit.
set(MINGW_TARGET i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
