# The installed tree is the server's working folder: the program at the top, its data files in
# db/, modules in mods/, templates in www/ and html/, and the working folders it empties at start.
install(TARGETS server RUNTIME DESTINATION .)
if(TARGET qcli)
  install(TARGETS qcli RUNTIME DESTINATION .)
endif()
install(DIRECTORY ${PROJECT_SOURCE_DIR}/data/db/ DESTINATION db PATTERN password.web EXCLUDE)
# The password hashes are readable by the server's account only.
if(EXISTS ${PROJECT_SOURCE_DIR}/data/db/password.web)
  install(FILES ${PROJECT_SOURCE_DIR}/data/db/password.web DESTINATION db PERMISSIONS OWNER_READ OWNER_WRITE)
endif()
if(EXISTS ${PROJECT_SOURCE_DIR}/data/mods)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/data/mods/ DESTINATION mods)
endif()
# Web pages: server templates and static files in www/, module page templates in html/.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/www/ DESTINATION www)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/html/ DESTINATION html)
install(DIRECTORY DESTINATION temp)
install(DIRECTORY DESTINATION Information)
install(DIRECTORY DESTINATION mods)
