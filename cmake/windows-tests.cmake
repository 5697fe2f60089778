# Which unit tests the Windows build runs under wine: every test file but
# those that need POSIX programs or calls, which stay in the Linux build.
set(QUORVEX_POSIX_TEST_FILES)
# These build on POSIX programs and calls (sh, printf, setenv, the test
# installation's posix_spawn); the runner's own Windows rows are in
# dos_outputs_test.cc, and the Windows job is run whole by tests/windows.
foreach(file database/database-odbc_test.cc platform/child_process_test.cc
             probe/ping_tools_test.cc)
  list(APPEND QUORVEX_POSIX_TEST_FILES ${CMAKE_SOURCE_DIR}/src/${file})
endforeach()

# Discovery runs the test program under wine before the tests (the build
# itself never starts wine). Wine takes the user's regional settings from
# LANG: the tests run as a German user, whose decimal separator is a comma.
function(quorvex_discover_windows_tests target)
  target_compile_options(${target} PRIVATE
    -include ${CMAKE_SOURCE_DIR}/tests/support/posix_env-win32.h)
  # The recording message box and the loopback peers.
  target_include_directories(${target} PRIVATE ${CMAKE_SOURCE_DIR}/tests/probe)
  target_link_libraries(${target} PRIVATE ws2_32)
  gtest_discover_tests(${target} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
                       PROPERTIES LABELS unit ENVIRONMENT LANG=de_DE.UTF-8)
endfunction()
