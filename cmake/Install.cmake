# Desktop integration for freedesktop systems. The programs themselves are installed by their own
# directories into ${CMAKE_INSTALL_BINDIR}, side by side, because the manager looks for its engine
# at <application dir>/../bin/.
if(NOT UNIX OR APPLE)
    return()
endif()

set(QLUMAR_PACKAGE_NAME qlumar-velkoro)
set(QLUMAR_APP_ID example.qlumar.Velkoro)
set(QLUMAR_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/${QLUMAR_PACKAGE_NAME})

# Installed directories get 0755 whatever the umask of the one who builds the package.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(QLUMAR_DESKTOP_DIR ${PROJECT_SOURCE_DIR}/resources/desktop)
install(FILES ${QLUMAR_DESKTOP_DIR}/${QLUMAR_APP_ID}.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${QLUMAR_DESKTOP_DIR}/${QLUMAR_APP_ID}.metainfo.xml
    DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
# The type of ".ovpn" files, which the desktop file opens with the manager.
install(FILES ${QLUMAR_DESKTOP_DIR}/${QLUMAR_APP_ID}.mime.xml
    DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages RENAME ${QLUMAR_APP_ID}.xml)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/resources/icons/hicolor
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)

install(FILES ${PROJECT_SOURCE_DIR}/resources/debian/copyright DESTINATION ${QLUMAR_DOC_DIR})

# Manual pages and the changelog are shipped compressed with gzip -9n: no name, no time stamp, so
# the same sources always give the same bytes.
find_program(QLUMAR_GZIP gzip)
if(NOT QLUMAR_GZIP)
    message(WARNING "gzip not found: manual pages and the changelog will not be installed")
    return()
endif()

function(qlumar_gzipped source output)
    get_filename_component(name ${output} NAME)
    string(REGEX REPLACE "\\.gz$" "" plain ${output})
    add_custom_command(OUTPUT ${output}
        COMMAND ${CMAKE_COMMAND} -E copy ${source} ${plain}
        COMMAND ${QLUMAR_GZIP} -9nf ${plain}
        DEPENDS ${source}
        COMMENT "Compressing ${name}"
        VERBATIM)
endfunction()

set(QLUMAR_GZ_DIR ${CMAKE_BINARY_DIR}/gz)
set(QLUMAR_MAN_PAGES qlumar_vpn.1)
if(EXISTS ${PROJECT_SOURCE_DIR}/engine/CMakeLists.txt)
    list(APPEND QLUMAR_MAN_PAGES qlumar_openvpn.1)
endif()
set(QLUMAR_COMPRESSED ${QLUMAR_GZ_DIR}/doc/changelog.Debian.gz)
qlumar_gzipped(${PROJECT_SOURCE_DIR}/resources/debian/changelog ${QLUMAR_GZ_DIR}/doc/changelog.Debian.gz)
foreach(page ${QLUMAR_MAN_PAGES})
    qlumar_gzipped(${PROJECT_SOURCE_DIR}/resources/man/${page} ${QLUMAR_GZ_DIR}/man/${page}.gz)
    install(FILES ${QLUMAR_GZ_DIR}/man/${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    list(APPEND QLUMAR_COMPRESSED ${QLUMAR_GZ_DIR}/man/${page}.gz)
endforeach()
add_custom_target(qlumar_compressed_docs ALL DEPENDS ${QLUMAR_COMPRESSED})

install(FILES ${QLUMAR_GZ_DIR}/doc/changelog.Debian.gz DESTINATION ${QLUMAR_DOC_DIR})
