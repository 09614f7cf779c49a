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

    # The program; only its entry point sees the release key, so a test tree may link a second
    # program with a test key from the same library.
    include(cmake/UpdatePublicKey.cmake)
    function(lumoradex_add_program target key_file output_dir)
        lumoradex_update_public_key_header("${key_file}" ${output_dir}/key)
        add_executable(${target} WIN32 ${CMAKE_SOURCE_DIR}/updater/main_win.cpp ${CMAKE_SOURCE_DIR}/updater/MAJLumoradex.rc)
        target_include_directories(${target} PRIVATE ${output_dir}/key)
        target_link_libraries(${target} PRIVATE lumoradex_win32)
        # --gc-sections drops what the static C++ runtime links in but nothing calls (libstdc++ is
        # built one function per section): about 3.5 KiB.
        target_link_options(${target} PRIVATE -municode -s -Wl,--gc-sections)
        set_target_properties(${target} PROPERTIES OUTPUT_NAME MAJLumoradex RUNTIME_OUTPUT_DIRECTORY ${output_dir})
        add_dependencies(${target} lumoradex_resources)
    endfunction()
    lumoradex_add_program(MAJLumoradex "${UPDATE_PUBLIC_KEY}" ${CMAKE_BINARY_DIR})
endif()
