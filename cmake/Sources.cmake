# The three subsystem folders and base/, the generic helpers they share, hold the program. Files
# ending in _win.cpp call Win32 and are built for Windows only; every other source file is
# platform-free and is built by both presets.
file(GLOB program_sources CONFIGURE_DEPENDS
    ${CMAKE_SOURCE_DIR}/base/*.cpp
    ${CMAKE_SOURCE_DIR}/updater/*.cpp
    ${CMAKE_SOURCE_DIR}/system/*.cpp
    ${CMAKE_SOURCE_DIR}/controls/*.cpp)
set(portable_sources ${program_sources})
list(FILTER portable_sources EXCLUDE REGEX "_win\\.cpp$")
set(win32_sources ${program_sources})
list(FILTER win32_sources INCLUDE REGEX "_win\\.cpp$")
list(REMOVE_ITEM win32_sources ${CMAKE_SOURCE_DIR}/updater/main_win.cpp)

add_library(lumoradex_portable STATIC ${portable_sources})
target_include_directories(lumoradex_portable PUBLIC ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR}/generated)

if(LUMORADEX_WIN32)
    add_library(lumoradex_win32 STATIC ${win32_sources})
    target_compile_definitions(lumoradex_win32 PUBLIC UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX
                                                      _WIN32_WINNT=0x0601)
    target_link_libraries(lumoradex_win32 PUBLIC lumoradex_portable user32 gdi32 shell32 comctl32)

    include(cmake/Resources.cmake)
    # Windows refuses to start a program whose manifest names another processor than its own.
    configure_file(updater/MAJLumoradex.manifest.in ${CMAKE_BINARY_DIR}/generated/MAJLumoradex.manifest @ONLY)
    set_property(SOURCE updater/MAJLumoradex.rc APPEND PROPERTY OBJECT_DEPENDS
                 ${CMAKE_BINARY_DIR}/generated/MAJLumoradex.manifest)
    add_executable(MAJLumoradex WIN32 updater/main_win.cpp ${CMAKE_SOURCE_DIR}/updater/MAJLumoradex.rc)
    target_link_libraries(MAJLumoradex PRIVATE lumoradex_win32)
    target_link_options(MAJLumoradex PRIVATE -municode -s)
    add_dependencies(MAJLumoradex lumoradex_resources)
endif()
