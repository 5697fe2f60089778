# The third-party libraries of the Windows build, built from Debian's
# sources into the build tree: pugixml and SQLite from their Debian source
# packages (unpacked by scripts/install-deps-windows into
# QUORVEX_DEPS_SOURCE), GoogleTest from the googletest package.
set(QUORVEX_DEPS_SOURCE ${CMAKE_BINARY_DIR}/_deps/src CACHE PATH
    "Folder holding the unpacked source packages as pugixml/ and sqlite3/")
foreach(name pugixml sqlite3)
  if(NOT EXISTS ${QUORVEX_DEPS_SOURCE}/${name}/)
    message(FATAL_ERROR "No ${name} source in ${QUORVEX_DEPS_SOURCE}: run scripts/install-deps-windows")
  endif()
endforeach()
set(pugixml_source ${QUORVEX_DEPS_SOURCE}/pugixml)
set(sqlite_source ${QUORVEX_DEPS_SOURCE}/sqlite3)

# pugixml: its own CMake project, as a static library.
set(PUGIXML_BUILD_TESTS OFF CACHE BOOL "" FORCE)
set(CMAKE_POLICY_DEFAULT_CMP0077 NEW)
set(BUILD_SHARED_LIBS OFF)
add_subdirectory(${pugixml_source} ${CMAKE_BINARY_DIR}/_deps/pugixml EXCLUDE_FROM_ALL)

# SQLite: the source package holds the full source tree, not the
# amalgamation; its own build (configure, then make with tclsh) makes
# sqlite3.c and sqlite3.h on the build machine once.
set(sqlite_amalgamation ${CMAKE_BINARY_DIR}/_deps/sqlite3-amalgamation)
if(NOT EXISTS ${sqlite_amalgamation}/sqlite3.c)
  message(STATUS "Making the SQLite amalgamation from ${sqlite_source}")
  file(MAKE_DIRECTORY ${sqlite_amalgamation})
  execute_process(COMMAND ${sqlite_source}/configure --disable-tcl
                  WORKING_DIRECTORY ${sqlite_amalgamation}
                  OUTPUT_QUIET RESULT_VARIABLE failed)
  if(NOT failed)
    execute_process(COMMAND make -j2 sqlite3.c sqlite3.h
                    WORKING_DIRECTORY ${sqlite_amalgamation}
                    OUTPUT_QUIET RESULT_VARIABLE failed)
  endif()
  if(failed)
    message(FATAL_ERROR "Making the SQLite amalgamation failed in ${sqlite_amalgamation}")
  endif()
endif()
add_library(sqlite3 STATIC ${sqlite_amalgamation}/sqlite3.c)
target_include_directories(sqlite3 PUBLIC ${sqlite_amalgamation})
# Built as Debian builds the library the Linux side links: thread-safe and
# without lookaside memory, so every allocation goes through the heap and
# its limits.
target_compile_definitions(sqlite3 PRIVATE SQLITE_THREADSAFE=1 SQLITE_OMIT_LOOKASIDE
                           SQLITE_OMIT_LOAD_EXTENSION)
target_compile_options(sqlite3 PRIVATE -w)

if(QUORVEX_BUILD_TESTS)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/_deps/googletest EXCLUDE_FROM_ALL)
endif()
