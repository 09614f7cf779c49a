# The program is a set of components, one folder each, and each its own library. A component sees
# the headers of the components it links and no others: its include path holds links to its own
# headers only, under their path from the source root, so an include that the rules below do not
# allow fails the build. Files ending in _win.cpp call Win32 and are built for Windows only; every
# other source file is platform-free and is built by every preset.
#
# lumoradex_component(NAME FOLDER [USES component...] [WINDOWS_LIBRARIES library...] [EXCLUDE file...])
function(lumoradex_component name folder)
    cmake_parse_arguments(PARSE_ARGV 2 arg "" "" "USES;WINDOWS_LIBRARIES;EXCLUDE")
    file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${folder}/*.cpp)
    foreach(excluded IN LISTS arg_EXCLUDE)
        list(REMOVE_ITEM sources ${CMAKE_SOURCE_DIR}/${folder}/${excluded})
    endforeach()
    if(NOT LUMORADEX_WIN32)
        list(FILTER sources EXCLUDE REGEX "_win\\.cpp$")
    endif()
    set(include_root ${CMAKE_BINARY_DIR}/include/${name})
    file(REMOVE_RECURSE ${include_root})
    file(MAKE_DIRECTORY ${include_root}/${folder})
    file(GLOB headers CONFIGURE_DEPENDS RELATIVE ${CMAKE_SOURCE_DIR}/${folder} ${CMAKE_SOURCE_DIR}/${folder}/*.h
         ${CMAKE_SOURCE_DIR}/${folder}/*.rc)
    foreach(header IN LISTS headers)
        file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${folder}/${header} ${include_root}/${folder}/${header} SYMBOLIC)
    endforeach()
    if(sources)
        set(scope PUBLIC)
        add_library(${name} STATIC ${sources})
    else()
        set(scope INTERFACE)
        add_library(${name} INTERFACE)
    endif()
    target_include_directories(${name} ${scope} ${include_root})
    target_link_libraries(${name} ${scope} ${arg_USES})
    if(LUMORADEX_WIN32)
        target_link_libraries(${name} ${scope} ${arg_WINDOWS_LIBRARIES})
    endif()
endfunction()

# The include rules. base/ uses none of ours; controls/ uses base/ only and knows its host through
# its events. In updater/: the ports (the interfaces system/ implements and the values they carry)
# use nothing; the formats (release/, patch/) use the ports' values; the workflows (check/,
# install/) use the ports, the formats and base/, never the window or system/; the window maps
# messages onto the workflows. system/ uses base/ and, from updater/, only the ports; its transfer
# wing is net/. Only the composition root (updater/main/) sees system/.
lumoradex_component(lumoradex_base base WINDOWS_LIBRARIES user32 gdi32)
if(LUMORADEX_WIN32)
    target_compile_definitions(lumoradex_base PUBLIC UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX
                                                     _WIN32_WINNT=0x0601)
endif()
lumoradex_component(lumoradex_controls controls USES lumoradex_base)
lumoradex_component(lumoradex_ports updater/ports)
lumoradex_component(lumoradex_release updater/release USES lumoradex_ports)
target_include_directories(lumoradex_release PRIVATE ${CMAKE_BINARY_DIR}/generated) # build_config.h
lumoradex_component(lumoradex_patch updater/patch USES lumoradex_ports)
lumoradex_component(lumoradex_check updater/check USES lumoradex_ports lumoradex_release lumoradex_base)
lumoradex_component(lumoradex_install updater/install
                    USES lumoradex_ports lumoradex_release lumoradex_patch lumoradex_base)
lumoradex_component(lumoradex_window updater/window
                    USES lumoradex_check lumoradex_install lumoradex_release lumoradex_controls lumoradex_base)
lumoradex_component(lumoradex_net system/net USES lumoradex_ports lumoradex_base)
lumoradex_component(lumoradex_system system USES lumoradex_ports lumoradex_base WINDOWS_LIBRARIES shell32)

if(LUMORADEX_WIN32)
    include(cmake/Resources.cmake)
    # Windows refuses to start a program whose manifest names another processor than its own.
    configure_file(updater/window/MAJLumoradex.manifest.in ${CMAKE_BINARY_DIR}/generated/MAJLumoradex.manifest @ONLY)
    set_property(SOURCE updater/window/MAJLumoradex.rc APPEND PROPERTY OBJECT_DEPENDS
                 ${CMAKE_BINARY_DIR}/generated/MAJLumoradex.manifest)

    # The composition root: every adapter of system/ handed to the workflows and the window.
    lumoradex_component(lumoradex_main updater/main
                        USES lumoradex_window lumoradex_system lumoradex_net lumoradex_install lumoradex_check
                             lumoradex_controls lumoradex_base
                        EXCLUDE main_win.cpp)

    # The program; only its entry point sees the release key, so a test tree may link a second
    # program with a test key, or an entry point of its own, from the same libraries.
    include(cmake/UpdatePublicKey.cmake)
    function(lumoradex_add_program target key_file output_dir)
        set(entry ${CMAKE_SOURCE_DIR}/updater/main/main_win.cpp)
        if(ARGC GREATER 3)
            set(entry ${ARGV3})
        endif()
        lumoradex_update_public_key_header("${key_file}" ${output_dir}/key)
        add_executable(${target} WIN32 ${entry} ${CMAKE_SOURCE_DIR}/updater/window/MAJLumoradex.rc)
        target_include_directories(${target} PRIVATE ${output_dir}/key ${CMAKE_BINARY_DIR}/generated)
        target_link_libraries(${target} PRIVATE lumoradex_main)
        # --gc-sections drops what the static C++ runtime links in but nothing calls (libstdc++ is
        # built one function per section): about 3.5 KiB. Symbols stay in the builds made for a debugger.
        target_link_options(${target} PRIVATE -municode -Wl,--gc-sections $<$<NOT:$<CONFIG:Debug,RelWithDebInfo>>:-s>)
        set_target_properties(${target} PROPERTIES OUTPUT_NAME MAJLumoradex RUNTIME_OUTPUT_DIRECTORY ${output_dir})
        add_dependencies(${target} lumoradex_resources)
    endfunction()
    lumoradex_add_program(MAJLumoradex "${UPDATE_PUBLIC_KEY}" ${CMAKE_BINARY_DIR})
endif()

# Every component, for the tests and the benchmarks, which may reach any of them.
add_library(lumoradex_components INTERFACE)
target_link_libraries(lumoradex_components INTERFACE lumoradex_base lumoradex_controls lumoradex_ports
                      lumoradex_release lumoradex_patch lumoradex_check lumoradex_install lumoradex_window
                      lumoradex_net lumoradex_system)
target_include_directories(lumoradex_components INTERFACE ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR}/generated)
if(LUMORADEX_WIN32)
    target_link_libraries(lumoradex_components INTERFACE lumoradex_main)
endif()
