# Packages of the Windows program, built on Debian:
#
#   cpack -G NSIS   (in <build>)   the installer, with a Start-menu entry and
#                                  an uninstaller (Debian package nsis)
#   cpack -G ZIP    (in <build>)   the program alone, for portable use
#
# Included once from the top-level CMakeLists.txt when building for Windows.
# quorvel.exe stands alone (statically linked), so the packages hold the
# program and the one file it reads, the Japanese texts beside it; nothing
# that only Linux uses.

install(FILES "${PROJECT_SOURCE_DIR}/ui/JapZemb.ini" DESTINATION .)

set(CPACK_PACKAGE_NAME "Quorvel")
set(CPACK_PACKAGE_VENDOR "Vendrall")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Firmware update tool for BRENIX and OLMAR I devices")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_INSTALL_DIRECTORY "Quorvel")
set(CPACK_PACKAGE_FILE_NAME "quorvel-${PROJECT_VERSION}-windows-x64")
set(CPACK_GENERATOR NSIS ZIP)
set(CPACK_PACKAGE_EXECUTABLES "quorvel" "Update Routine")

set(CPACK_NSIS_PACKAGE_NAME "Quorvel ${PROJECT_VERSION}")
set(CPACK_NSIS_DISPLAY_NAME "Quorvel ${PROJECT_VERSION}")
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
set(CPACK_NSIS_MUI_ICON "${PROJECT_SOURCE_DIR}/ui/win32/icon.ico")
set(CPACK_NSIS_MUI_UNIICON "${PROJECT_SOURCE_DIR}/ui/win32/icon.ico")
set(CPACK_NSIS_INSTALLED_ICON_NAME "quorvel.exe")
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
set(CPACK_NSIS_MODIFY_PATH OFF)

# The zip unpacks into a folder of its own.
set(CPACK_ARCHIVE_COMPONENT_INSTALL OFF)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)

include(CPack)
