# Every test that runs a Windows program needs the build tree's Wine session (tests/wine): a
# CTest fixture starts it before the first such test and stops it after the last.
set(WINE_STATE_DIR ${CMAKE_BINARY_DIR}/wine)

# The side of Wine a session runs: a Windows tree's own; in the native tree, that of the Windows build
# this machine runs (scripts/windows-build.sh), whose program and fixtures its drivers start.
if(LUMORADEX_WIN32)
    set(WINE_ARCH ${WINDOWS_BUILD})
else()
    if(NOT LUMORADEX_WINDOWS_BUILD)
        execute_process(COMMAND ${CMAKE_SOURCE_DIR}/scripts/windows-build.sh
                        OUTPUT_VARIABLE chosen_build ERROR_VARIABLE why RESULT_VARIABLE probe_status
                        OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_STRIP_TRAILING_WHITESPACE)
        if(NOT probe_status EQUAL 0)
            message(FATAL_ERROR "${why}")
        endif()
        message(STATUS "${why}")
        set(LUMORADEX_WINDOWS_BUILD ${chosen_build} CACHE STRING
            "The Windows build (win32 or win64) whose tree build/<build> the end-to-end tests run")
    endif()
    if(NOT LUMORADEX_WINDOWS_BUILD MATCHES "^win(32|64)$")
        message(FATAL_ERROR "LUMORADEX_WINDOWS_BUILD must be win32 or win64, got '${LUMORADEX_WINDOWS_BUILD}'")
    endif()
    set(WINE_ARCH ${LUMORADEX_WINDOWS_BUILD})
endif()
set(WINE_SESSION ${CMAKE_SOURCE_DIR}/tests/wine/session.sh)
set(WINE_RUN ${CMAKE_SOURCE_DIR}/tests/wine/run.sh)

add_test(NAME wine_session_start COMMAND ${WINE_SESSION} start ${WINE_STATE_DIR} ${WINE_ARCH})
add_test(NAME wine_session_stop COMMAND ${WINE_SESSION} stop ${WINE_STATE_DIR})
set_tests_properties(wine_session_start PROPERTIES FIXTURES_SETUP wine TIMEOUT 180)
set_tests_properties(wine_session_stop PROPERTIES FIXTURES_CLEANUP wine)

# add_wine_test(NAME name COMMAND program args... [TIMEOUT seconds]): a test run inside the session.
function(add_wine_test)
    cmake_parse_arguments(ARG "" "NAME;TIMEOUT" "COMMAND" ${ARGN})
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 300)
    endif()
    add_test(NAME ${ARG_NAME} COMMAND ${WINE_RUN} ${WINE_STATE_DIR} ${ARG_COMMAND})
    set_tests_properties(${ARG_NAME} PROPERTIES FIXTURES_REQUIRED wine RUN_SERIAL ON TIMEOUT ${ARG_TIMEOUT}
                                                LABELS wine)
endfunction()

# add_session_test(NAME name COMMAND linux-program args... [LABELS ...] [TIMEOUT seconds]): a Linux
# program that drives Windows programs in the session; it finds the session through
# LUMORADEX_WINE_STATE.
# add_session_test(GTEST_TARGET target [LABELS ...] [TIMEOUT seconds]): the same for every test of a
# GoogleTest executable, each its own CTest test with its own time-out.
function(add_session_test)
    cmake_parse_arguments(ARG "" "NAME;TIMEOUT;GTEST_TARGET" "COMMAND;LABELS" ${ARGN})
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 600)
    endif()
    set(session_properties FIXTURES_REQUIRED wine RUN_SERIAL ON TIMEOUT ${ARG_TIMEOUT} LABELS "${ARG_LABELS}"
                           ENVIRONMENT "LUMORADEX_WINE_STATE=${WINE_STATE_DIR}")
    if(ARG_GTEST_TARGET)
        include(GoogleTest)
        gtest_discover_tests(${ARG_GTEST_TARGET} DISCOVERY_TIMEOUT 60 PROPERTIES ${session_properties})
    else()
        add_test(NAME ${ARG_NAME} COMMAND ${ARG_COMMAND})
        set_tests_properties(${ARG_NAME} PROPERTIES ${session_properties})
    endif()
endfunction()
