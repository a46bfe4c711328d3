# Installation layout and the Debian package: `cpack -G DEB` in the build tree.
include(GNUInstallDirs)

set(VELMAR_PACKAGING_DIR ${CMAKE_SOURCE_DIR}/packaging)

foreach(program velmar velmar-cli velmar-sim)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()

# Manual pages and the changelog go into the package compressed, as Debian policy wants them;
# -n keeps the time stamp out, so the package is the same from one build to the next.
find_program(VELMAR_GZIP gzip REQUIRED)
set(velmar_compressed)
function(velmar_gzip source output)
  add_custom_command(OUTPUT ${output}
    COMMAND ${VELMAR_GZIP} -9nc ${source} > ${output}
    DEPENDS ${source} VERBATIM)
  set(velmar_compressed ${velmar_compressed} ${output} PARENT_SCOPE)
endfunction()

set(man_out ${CMAKE_BINARY_DIR}/packaging/man)
file(MAKE_DIRECTORY ${man_out})
foreach(page velmar velmar-cli velmar-sim)
  velmar_gzip(${VELMAR_PACKAGING_DIR}/man/${page}.1 ${man_out}/${page}.1.gz)
  install(FILES ${man_out}/${page}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()

configure_file(${VELMAR_PACKAGING_DIR}/changelog.in ${CMAKE_BINARY_DIR}/packaging/changelog @ONLY)
velmar_gzip(${CMAKE_BINARY_DIR}/packaging/changelog ${CMAKE_BINARY_DIR}/packaging/changelog.gz)
add_custom_target(velmar_packaging_files ALL DEPENDS ${velmar_compressed})

set(doc_dir ${CMAKE_INSTALL_DATAROOTDIR}/doc/velmar)
install(FILES ${VELMAR_PACKAGING_DIR}/copyright ${CMAKE_BINARY_DIR}/packaging/changelog.gz
  DESTINATION ${doc_dir})
# Example ser2net configurations for a station's line, one per network port kind.
install(FILES ${VELMAR_PACKAGING_DIR}/examples/ser2net-raw.yaml
  ${VELMAR_PACKAGING_DIR}/examples/ser2net-rfc2217.yaml DESTINATION ${doc_dir}/examples)
install(FILES ${VELMAR_PACKAGING_DIR}/velmar.desktop
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/applications)
install(FILES ${VELMAR_PACKAGING_DIR}/velmar.svg
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/scalable/apps)
# udev reads its packaged rules from /lib/udev/rules.d on Debian 12.
install(FILES ${VELMAR_PACKAGING_DIR}/60-velmar.rules DESTINATION /lib/udev/rules.d)
# The nightly backup of the lines in /etc/velmar/ports; shipped disabled (no maintainer script
# enables it): `systemctl enable --now velmar-backup.timer` switches it on.
install(FILES ${VELMAR_PACKAGING_DIR}/systemd/velmar-backup.service
  ${VELMAR_PACKAGING_DIR}/systemd/velmar-backup.timer DESTINATION /lib/systemd/system)

set(CPACK_PACKAGE_NAME velmar)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Velmar developers")
set(CPACK_PACKAGE_CONTACT "Velmar developers <service@velmar.example.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "configure fuel-dispenser controllers over RS-485")
set(CPACK_PACKAGE_DESCRIPTION
  "Velmar is the service engineer's tool for the controller inside a fuel
dispenser. It identifies the controller on the serial line (COM port, USB
serial adapter, converter of the Velmar family or a serial device server on
the network), shows and edits its configuration records, saves and restores
whole controller images and runs the service operations.
.
The package holds the window (velmar), the command-line companion for scripts
and whole-station backups (velmar-cli) and a controller simulator for training
and tests (velmar-sim).")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://velmar.example.com/")
# Run-time libraries as the binaries need them; the converter library is bound at run time by
# name, so it is only recommended.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libusb-0.1-4")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "ser2net")
set(CPACK_GENERATOR DEB)
include(CPack)
