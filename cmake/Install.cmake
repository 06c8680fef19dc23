# What `cmake --install` puts under the prefix, and the Debian package CPack makes of it.
#
#   lib/quokka/                   the program folder: quokka, the tools it starts (quokka-regedit,
#                                 quokka-update) and LocalGameRes, laid out as a portable folder
#   bin/quokka                    a relative link to lib/quokka/quokka; the program finds its folder
#                                 through /proc/self/exe, which names the link's target
#   share/applications/           quokka.desktop, the menu entry
#   share/icons/hicolor/          quokka.png in every size of desktop/, and quokka.svg (scalable)
#   share/metainfo/               the AppStream description
#
# The package build (scripts/package.sh) sets CMAKE_SKIP_INSTALL_ALL_DEPENDENCY and builds only the
# targets installed here, so packaging never waits for the tests, the server or the demo.
include(GNUInstallDirs)

set(QUOKKA_PROGRAM_DIR lib/quokka)

install(TARGETS quokka quokka-regedit quokka-update RUNTIME DESTINATION ${QUOKKA_PROGRAM_DIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/res/LocalGameRes DESTINATION ${QUOKKA_PROGRAM_DIR})

file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/install-links)
file(CREATE_LINK ../${QUOKKA_PROGRAM_DIR}/quokka ${CMAKE_BINARY_DIR}/install-links/quokka SYMBOLIC)
install(FILES ${CMAKE_BINARY_DIR}/install-links/quokka DESTINATION ${CMAKE_INSTALL_BINDIR})

install(FILES ${PROJECT_SOURCE_DIR}/desktop/quokka.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/desktop/io.github.quokka.Quokka.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${PROJECT_SOURCE_DIR}/desktop/quokka.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(size ${QUOKKA_ICON_SIZES})
    install(FILES ${QUOKKA_ICON_DIR}/${size}x${size}/apps/quokka.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()

# The Debian package. Its version is the program's own (QUOKKA_VERSION), its library dependencies
# come from dpkg-shlibdeps; what the program starts or loads by name is listed by hand.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quokka)
set(CPACK_PACKAGE_VERSION ${QUOKKA_VERSION})
set(CPACK_PACKAGE_VENDOR "Quokka developers")
set(CPACK_PACKAGE_CONTACT "Quokka developers <quokka@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "desktop game hall with emulators")
set(CPACK_PACKAGE_DESCRIPTION
    "Quokka browses an online catalogue of console, handheld and arcade games, downloads them, keeps them in a local library and plays them in emulators that it installs and configures.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION games)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Chinese text needs the CJK font; the folder picker's Chinese and the desktop's opener (a game's
# folder, the project's site) are welcome but not needed to run.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-noto-cjk")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n, xdg-utils")
set(CPACK_STRIP_FILES ON)
include(CPack)
