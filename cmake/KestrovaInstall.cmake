# The installed tree is the server's working folder: the program at the top, its data files in
# db/, modules in mods/, templates in www/ and html/, and the working folders it empties at start.
install(TARGETS server RUNTIME DESTINATION .)
if(TARGET qcli)
  install(TARGETS qcli RUNTIME DESTINATION .)
endif()
install(DIRECTORY ${PROJECT_SOURCE_DIR}/data/db/ DESTINATION db)
if(EXISTS ${PROJECT_SOURCE_DIR}/data/mods)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/data/mods/ DESTINATION mods)
endif()
install(DIRECTORY DESTINATION temp)
install(DIRECTORY DESTINATION Information)
install(DIRECTORY DESTINATION mods)
