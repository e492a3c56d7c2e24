# Installing Velunor as a desktop program, and the Debian package of it (cpack -G DEB).
#
# Installed, the executables go to <prefix>/bin and everything they ship to
# <prefix>/share/velunor/, where the programs find it (see core/folder_layout.h); each user's
# settings and library go to their home folder. Built and installed in one step from the build
# folder:  cmake --build build --target package   (build/velunor_<version>_<arch>.deb)

include(GNUInstallDirs)
# Folders made by the installation are world-readable whatever the builder's umask.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(VELUNOR_APP_ID org.velunor.Velunor)
set(packaging ${PROJECT_SOURCE_DIR}/packaging)
set(compressed ${PROJECT_BINARY_DIR}/packaging)

install(TARGETS velunor velunor-cli velunor-renderer RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# What the programs read and never write. Of Config/ only the default site selection: the
# bookshelf and the last search are each user's own and start empty.
set(shared ${CMAKE_INSTALL_DATADIR}/velunor)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/data/Rule ${PROJECT_SOURCE_DIR}/data/Template
                  ${PROJECT_SOURCE_DIR}/data/Recommend
        DESTINATION ${shared})
install(FILES ${PROJECT_SOURCE_DIR}/data/Config/TargetSiteSelect.xml DESTINATION ${shared}/Config)

# The menu entry, its icon in every drawn size, and the software centre's description.
install(FILES ${packaging}/${VELUNOR_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${packaging}/${VELUNOR_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${packaging}/icon.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
        RENAME ${VELUNOR_APP_ID}.svg)
foreach(size 16 24 32 48 64 128 256 512)
  install(FILES ${packaging}/icons/${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
          RENAME ${VELUNOR_APP_ID}.png)
endforeach()
install(FILES ${packaging}/velunor-cli.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME velunor-cli)

# Manual pages and the changelog are installed compressed, without a time stamp, as Debian asks.
set(compressed_files)
foreach(page velunor velunor-cli velunor-renderer)
  list(APPEND compressed_files man/${page}.1)
endforeach()
list(APPEND compressed_files changelog)
set(compressed_outputs)
foreach(file IN LISTS compressed_files)
  add_custom_command(OUTPUT ${compressed}/${file}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${compressed}/man
    COMMAND gzip -9nc ${packaging}/${file} > ${compressed}/${file}.gz
    DEPENDS ${packaging}/${file}
    VERBATIM)
  list(APPEND compressed_outputs ${compressed}/${file}.gz)
endforeach()
add_custom_target(velunor_compressed_docs ALL DEPENDS ${compressed_outputs})
foreach(page velunor velunor-cli velunor-renderer)
  install(FILES ${compressed}/man/${page}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
install(FILES ${compressed}/changelog.gz ${packaging}/copyright
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/velunor)
install(FILES ${packaging}/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
        RENAME velunor)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velunor)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_CONTACT "The Velunor developers <velunor@velunor.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "reader for Chinese web novels (小说阅读器)")
set(CPACK_PACKAGE_DESCRIPTION
  "Velunor searches several Chinese novel sites at once for a novel's or an\n"
  "author's name and lists the hits. Opening a hit downloads the table of\n"
  "contents and every chapter into a local library of linked pages, puts the\n"
  "novel on a bookshelf and shows it in the window. Each site is described by\n"
  "one XML rule file.\n"
  "\n"
  "The package holds the desktop program, velunor-cli for terminals and\n"
  "scripts, and the rule files of a demonstration site.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION text)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://velunor.org/)
# The shared libraries the executables link are found by dpkg-shlibdeps; what Qt loads at run
# time is named here: the platform plugins and the browser's helper process.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, libqt6webenginecore6-bin")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-noto-cjk, qt6-translations-l10n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
