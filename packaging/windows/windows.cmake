# The Windows side of packaging: the job's event messages compiled into
# QuorvexServer.exe, and the installer QuorvexServer-<version>-setup.exe
# (NSIS) made from every program of the build. Read after all programs are
# defined, so that the installer holds the console whenever it is built.

# windmc turns the messages into a resource script and its binary, which
# QuorvexServer.rc includes.
set(QUORVEX_MESSAGES_DIR ${CMAKE_BINARY_DIR}/event_messages)
string(REPLACE windres windmc QUORVEX_WINDMC ${CMAKE_RC_COMPILER})
set(messages ${QUORVEX_MESSAGES_DIR}/event_messages.rc ${QUORVEX_MESSAGES_DIR}/MSG00409.bin)
add_custom_command(
  OUTPUT ${messages}
  COMMAND ${QUORVEX_WINDMC} -U -h ${QUORVEX_MESSAGES_DIR} -r ${QUORVEX_MESSAGES_DIR}
          ${CMAKE_CURRENT_LIST_DIR}/event_messages.mc
  DEPENDS ${CMAKE_CURRENT_LIST_DIR}/event_messages.mc
  VERBATIM)
add_custom_target(quorvex_event_messages DEPENDS ${messages})
add_dependencies(QuorvexServer quorvex_event_messages)
target_include_directories(QuorvexServer PRIVATE ${QUORVEX_MESSAGES_DIR})
# The resource compiler reports no dependencies: a changed manifest must
# be named here to be embedded again.
set_property(SOURCE ${CMAKE_CURRENT_LIST_DIR}/QuorvexServer.rc APPEND PROPERTY
             OBJECT_DEPENDS ${messages} ${CMAKE_CURRENT_LIST_DIR}/QuorvexServer.manifest)

# The programs the installer carries: their File lines for the
# installation and their Delete lines for the uninstaller, in a script that
# QuorvexServer.nsi includes.
find_program(QUORVEX_MAKENSIS makensis REQUIRED)
set(programs QuorvexServer quorvex_check tcping psping quorvex_password)
if(TARGET QuorvexConsole)
  list(APPEND programs QuorvexConsole)
endif()
set(install_lines "")
set(remove_lines "")
foreach(program ${programs})
  string(APPEND install_lines "  File \"$<TARGET_FILE:${program}>\"\n")
  string(APPEND remove_lines "  Delete \"$INSTDIR\\$<TARGET_FILE_NAME:${program}>\"\n")
endforeach()
# The manual pages, as text beside the programs.
include(${CMAKE_CURRENT_LIST_DIR}/../manpages.cmake)
foreach(page ${QUORVEX_MANUAL_FILES})
  get_filename_component(page_name ${page} NAME)
  string(APPEND install_lines "  File \"${page}\"\n")
  string(APPEND remove_lines "  Delete \"$INSTDIR\\${page_name}\"\n")
endforeach()
set(programs_nsh ${CMAKE_BINARY_DIR}/installer/programs.nsh)
file(GENERATE OUTPUT ${programs_nsh} CONTENT
  "!macro InstallPrograms\n${install_lines}!macroend\n!macro RemovePrograms\n${remove_lines}!macroend\n")

# The program that sets the permissions of what the installer installs;
# the installer carries it in its temporary folder only.
add_executable(quorvex_access ${CMAKE_CURRENT_LIST_DIR}/installer_access.cc)
set_target_properties(quorvex_access PROPERTIES OUTPUT_NAME quorvex-access
                      RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/installer)
target_link_options(quorvex_access PRIVATE -municode)
target_link_libraries(quorvex_access PRIVATE advapi32)

# The Windows settings example, with the line ends Notepad expects.
set(settings_example ${CMAKE_BINARY_DIR}/installer/QuorvexServer.ini.example)
configure_file(${CMAKE_CURRENT_LIST_DIR}/QuorvexServer.ini.example ${settings_example}
               @ONLY NEWLINE_STYLE CRLF)

set(QUORVEX_SETUP ${CMAKE_BINARY_DIR}/QuorvexServer-${PROJECT_VERSION}-setup.exe)
add_custom_command(
  OUTPUT ${QUORVEX_SETUP}
  COMMAND ${QUORVEX_MAKENSIS} -V2 -DVERSION=${PROJECT_VERSION} -DOUTFILE=${QUORVEX_SETUP}
          -DPROGRAMS=${programs_nsh} -DSOURCE_DIR=${CMAKE_SOURCE_DIR}
          -DSETTINGS_EXAMPLE=${settings_example} -DACCESS_TOOL=$<TARGET_FILE:quorvex_access>
          ${CMAKE_CURRENT_LIST_DIR}/QuorvexServer.nsi
  DEPENDS ${programs} quorvex_access ${programs_nsh} ${QUORVEX_MANUAL_FILES} ${CMAKE_CURRENT_LIST_DIR}/QuorvexServer.nsi
          ${settings_example} ${CMAKE_SOURCE_DIR}/sql/sqlserver/schema.sql
  VERBATIM)
add_custom_target(installer ALL DEPENDS ${QUORVEX_SETUP})

if(QUORVEX_BUILD_TESTS)
  add_subdirectory(${CMAKE_SOURCE_DIR}/tests/installer ${CMAKE_BINARY_DIR}/tests/installer)
endif()
