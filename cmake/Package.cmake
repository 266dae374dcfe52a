# The Debian package, built by CPack from the install rules (see scripts/build-package):
#   cpack -G DEB  in a Release build directory.
if(NOT UNIX OR APPLE)
    return()
endif()

# The package version comes from the newest changelog entry, so the two cannot disagree.
file(STRINGS ${PROJECT_SOURCE_DIR}/resources/debian/changelog QLUMAR_CHANGELOG_TOP LIMIT_COUNT 1)
if(NOT QLUMAR_CHANGELOG_TOP MATCHES "^${QLUMAR_PACKAGE_NAME} \\(([^-)]+)-([^)]+)\\)")
    message(FATAL_ERROR "resources/debian/changelog: cannot read the version from '${QLUMAR_CHANGELOG_TOP}'")
endif()
if(NOT CMAKE_MATCH_1 STREQUAL PROJECT_VERSION)
    message(WARNING "resources/debian/changelog names version ${CMAKE_MATCH_1}, the project is "
        "${PROJECT_VERSION}: add a changelog entry for the new version")
endif()
set(CPACK_DEBIAN_PACKAGE_VERSION ${CMAKE_MATCH_1})
set(CPACK_DEBIAN_PACKAGE_RELEASE ${CMAKE_MATCH_2})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${QLUMAR_PACKAGE_NAME})
set(CPACK_PACKAGE_VENDOR "qLumar Velkoro developers")
set(CPACK_PACKAGE_CONTACT "qLumar Velkoro developers <dev@qlumar-velkoro.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "VPN connection manager in the system tray")
set(CPACK_PACKAGE_DESCRIPTION
"qLumar Velkoro keeps VPN connection profiles, asks for the token PIN or the
PKCS#12 password when you connect, starts its bundled VPN engine for the
chosen profile and shows the engine's log. The connection state is shown in
the main window, in the tray icon, its tooltip and balloon messages.

Profiles either hold a CA certificate and a user certificate together with
the name of a key in a PKCS#11 token, or refer to a PKCS#12 file. The user
interface is in English and Polish.")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://qlumar-velkoro.example/")
set(CPACK_PACKAGE_CHECKSUM SHA256)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Runtime libraries are read off the binaries by dpkg-shlibdeps (dpkg-dev). The manager loads
# libcrypto only when it first reads a certificate (src/profiles/LazyCrypto.cpp); the engine, in
# the same package, links it, which names its package.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The token module is loaded at run time by path, so no library dependency names it.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "softhsm2")
if(EXISTS ${PROJECT_SOURCE_DIR}/service/CMakeLists.txt)
    # The engine runs a real OpenVPN through the tunnel service, which polkit authorises; the
    # maintainer scripts make the system user OpenVPN drops to.
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "openvpn, dbus, polkitd | policykit-1, adduser")
    set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/service/debian/postinst
        ${PROJECT_SOURCE_DIR}/service/debian/prerm ${PROJECT_SOURCE_DIR}/service/debian/postrm)
    set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
else()
    set(CPACK_DEBIAN_PACKAGE_SUGGESTS "openvpn")
endif()
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS ${CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS})
# Tests and benchmarks have no install rules; only the programs and their data are packaged.
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)

include(CPack)
