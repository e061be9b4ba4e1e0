# What goes into an install besides the drivers (each driver's own folder
# installs it with loopcheck_install_driver), and the packages CPack makes
# of it: a .deb on Linux, a ZIP from each Windows cross-build.
if(TARGET loopcheck)
  install(TARGETS loopcheck RUNTIME DESTINATION ${LOOPCHECK_INSTALL_BINDIR})
endif()
if(TARGET loopcheck-analyse)
  install(TARGETS loopcheck-analyse RUNTIME DESTINATION ${LOOPCHECK_INSTALL_BINDIR})
endif()

install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${LOOPCHECK_INSTALL_DOCDIR})
file(GLOB loopcheck_doc_pages CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/docs/*.md ${PROJECT_SOURCE_DIR}/docs/*.png)
if(loopcheck_doc_pages)
  install(FILES ${loopcheck_doc_pages} DESTINATION ${LOOPCHECK_INSTALL_DOCDIR}/docs)
endif()

set(CPACK_PACKAGE_NAME loopcheck)
set(CPACK_PACKAGE_VENDOR "loopcheck")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Console test harness for ASIO audio interfaces")
set(CPACK_PACKAGE_DESCRIPTION
  "loopcheck streams a known test signal on every output of an ASIO driver, records every input, and writes what the inputs received to report files. Comes with a virtual loopback driver and the dump analyser loopcheck-analyse.")
set(CPACK_PACKAGE_CONTACT "loopcheck developers")
set(CPACK_PACKAGE_CHECKSUM SHA256)
set(CPACK_STRIP_FILES ON)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(loopcheck_windows_arch win64)
  else()
    set(loopcheck_windows_arch win32)
  endif()
  set(CPACK_PACKAGE_FILE_NAME loopcheck-${CPACK_PACKAGE_VERSION}-${loopcheck_windows_arch})
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION sound)
  # The dependencies are what the installed programs and drivers link to,
  # as dpkg-shlibdeps finds them.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()

include(CPack)
