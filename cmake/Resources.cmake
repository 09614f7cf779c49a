# Pictures are generated from readable tables by the scripts tools/make_*.py, each called with the
# folder to write into; the resource scripts find them there through the include path.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(resource_dir ${CMAKE_BINARY_DIR}/generated/resources)
file(GLOB picture_scripts CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tools/make_*.py)
set(picture_commands)
foreach(script IN LISTS picture_scripts)
    list(APPEND picture_commands COMMAND ${Python3_EXECUTABLE} ${script} ${resource_dir})
endforeach()
add_custom_command(
    OUTPUT ${resource_dir}/.generated
    COMMAND ${CMAKE_COMMAND} -E make_directory ${resource_dir}
    ${picture_commands}
    COMMAND ${CMAKE_COMMAND} -E touch ${resource_dir}/.generated
    DEPENDS ${picture_scripts}
    COMMENT "Generating pictures")
add_custom_target(lumoradex_resources DEPENDS ${resource_dir}/.generated)
set_property(SOURCE ${CMAKE_SOURCE_DIR}/updater/window/MAJLumoradex.rc APPEND PROPERTY OBJECT_DEPENDS
             ${resource_dir}/.generated)
include_directories(${resource_dir})
