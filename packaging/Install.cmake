# Installation as a Linux desktop program and the Debian package.
#
#   cmake --install <build>          programs, links, man pages, language file,
#                                    desktop entries, icon, metainfo, samples,
#                                    udev rules under CMAKE_INSTALL_PREFIX
#   cpack -G DEB   (in <build>)      the .deb, always laid out under /usr
#
# Included once from the top-level CMakeLists.txt. The install rules are
# added when the top-level directory is done, so that targets defined after
# the include (the demo) are seen too.
#
# Layout (packaging/InstallDirs.cmake): the programs in lib/quorvel/ beside
# their language file JapZemb.ini, which they look for next to their own
# file, and relative links to them in bin/.

include(${CMAKE_CURRENT_LIST_DIR}/InstallDirs.cmake)

set(QUORVEL_APP_ID "com.vendrall.quorvel")
set(QUORVEL_UDEV_RULES_DIR "lib/udev/rules.d" CACHE STRING
  "Where the adapters' udev rules go: relative to the install prefix, or absolute (such as /etc/udev/rules.d)")
set(QUORVEL_DEB_MAINTAINER "Vendrall <support@vendrall.example>" CACHE STRING
  "Maintainer field of the Debian package")
set(QUORVEL_PACKAGING_DIR "${CMAKE_CURRENT_LIST_DIR}")
set(QUORVEL_DOC_DIR "${CMAKE_INSTALL_DATADIR}/doc/quorvel")
# The settings file that holds the language switch (base/linux/MachineLocations.cpp).
set(QUORVEL_SETTINGS_FILE "/etc/xdg/Vendrall/Quorvel.conf")

