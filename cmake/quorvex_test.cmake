# How every test program is built and registered with CTest: quorvex_test().

# The throw-away PostgreSQL server of tests/postgres, which the tests that
# need one share, one per test run: its loopback port (empty: a free one,
# picked as it starts), its programs and the build's folder for it, whose
# odbc.ini names the server as a data source.
set(QUORVEX_PG_PORT "" CACHE STRING
    "Loopback port of the throw-away PostgreSQL test server (empty: a free port per run)")
set(QUORVEX_PG_BIN /usr/lib/postgresql/15/bin CACHE PATH "Folder of initdb and pg_ctl")
set(QUORVEX_PG_DIR ${CMAKE_BINARY_DIR}/postgres-fixture)
if(NOT WIN32 AND EXISTS ${QUORVEX_PG_BIN}/pg_ctl)
  set(QUORVEX_HAVE_POSTGRES ON)
else()
  set(QUORVEX_HAVE_POSTGRES OFF)
endif()

# quorvex_test(<target> SOURCES <file>...
#              [LIBRARIES <library>...] [INCLUDES <folder>...] [DEPENDS <target>...]
#              [TEST <name> [LAUNCHER <command>...]]
#              [POSTGRES_TEST <name> <gtest filter>] [USES_POSTGRES]
#              [PROPERTIES <property> <value>...])
#
# Builds the GoogleTest program <target> from SOURCES against quorvex_core,
# GoogleTest's main and LIBRARIES, with INCLUDES on its include path and
# QUORVEX_SOURCE_DIR and QUORVEX_BINARY_DIR defined; DEPENDS are built
# first (the programs its tests start). Then registers its tests:
#   - by default each test case is a test of its own, found by asking the
#     program (on Windows under wine, just before the tests run, and with
#     the regional settings of a German user, whose decimal separator is a
#     comma);
#   - TEST: the whole program is the one test <name>, started through
#     LAUNCHER when one is given;
#   - POSTGRES_TEST: the cases the filter matches run together as the one
#     test <name> on the PostgreSQL server, within two minutes (and are left
#     out of the cases above); where no server can be made, they are not
#     registered;
#   - USES_POSTGRES: the TEST runs on the PostgreSQL server where one can be
#     made, and without it elsewhere.
# Tests on the server take its fixture and its lock (they change rows of
# one shared database) and carry the label postgres. PROPERTIES apply to
# every test registered; an ENVIRONMENT among them is kept beside the
# server's. A property whose value is a list is set by the caller, after
# the call (the tests are registered by then, except discovered ones).
function(quorvex_test target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "USES_POSTGRES" "TEST"
                        "SOURCES;LIBRARIES;INCLUDES;DEPENDS;LAUNCHER;POSTGRES_TEST;PROPERTIES")
  add_executable(${target} ${arg_SOURCES})
  target_link_libraries(${target} PRIVATE quorvex_core GTest::gtest_main ${arg_LIBRARIES})
  target_include_directories(${target} PRIVATE ${arg_INCLUDES})
  target_compile_definitions(${target} PRIVATE
    QUORVEX_BINARY_DIR="${CMAKE_BINARY_DIR}" QUORVEX_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
  if(arg_DEPENDS)
    add_dependencies(${target} ${arg_DEPENDS})
  endif()
  if(WIN32)
    # setenv and unsetenv, which the Windows C runtime names otherwise.
    target_compile_options(${target} PRIVATE
      -include ${CMAKE_SOURCE_DIR}/tests/support/posix_env-win32.h)
  endif()

  set(registered "")
  set(on_server "")
  if(arg_TEST)
    if(arg_LAUNCHER)
      add_test(NAME ${arg_TEST} COMMAND ${arg_LAUNCHER} $<TARGET_FILE:${target}>)
    else()
      # Named as a target, the program runs under the cross build's emulator.
      add_test(NAME ${arg_TEST} COMMAND ${target})
    endif()
    list(APPEND registered ${arg_TEST})
    if(arg_USES_POSTGRES)
      list(APPEND on_server ${arg_TEST})
    endif()
  else()
    set(filter "")
    if(arg_POSTGRES_TEST)
      list(GET arg_POSTGRES_TEST 1 postgres_cases)
      set(filter TEST_FILTER "-${postgres_cases}")
    endif()
    if(WIN32)
      gtest_discover_tests(${target} ${filter} NO_PRETTY_VALUES DISCOVERY_MODE PRE_TEST
                           DISCOVERY_TIMEOUT 120
                           PROPERTIES ${arg_PROPERTIES} ENVIRONMENT LANG=de_DE.UTF-8)
    else()
      gtest_discover_tests(${target} ${filter} NO_PRETTY_VALUES DISCOVERY_TIMEOUT 30
                           PROPERTIES ${arg_PROPERTIES})
    endif()
  endif()
  if(arg_POSTGRES_TEST AND QUORVEX_HAVE_POSTGRES)
    list(GET arg_POSTGRES_TEST 0 name)
    list(GET arg_POSTGRES_TEST 1 postgres_cases)
    add_test(NAME ${name} COMMAND ${target} --gtest_filter=${postgres_cases})
    set_tests_properties(${name} PROPERTIES TIMEOUT 120)
    list(APPEND registered ${name})
    list(APPEND on_server ${name})
  endif()

  foreach(test ${registered})
    if(arg_PROPERTIES)
      set_tests_properties(${test} PROPERTIES ${arg_PROPERTIES})
    endif()
  endforeach()
  if(QUORVEX_HAVE_POSTGRES)
    foreach(test ${on_server})
      set_tests_properties(${test} PROPERTIES FIXTURES_REQUIRED postgres_server
                           RESOURCE_LOCK postgres_database)
      set_property(TEST ${test} APPEND PROPERTY ENVIRONMENT "ODBCINI=${QUORVEX_PG_DIR}/odbc.ini")
      set_property(TEST ${test} APPEND PROPERTY LABELS postgres)
    endforeach()
  endif()
endfunction()
