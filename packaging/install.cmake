# What an installation holds besides the programs (their own folders add
# their install rules), and the Debian package built from it by CPack.

install(TARGETS QuorvexServer DESTINATION ${QUORVEX_INSTALL_DIR})
install(FILES ${CMAKE_SOURCE_DIR}/packaging/QuorvexServer.ini.example
              ${CMAKE_SOURCE_DIR}/README.md
        DESTINATION ${QUORVEX_INSTALL_DIR})
install(DIRECTORY ${CMAKE_SOURCE_DIR}/sql/ DESTINATION ${QUORVEX_INSTALL_DIR}/sql)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/systemd/quorvex-server.service
              ${CMAKE_SOURCE_DIR}/packaging/systemd/quorvex-server.timer
        DESTINATION lib/systemd/system)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/sysusers-quorvex.conf
        DESTINATION usr/lib/sysusers.d RENAME quorvex.conf)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quorvex-server)
set(CPACK_PACKAGE_VENDOR "Quorvex")
set(CPACK_PACKAGE_CONTACT "Quorvex Server maintainers <maintainers@quorvex.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Latency probe and usage reporting job for an e-invoice stamping installation")
set(CPACK_PACKAGING_INSTALL_PREFIX /)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Loaded on first use rather than linked, so shlibdeps cannot see them.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libcurl4, libodbc2, libsystemd0, iputils-ping, systemd")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "tdsodbc, odbc-postgresql, sqlite3")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_SOURCE_DIR}/packaging/debian/postinst
    ${CMAKE_SOURCE_DIR}/packaging/debian/prerm
    ${CMAKE_SOURCE_DIR}/packaging/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
include(CPack)
