# Packages of the Windows program, built on Debian:
#
#   cpack -G NSIS   (in <build>)   the installer, with a Start-menu entry, a
#                                  choice to put the programs' folder on the
#                                  PATH, and an uninstaller (Debian package
#                                  nsis)
#   cpack -G ZIP    (in <build>)   the programs alone, for portable use
#
# Included once from the top-level CMakeLists.txt when building for Windows,
# after the programs are defined. The programs stand alone (statically
# linked): the packages hold them and the one file they read, the Japanese
# texts, all in bin\ (the folder the installer's options page puts on the
# PATH); nothing that only Linux uses.

install(TARGETS quorvel RUNTIME DESTINATION bin)
if(TARGET quorvel-flash)
  install(TARGETS quorvel-flash RUNTIME DESTINATION bin)
endif()
install(FILES "${PROJECT_SOURCE_DIR}/ui/JapZemb.ini" DESTINATION bin)

# The values reach the installer's script as written here.
set(CPACK_VERBATIM_VARIABLES ON)

set(CPACK_PACKAGE_NAME "Quorvel")
set(CPACK_PACKAGE_VENDOR "Vendrall")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Firmware update tool for BRENIX and OLMAR I devices")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
# The installer's license page shows the package's terms, not CPack's
# placeholder.
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/packaging/debian/copyright")
set(CPACK_PACKAGE_INSTALL_DIRECTORY "Quorvel")
# The installer's registry key under Software\Vendrall (the install folder, the
# Start-menu folder) and its uninstall entry: not "Quorvel", the key of the
# language switch, which the uninstaller would otherwise take with it.
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY "Quorvel Setup")
set(CPACK_PACKAGE_FILE_NAME "quorvel-${PROJECT_VERSION}-windows-x64")
set(CPACK_GENERATOR NSIS ZIP)
# The Start-menu entry, and the desktop one when the options page asks.
set(CPACK_PACKAGE_EXECUTABLES "quorvel" "Update Routine")
set(CPACK_CREATE_DESKTOP_LINKS "quorvel")

set(CPACK_NSIS_PACKAGE_NAME "Quorvel ${PROJECT_VERSION}")
set(CPACK_NSIS_DISPLAY_NAME "Quorvel ${PROJECT_VERSION}")
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
set(CPACK_NSIS_MUI_ICON "${PROJECT_SOURCE_DIR}/ui/win32/icon.ico")
set(CPACK_NSIS_MUI_UNIICON "${PROJECT_SOURCE_DIR}/ui/win32/icon.ico")
set(CPACK_NSIS_INSTALLED_ICON_NAME "bin\\quorvel.exe")
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
# The options page: bin\ on no PATH (the default), on every user's or on the
# installing user's.
set(CPACK_NSIS_MODIFY_PATH ON)

# A silent install (/S) sees no page and so leaves the PATH alone; /PATH asks
# for bin\ on it: every user's PATH when installing for all users (as an
# administrator), else the user's own. The choice is written where the
# uninstaller reads it, so that it takes the entry out again.
set(CPACK_NSIS_DEFINES "
  !include FileFunc.nsh
  !include WordFunc.nsh
  ; The vendor's key goes too when nothing else of the vendor is in it.
  Function un.onUninstSuccess
    DeleteRegKey /ifempty SHCTX \"Software\\${CPACK_PACKAGE_VENDOR}\"
  FunctionEnd")
set(CPACK_NSIS_EXTRA_INSTALL_COMMANDS "
  ; Over an installed version, its uninstaller (run first) took bin\\ off the
  ; PATH in the registry, while this process's own PATH still has it: taken
  ; out here too, or the PATH step would count it as there and skip it.
  ReadEnvStr $R0 PATH
  \${WordReplace} \"$R0;\" \"$INSTDIR\\bin;\" \"\" \"+\" $R0
  StrCpy $R0 $R0 -1
  StrCmp $R0 \"\" quorvel_env_done
    System::Call 'kernel32::SetEnvironmentVariable(t \"PATH\", t R0)'
  quorvel_env_done:
  IfSilent 0 quorvel_path_done
  \${GetParameters} $R0
  ClearErrors
  \${GetOptions} $R0 \"/PATH\" $R1
  IfErrors quorvel_path_done
  StrCpy $DO_NOT_ADD_TO_PATH 0
  StrCmp $SV_ALLUSERS \"AllUsers\" 0 quorvel_path_user
    StrCpy $ADD_TO_PATH_ALL_USERS 1
    Goto quorvel_path_chosen
  quorvel_path_user:
    StrCpy $ADD_TO_PATH_CURRENT_USER 1
  quorvel_path_chosen:
  Push \"DoNotAddToPath\"
  Push $DO_NOT_ADD_TO_PATH
  Call ConditionalAddToRegistry
  Push \"AddToPathAllUsers\"
  Push $ADD_TO_PATH_ALL_USERS
  Call ConditionalAddToRegistry
  Push \"AddToPathCurrentUser\"
  Push $ADD_TO_PATH_CURRENT_USER
  Call ConditionalAddToRegistry
  quorvel_path_done:")

# The zip unpacks into a folder of its own (the archives' default).
set(CPACK_ARCHIVE_COMPONENT_INSTALL OFF)

include(CPack)
