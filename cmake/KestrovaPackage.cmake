# The Debian package (CPack): the installed tree under /opt/kestrova, two systemd units (the server
# and the web front end), and maintainer scripts that create the "kestrova" system user and group,
# put the default settings in place where none exist, and set the access rights.
#
#   cmake --preset release && cmake --build --preset release
#   cd build-release && cpack -G DEB          # -> kestrova_<version>_<arch>.deb
#
# The package holds the Runtime and Package components of cmake/KestrovaInstall.cmake: programs,
# pages and texts are the package's files and are replaced on upgrade; the settings are copied
# from /opt/kestrova/defaults/ by postinst and then belong to the administrator.

set(KESTROVA_PACKAGE_PREFIX /opt/kestrova)

install(FILES ${PROJECT_SOURCE_DIR}/packaging/systemd/kestrova-server.service
              ${PROJECT_SOURCE_DIR}/packaging/systemd/kestrova-cgiloader.service
        DESTINATION /lib/systemd/system PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
        COMPONENT Package EXCLUDE_FROM_ALL)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kestrova)
set(CPACK_PACKAGE_VENDOR Kestrova)
set(CPACK_PACKAGE_CONTACT "Kestrova maintainers <maintainers@kestrova.invalid>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "storage management server for RAID controller pairs and SES enclosures")
set(CPACK_PACKAGE_DESCRIPTION
    "Kestrova watches and manages RAID controller pairs and SES disk enclosures: the server daemon, its RAID module, the web front end cgiloader, the qcli command-line client and the Baylink enclosure library.")
set(CPACK_PACKAGING_INSTALL_PREFIX ${KESTROVA_PACKAGE_PREFIX})
set(CPACK_INSTALL_PREFIX ${KESTROVA_PACKAGE_PREFIX})
# Only the package's own components: the settings come as defaults (see above).
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};Kestrova;Runtime;/;${CMAKE_BINARY_DIR};Kestrova;Package;/")
# The units live outside the prefix.
set(CPACK_SET_DESTDIR ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# groupadd/useradd for the system account; openssl hashes the generated administrator password;
# systemd runs the services.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "passwd, openssl")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "systemd")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/packaging/debian/postinst ${PROJECT_SOURCE_DIR}/packaging/debian/prerm
    ${PROJECT_SOURCE_DIR}/packaging/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
