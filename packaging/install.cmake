# What an installation holds besides the programs (their own folders add
# their install rules), and the two Debian packages built from it by CPack:
# quorvex-server (the job, its tools, the units; nothing that needs a
# display) and quorvex-console (the operator window, FLTK and X).

install(TARGETS QuorvexServer quorvex_check DESTINATION ${QUORVEX_INSTALL_DIR} COMPONENT server)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/QuorvexServer.ini.example
              ${CMAKE_SOURCE_DIR}/README.md
        DESTINATION ${QUORVEX_INSTALL_DIR} COMPONENT server)
# The administrator's documents, where README's links find them.
install(DIRECTORY ${CMAKE_SOURCE_DIR}/docs/ DESTINATION ${QUORVEX_INSTALL_DIR}/docs
        COMPONENT server FILES_MATCHING PATTERN "*.md" PATTERN "pending" EXCLUDE PATTERN "man" EXCLUDE)

include(${CMAKE_CURRENT_LIST_DIR}/manpages.cmake)
foreach(page ${QUORVEX_MANUAL_FILES})
  string(REGEX MATCH "[0-9]\\.gz$" section ${page})
  string(SUBSTRING ${section} 0 1 section)
  install(FILES ${page} DESTINATION usr/share/man/man${section} COMPONENT server)
endforeach()

# What Debian asks of every package: the copyright file, the changelog
# (gzipped the way dpkg's tools do, with no name or time stamp inside) and,
# for the /opt layout, the overrides that say why.
set(changelog ${CMAKE_BINARY_DIR}/debian/changelog.gz)
add_custom_command(OUTPUT ${changelog}
  COMMAND sh -c "gzip -9n -c \"$1\" >\"$2\"" make_changelog
          ${CMAKE_CURRENT_LIST_DIR}/debian/changelog ${changelog}
  DEPENDS ${CMAKE_CURRENT_LIST_DIR}/debian/changelog
  VERBATIM)
add_custom_target(debian_changelog ALL DEPENDS ${changelog})
foreach(component server console)
  set(PACKAGE quorvex-${component})
  set(overrides ${CMAKE_CURRENT_LIST_DIR}/debian/${PACKAGE}.lintian-overrides)
  install(FILES ${CMAKE_CURRENT_LIST_DIR}/debian/copyright ${changelog}
          DESTINATION usr/share/doc/${PACKAGE} COMPONENT ${component})
  install(FILES ${overrides} DESTINATION usr/share/lintian/overrides RENAME ${PACKAGE}
          COMPONENT ${component})
endforeach()
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
# The programs go stripped; their debug symbols go to quorvex-server-dbgsym
# and quorvex-console-dbgsym (.ddeb), under /usr/lib/debug/.build-id where
# gdb finds them.
set(CPACK_DEBIAN_DEBUGINFO_PACKAGE ON)

set(CPACK_DEBIAN_SERVER_PACKAGE_NAME quorvex-server)
# CPack puts the summary above as the first line of either description.
set(CPACK_COMPONENT_SERVER_DESCRIPTION
    "The job QuorvexServer, its configuration test quorvex-check, its latency
probes and password tool, the schema scripts, and the systemd units that
run it as the system user quorvex.
Needs no display: the operator window is in quorvex-console.")
# Loaded on first use rather than linked, so shlibdeps cannot see them.
# systemd brings systemd-sysusers, which makes the job's user (the
# deb-systemd-helper of the maintainer scripts comes with the essential
# init-system-helpers).
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