# The changelog's latest entry must name the project's version.
file(STRINGS "${QUORVEL_PACKAGING_DIR}/debian/changelog" quorvel_changelog_head LIMIT_COUNT 1)
if(NOT quorvel_changelog_head MATCHES "^quorvel \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "packaging/debian/changelog: the latest entry is not for version ${PROJECT_VERSION}")
endif()

# gzip -9n: compressed the way Debian expects, the same bytes on every build.
function(quorvel_gzip source output)
  add_custom_command(OUTPUT "${output}"
    COMMAND gzip -9n -c "${source}" > "${output}"
    DEPENDS "${source}" VERBATIM)
endfunction()

# A program: into the programs' folder, a link to it in bin, its man page
# (packaging/man/<name>.1.in, filled with the installed paths), and in the
# build tree the language file beside it, so that it reads like an installed
# one.
function(quorvel_install_program target)
  install(TARGETS ${target} RUNTIME DESTINATION "${QUORVEL_PROGRAM_DIR}")
  # Fewer bytes and nothing a package checker flags: what Debian's own
  # packages strip.
  install(CODE "
    if(CMAKE_INSTALL_DO_STRIP)
      execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment --remove-section=.note
        \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${QUORVEL_PROGRAM_DIR}/${target}\")
    endif()")

  file(RELATIVE_PATH to_program "/${CMAKE_INSTALL_BINDIR}" "/${QUORVEL_PROGRAM_DIR}/${target}")
  set(link "${PROJECT_BINARY_DIR}/install-links/${target}")
  file(MAKE_DIRECTORY "${PROJECT_BINARY_DIR}/install-links")
  file(CREATE_LINK "${to_program}" "${link}" SYMBOLIC)
  install(FILES "${link}" DESTINATION "${CMAKE_INSTALL_BINDIR}")

  set(QUORVEL_INSTALLED_PROGRAM_DIR "${CMAKE_INSTALL_PREFIX}/${QUORVEL_PROGRAM_DIR}")
  set(QUORVEL_INSTALLED_SAMPLES_DIR "${CMAKE_INSTALL_PREFIX}/${QUORVEL_SAMPLES_DIR}")
  set(man "${PROJECT_BINARY_DIR}/man/${target}.1")
  configure_file("${QUORVEL_PACKAGING_DIR}/man/${target}.1.in" "${man}" @ONLY)
  quorvel_gzip("${man}" "${man}.gz")
  add_custom_target(${target}-man ALL DEPENDS "${man}.gz")
  install(FILES "${man}.gz" DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")

  get_target_property(built_in ${target} BINARY_DIR)
  configure_file("${PROJECT_SOURCE_DIR}/ui/JapZemb.ini" "${built_in}/JapZemb.ini" COPYONLY)
endfunction()

function(quorvel_install_desktop_files)
  # The command-line flasher and the simulator need no window.
  foreach(tool quorvel-flash quorvel-sim)
    if(TARGET ${tool})
      quorvel_install_program(${tool})
    endif()
  endforeach()
  if(NOT TARGET quorvel)
    return()  # no program without the Qt front end
  endif()
  set(dir "${QUORVEL_PACKAGING_DIR}")
  quorvel_install_program(quorvel)
  install(FILES "${PROJECT_SOURCE_DIR}/ui/JapZemb.ini" DESTINATION "${QUORVEL_PROGRAM_DIR}")
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

  # The documents a Debian package carries.
  quorvel_gzip("${dir}/debian/changelog" "${PROJECT_BINARY_DIR}/changelog.gz")
  add_custom_target(quorvel-changelog ALL DEPENDS "${PROJECT_BINARY_DIR}/changelog.gz")
  install(FILES "${PROJECT_BINARY_DIR}/changelog.gz" "${dir}/debian/copyright"
    DESTINATION "${QUORVEL_DOC_DIR}")

  if(TARGET quorvel-station)
    quorvel_install_program(quorvel-station)
    install(FILES "${dir}/${QUORVEL_APP_ID}.station.desktop"
      DESTINATION "${CMAKE_INSTALL_DATADIR}/applications")
  endif()

  if(TARGET quorvel-demo)
    quorvel_install_program(quorvel-demo)
    install(FILES "${dir}/${QUORVEL_APP_ID}.demo.desktop"
      DESTINATION "${CMAKE_INSTALL_DATADIR}/applications")
    install(DIRECTORY "${PROJECT_SOURCE_DIR}/samples/"
      DESTINATION "${QUORVEL_SAMPLES_DIR}"
      FILES_MATCHING PATTERN "*.pkc" PATTERN "*.kyc")
  endif()
endfunction()
cmake_language(DEFER DIRECTORY "${PROJECT_SOURCE_DIR}" CALL quorvel_install_desktop_files)

# The settings file with the language switch, commented out, where the
# program reads it: a configuration file of the package, kept across
# upgrades and removed on purge. Only a system-wide installation under /usr
# gets it; any other prefix would put it where the program never looks.
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  get_filename_component(settings_dir "${QUORVEL_SETTINGS_FILE}" DIRECTORY)
  get_filename_component(settings_name "${QUORVEL_SETTINGS_FILE}" NAME)
  install(FILES "${QUORVEL_PACKAGING_DIR}/Quorvel.conf" DESTINATION "${settings_dir}"
    RENAME "${settings_name}")
endif()

# The Debian package.
set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "quorvel")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_VENDOR "Vendrall")
set(CPACK_PACKAGE_CONTACT "${QUORVEL_DEB_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware updater for BRENIX and OLMAR I devices")
# No line may begin with a dot: in a package description that marks a blank
# line.
set(CPACK_PACKAGE_DESCRIPTION
  "Update Routine updates the firmware of the BRENIX and OLMAR I devices
through a USB-to-serial adapter: it shows whether the adapter and the device
answer, reads the device's software version and sends an update file to the
device (a .kyc file for BRENIX, a .pkc file for OLMAR I).
.
A udev rule gives the user logged in at the seat access to the adapter's
serial port and keeps ModemManager away from it. The texts are English, or
Japanese when the settings file selects it.
.
The demo, quorvel-demo, runs the same window against a simulated adapter
and device, with sample update files: no hardware needed.
.
quorvel-flash runs the same updates from the command line, for scripts and
production lines, on several adapters at once; quorvel-sim serves simulated
adapters and devices to try it on.
.
quorvel-station (Update Station) is the window of a production station:
a tile per adapter, large enough to read from a step back, for the operator
who swaps devices all day.")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME "DEB-DEFAULT")  # quorvel_<version>_<arch>.deb
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${QUORVEL_DEB_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION "electronics")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
# The shared libraries' packages are added by dpkg-shlibdeps; libqt6gui6
# brings the X11 platform plugin. Beyond them: the dialog font and the font
# of the Chinese texts, and udev for the rules. On a Wayland desktop Qt
# uses the Wayland plugin when it is there, else X11 through Xwayland.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-ipafont-gothic, fonts-wqy-zenhei, udev")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  "${QUORVEL_PACKAGING_DIR}/debian/postinst;${QUORVEL_PACKAGING_DIR}/debian/postrm")
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  list(APPEND CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA "${QUORVEL_PACKAGING_DIR}/debian/conffiles")
endif()
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
