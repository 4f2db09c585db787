# Install rules of the Windows tree and its installer (CPack's NSIS generator, Debian `nsis`).
#
# The tree is the Linux one (cmake/KestrovaInstall.cmake): server.exe and qcli.exe at the top,
# db\, html\, www\ (cgiloader.exe in www\cgi-bin), mods\Brivo\Brivo.dll and baylink.dll when
# those are built, the working folders. As on Linux, the installer carries the settings as
# defaults\ and copies each one only where none exists, so an upgrade keeps the administrator's.
#
#   cmake --preset windows && cmake --build --preset windows
#   cd build-windows && cpack -G NSIS          # -> Kestrova-<version>-win64.exe
#
# The installer registers and starts the service (server.exe -install, -start); the uninstaller
# removes it (server.exe -remove stops it first), the installed files and the working folders
# (temp\, Information\). The settings and the event log in db\ and mods\ stay, as the Debian
# package leaves them: a later install finds and keeps them.
include(${PROJECT_SOURCE_DIR}/cmake/KestrovaInstall.cmake)

# Baylink is a run-time file (a DLL) on Windows, which its folder's LIBRARY rule does not cover;
# the Brivo module's folder installs its DLL itself.
if(TARGET baylink)
  install(TARGETS baylink RUNTIME DESTINATION . COMPONENT Runtime)
endif()

# The event log's message file, registered below for the event source the server reports under.
if(TARGET MessageFile)
  install(TARGETS MessageFile RUNTIME DESTINATION db COMPONENT Runtime)
endif()

# The NSIS commands below hold quotes and backslashes: written to CPack as they are.
set(CPACK_VERBATIM_VARIABLES ON)
set(CPACK_GENERATOR NSIS)
set(CPACK_PACKAGE_NAME Kestrova)
set(CPACK_PACKAGE_VENDOR Kestrova)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "storage management server for RAID controller pairs and SES enclosures")
set(CPACK_PACKAGE_INSTALL_DIRECTORY Kestrova)
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY Kestrova)
set(CPACK_SYSTEM_NAME win64)
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
# A 64-bit installer, like the programs it installs (and a 64-bit Wine runs it without a 32-bit
# one). CPack's script has no place of its own for the target: it follows the compressor, before
# anything is compressed.
set(CPACK_NSIS_COMPRESSOR "lzma\n  Target amd64-unicode")
set(CPACK_NSIS_DISPLAY_NAME Kestrova)
set(CPACK_NSIS_PACKAGE_NAME Kestrova)
# An older installation is uninstalled first (its service stopped and removed, its settings kept).
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
# The programs and pages, and the settings as defaults\ (the Package component of
# KestrovaInstall.cmake); the settings in place (Settings) are the installer's copies below.
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};Kestrova;Runtime;/;${CMAKE_BINARY_DIR};Kestrova;Package;/")

set(copy_defaults "")
foreach(file IN LISTS KESTROVA_SETTINGS_FILES)
  string(REPLACE "/" "\\" file_w "${file}")
  string(APPEND copy_defaults
         "  IfFileExists '$INSTDIR\\${file_w}' +2 0\n"
         "    CopyFiles /SILENT '$INSTDIR\\defaults\\${file_w}' '$INSTDIR\\${file_w}'\n")
endforeach()
# The secrets a copy gives the folder's access list (every user may read Program Files): only
# LocalSystem (the service) and Administrators keep access, as the server's own writes do.
set(restrict_secrets "")
foreach(file db\\password.web db\\email.ini db\\snmp.ini)
  string(APPEND restrict_secrets
         "  nsExec::ExecToLog '\"$SYSDIR\\icacls.exe\" \"$INSTDIR\\${file}\" /inheritance:r /grant:r *S-1-5-18:F *S-1-5-32-544:F'\n"
         "  Pop $0\n")
endforeach()
# The event source of the "oslog" channel: the server's default software name.
set(event_source_key "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Kestrova")
set(CPACK_NSIS_EXTRA_INSTALL_COMMANDS "
  CreateDirectory '$INSTDIR\\db'
  CreateDirectory '$INSTDIR\\mods\\Brivo'
${copy_defaults}${restrict_secrets}
  WriteRegExpandStr HKLM '${event_source_key}' 'EventMessageFile' '$INSTDIR\\db\\MessageFile.dll'
  WriteRegDWORD HKLM '${event_source_key}' 'TypesSupported' 7
  ExecWait '\"$INSTDIR\\server.exe\" -install' $0
  DetailPrint 'server.exe -install: $0'
  ExecWait '\"$INSTDIR\\server.exe\" -start' $0
  DetailPrint 'server.exe -start: $0'
")
set(CPACK_NSIS_EXTRA_UNINSTALL_COMMANDS "
  ExecWait '\"$INSTDIR\\server.exe\" -remove' $0
  DetailPrint 'server.exe -remove: $0'
  DeleteRegKey HKLM '${event_source_key}'
  RMDir /r '$INSTDIR\\temp'
  RMDir /r '$INSTDIR\\Information'
")

include(CPack)
