# The installed tree is the server's working folder: the program at the top, its data files in
# db/, modules in mods/, templates in www/ and html/, and the working folders it empties at start.
#
# Components:
#   Runtime   programs, modules, pages, and the texts they show (string tables). Every install and
#             every package upgrade replaces them.
#   Settings  the files the programs rewrite or the administrator edits (settings, the password,
#             the module's bookmarks). `cmake --install` writes them; the Debian package does not
#             own them (an upgrade would overwrite the administrator's settings): it carries them
#             as defaults/ and its postinst copies each one only where none exists.
#   Package   (only for the package, cmake/KestrovaPackage.cmake) those defaults and the systemd
#             units.
# `cmake --install build --prefix DIR` installs Runtime and Settings; `--component Runtime` updates
# the programs of a tree and keeps its settings (scripts/demo.sh does so on its second run).

set(KESTROVA_SETTINGS_FILES
    db/server.ini db/IP.db db/email.ini db/snmp.ini db/syslog.ini db/prefs.ini db/DebugSettings.db db/conditions.db
    db/password.web mods/Brivo/BrivoSettings.ini mods/Brivo/NodePortNameList.db
    mods/Brivo/BrivoConfigurations.db mods/Brivo/Profiles.ini)

install(TARGETS server RUNTIME DESTINATION . COMPONENT Runtime)
if(TARGET qcli)
  install(TARGETS qcli RUNTIME DESTINATION . COMPONENT Runtime)
endif()

file(GLOB_RECURSE kestrova_data_files CONFIGURE_DEPENDS RELATIVE ${PROJECT_SOURCE_DIR}/data
     ${PROJECT_SOURCE_DIR}/data/*)
foreach(file IN LISTS kestrova_data_files)
  get_filename_component(folder ${file} DIRECTORY)
  # Settings, texts and logs are the owner's and the group's (the front end's account) only; the
  # secrets (password hashes, SNMP community, mail login) the owner's only: the modes the programs
  # give the files they write (common/private_file.h).
  set(mode OWNER_READ OWNER_WRITE GROUP_READ)
  if(file MATCHES "(^|/)(password\\.web|snmp\\.ini|email\\.ini)$")
    set(mode OWNER_READ OWNER_WRITE)
  endif()
  if(file IN_LIST KESTROVA_SETTINGS_FILES)
    install(FILES ${PROJECT_SOURCE_DIR}/data/${file} DESTINATION ${folder} PERMISSIONS ${mode} COMPONENT Settings)
    install(FILES ${PROJECT_SOURCE_DIR}/data/${file} DESTINATION defaults/${folder} PERMISSIONS ${mode}
            COMPONENT Package EXCLUDE_FROM_ALL)
  else()
    install(FILES ${PROJECT_SOURCE_DIR}/data/${file} DESTINATION ${folder} PERMISSIONS ${mode} COMPONENT Runtime)
  endif()
endforeach()

# Web pages: server templates and static files in www/, module page templates in html/.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/www/ DESTINATION www COMPONENT Runtime)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/html/ DESTINATION html COMPONENT Runtime)
install(DIRECTORY DESTINATION temp COMPONENT Runtime)
install(DIRECTORY DESTINATION Information COMPONENT Runtime)
install(DIRECTORY DESTINATION mods COMPONENT Runtime)
install(DIRECTORY DESTINATION db COMPONENT Runtime)
# The administrator's guide and the metrics reference beside the programs.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION doc COMPONENT Runtime FILES_MATCHING PATTERN "*.md"
        PATTERN "*.yml" PATTERN "*.json")
