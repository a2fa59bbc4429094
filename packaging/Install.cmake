# Installation as a Linux desktop program and the Debian package.
#
#   cmake --install <build>          program, desktop entries, icon, metainfo,
#                                    udev rules under CMAKE_INSTALL_PREFIX
#   cpack -G DEB   (in <build>)      the .deb, always laid out under /usr
#
# Included once from the top-level CMakeLists.txt. The install rules are
# added when the top-level directory is done, so that targets defined after
# the include (the demo) are seen too.

include(GNUInstallDirs)

set(QUORVEL_APP_ID "com.vendrall.quorvel")
set(QUORVEL_UDEV_RULES_DIR "lib/udev/rules.d" CACHE STRING
  "Where the adapters' udev rules go: relative to the install prefix, or absolute (such as /etc/udev/rules.d)")
set(QUORVEL_DEB_MAINTAINER "Vendrall <support@vendrall.example>" CACHE STRING
  "Maintainer field of the Debian package")
set(QUORVEL_PACKAGING_DIR "${CMAKE_CURRENT_LIST_DIR}")

function(quorvel_install_desktop_files)
  if(NOT TARGET quorvel)
    return()  # no program without the Qt front end
  endif()
  set(dir "${QUORVEL_PACKAGING_DIR}")
  install(FILES "${dir}/${QUORVEL_APP_ID}.desktop"
    DESTINATION "${CMAKE_INSTALL_DATADIR}/applications")
  # The one picture of the program icon is 64 x 64.
  install(FILES "${PROJECT_SOURCE_DIR}/ui/icon.png"
    DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/64x64/apps"
    RENAME "${QUORVEL_APP_ID}.png")
  install(FILES "${dir}/${QUORVEL_APP_ID}.metainfo.xml"
    DESTINATION "${CMAKE_INSTALL_DATADIR}/metainfo")
  install(FILES "${dir}/70-quorvel-adapters.rules"
    DESTINATION "${QUORVEL_UDEV_RULES_DIR}")

  if(TARGET quorvel-demo)
    install(TARGETS quorvel-demo RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
    install(FILES "${dir}/${QUORVEL_APP_ID}.demo.desktop"
      DESTINATION "${CMAKE_INSTALL_DATADIR}/applications")
    install(DIRECTORY "${PROJECT_SOURCE_DIR}/samples/"
      DESTINATION "${CMAKE_INSTALL_DATADIR}/quorvel/samples"
      FILES_MATCHING PATTERN "*.pkc" PATTERN "*.kyc")
  endif()
endfunction()
cmake_language(DEFER DIRECTORY "${PROJECT_SOURCE_DIR}" CALL quorvel_install_desktop_files)

# The Debian package.
set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "quorvel")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_VENDOR "Vendrall")
set(CPACK_PACKAGE_CONTACT "${QUORVEL_DEB_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware updater for BRENIX and OLMAR I devices")
set(CPACK_PACKAGE_DESCRIPTION
  "Update Routine updates the firmware of the BRENIX and OLMAR I devices
through a USB-to-serial adapter: it shows whether the adapter and the device
answer, reads the device's software version and sends a .kyc (BRENIX) or
.pkc (OLMAR I) update file to the device.
.
A udev rule gives the user logged in at the seat access to the adapter's
serial port and keeps ModemManager away from it.")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME "DEB-DEFAULT")  # quorvel_<version>_<arch>.deb
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${QUORVEL_DEB_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION "electronics")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
# The shared libraries' packages are added by dpkg-shlibdeps; these are what
# the program needs beyond them: the platform plugins to open a window, the
# dialog font and the font of the Chinese texts, and udev for the rules.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
  "qt6-qpa-plugins, fonts-ipafont-gothic, fonts-wqy-zenhei, udev")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  "${QUORVEL_PACKAGING_DIR}/debian/postinst;${QUORVEL_PACKAGING_DIR}/debian/postrm")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
