# What an installation holds besides the programs (their own folders add
# their install rules), and the two Debian packages built from it by CPack:
# quorvex-server (the job, its tools, the units; nothing that needs a
# display) and quorvex-console (the operator window, FLTK and X).

install(TARGETS QuorvexServer quorvex_check DESTINATION ${QUORVEX_INSTALL_DIR} COMPONENT server)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/QuorvexServer.ini.example
              ${CMAKE_SOURCE_DIR}/README.md
        DESTINATION ${QUORVEX_INSTALL_DIR} COMPONENT server)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/sql/ DESTINATION ${QUORVEX_INSTALL_DIR}/sql
        COMPONENT server)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/systemd/quorvex-server.service
              ${CMAKE_SOURCE_DIR}/packaging/systemd/quorvex-server.timer
        DESTINATION lib/systemd/system COMPONENT server)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/sysusers-quorvex.conf
        DESTINATION usr/lib/sysusers.d RENAME quorvex.conf COMPONENT server)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quorvex)
set(CPACK_PACKAGE_VENDOR "Quorvex")
set(CPACK_PACKAGE_CONTACT "Quorvex Server maintainers <maintainers@quorvex.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Latency probe and usage reporting job for an e-invoice stamping installation")
set(CPACK_PACKAGING_INSTALL_PREFIX /)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL server)
if(QUORVEX_BUILD_UI)
  list(APPEND CPACK_COMPONENTS_ALL console)
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)

set(CPACK_DEBIAN_SERVER_PACKAGE_NAME quorvex-server)
# CPack puts the summary above as the first line of either description.
set(CPACK_COMPONENT_SERVER_DESCRIPTION
    "The job QuorvexServer, its configuration test quorvex-check, its latency
probes and password tool, the schema scripts, and the systemd units that
run it as the system user quorvex.
Needs no display: the operator window is in quorvex-console.")
# Loaded on first use rather than linked, so shlibdeps cannot see them.
set(CPACK_DEBIAN_SERVER_PACKAGE_DEPENDS "libcurl4, libodbc2, libsystemd0, iputils-ping, systemd")
# The postinst seeds the embedded database with it.
set(CPACK_DEBIAN_SERVER_PACKAGE_RECOMMENDS "sqlite3")
set(CPACK_DEBIAN_SERVER_PACKAGE_SUGGESTS "tdsodbc, odbc-postgresql")
set(CPACK_DEBIAN_SERVER_PACKAGE_CONTROL_EXTRA
    ${CMAKE_SOURCE_DIR}/packaging/debian/postinst
    ${CMAKE_SOURCE_DIR}/packaging/debian/prerm
    ${CMAKE_SOURCE_DIR}/packaging/debian/postrm)

set(CPACK_DEBIAN_CONSOLE_PACKAGE_NAME quorvex-console)
set(CPACK_COMPONENT_CONSOLE_DESCRIPTION
    "The operator console QuorvexConsole: the job's main window on a desktop,
for a manual command run.")
set(CPACK_DEBIAN_CONSOLE_PACKAGE_DEPENDS "quorvex-server (= ${PROJECT_VERSION})")
include(CPack)
