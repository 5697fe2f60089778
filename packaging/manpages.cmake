# The manual pages, written once as man(7) sources under docs/man/ and made
# at build time: gzipped for the Debian package, which installs them where
# man(1) finds them, and as plain text with Windows line ends for the
# Windows installer, which puts them beside the programs.
set(QUORVEX_MANUAL_PAGES QuorvexServer.8 quorvex-check.8 quorvex-password.8 tcping.1 psping.1)
set(QUORVEX_MANUAL_DIR ${CMAKE_BINARY_DIR}/man)
set(QUORVEX_MANUAL_FILES "")
foreach(page ${QUORVEX_MANUAL_PAGES})
  set(source ${CMAKE_SOURCE_DIR}/docs/man/${page})
  if(WIN32)
    # grotty's -c -b -o -u: no bold, underline or overstrike sequences.
    set(output ${QUORVEX_MANUAL_DIR}/${page}.txt)
    set(make_it "groff -man -Tascii -P-cbou \"$1\" | sed 's/$/\\r/' >\"$2\"")
  else()
    # -n: no name or time stamp inside, so the package is reproducible.
    set(output ${QUORVEX_MANUAL_DIR}/${page}.gz)
    set(make_it "gzip -9n -c \"$1\" >\"$2\"")
  endif()
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${QUORVEX_MANUAL_DIR}
    COMMAND sh -c ${make_it} make_manual ${source} ${output}
    DEPENDS ${source}
    VERBATIM)
  list(APPEND QUORVEX_MANUAL_FILES ${output})
endforeach()
add_custom_target(manual_pages ALL DEPENDS ${QUORVEX_MANUAL_FILES})
