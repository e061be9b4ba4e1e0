# Where `cmake --install` puts things. On POSIX systems the executables go to
# bin/ and the drivers to lib/loopcheck/, where an installed harness looks
# for its bundled driver (../lib/loopcheck relative to its own folder); the
# ready registry files go to share/loopcheck/ and name the drivers relative
# to their own folder. On Windows everything sits side by side in one
# folder, as a ZIP is unpacked.
if(WIN32)
  set(LOOPCHECK_INSTALL_BINDIR .)
  set(LOOPCHECK_INSTALL_DRIVERDIR .)
  set(LOOPCHECK_INSTALL_DATADIR .)
  set(LOOPCHECK_INSTALL_DOCDIR .)
else()
  set(LOOPCHECK_INSTALL_BINDIR bin)
  set(LOOPCHECK_INSTALL_DRIVERDIR lib/loopcheck)
  set(LOOPCHECK_INSTALL_DATADIR share/loopcheck)
  set(LOOPCHECK_INSTALL_DOCDIR share/doc/loopcheck)
endif()

# Installs a driver library with the others. On Windows the driver is a COM
# server DLL; the import library MinGW makes beside it is of no use to
# anyone and stays out.
function(loopcheck_install_driver target)
  install(TARGETS ${target}
    LIBRARY DESTINATION ${LOOPCHECK_INSTALL_DRIVERDIR}
    RUNTIME DESTINATION ${LOOPCHECK_INSTALL_DRIVERDIR}
    ARCHIVE DESTINATION ${LOOPCHECK_INSTALL_DRIVERDIR} EXCLUDE_FROM_ALL)
endfunction()

# Installs a registry file ready for LOOPCHECK_REGISTRY. Its InprocServer32
# paths are written as bare library names (as they stand beside the library
# in the build folder); the installed copy names them relative to
# share/loopcheck, which is where an installed harness resolves them from.
function(loopcheck_install_registry_file source name)
  file(READ ${source} text)
  file(RELATIVE_PATH to_drivers /prefix/${LOOPCHECK_INSTALL_DATADIR} /prefix/${LOOPCHECK_INSTALL_DRIVERDIR})
  if(to_drivers)
    string(REGEX REPLACE "\n@=\"([^\"/\\\\]+)\"" "\n@=\"${to_drivers}/\\1\"" text "${text}")
  endif()
  set(installed ${CMAKE_BINARY_DIR}/installed/${name})
  file(GENERATE OUTPUT ${installed} CONTENT "${text}")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
  install(FILES ${installed} DESTINATION ${LOOPCHECK_INSTALL_DATADIR})
endfunction()
