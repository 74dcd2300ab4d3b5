# The Debian package: cmake --build build --target package makes mosswire_<version>_<arch>.deb
# with the program, its desktop entry, its icon in the hicolor theme and its AppStream
# metainfo, whose releases are made from the notes in docs/releases/ (make_metainfo.py
# fills the template's @RELEASES@). The package's dependencies come from the libraries the
# program links (dpkg-shlibdeps), so they follow the build machine's libraries instead of a
# hand list; it recommends a colour emoji font, without which emoji (and the page's "㉿")
# show as boxes.
find_package(Python3 REQUIRED COMPONENTS Interpreter)

set(MSW_APP_ID io.github.mosswire.Mosswire)
set(MSW_PACKAGING_DIR ${CMAKE_SOURCE_DIR}/packaging/linux)
set(MSW_ICON_SIZES 16 22 24 32 48 64 128 256 512)
set(MSW_ICON_DIR ${CMAKE_BINARY_DIR}/icons)

set(msw_icon_files)
foreach(size ${MSW_ICON_SIZES})
  list(APPEND msw_icon_files ${MSW_ICON_DIR}/${size}x${size}/apps/${MSW_APP_ID}.png)
endforeach()
add_custom_command(
  OUTPUT ${msw_icon_files}
  COMMAND Python3::Interpreter ${MSW_PACKAGING_DIR}/make_icons.py ${MSW_ICON_DIR} ${MSW_APP_ID}
          ${MSW_ICON_SIZES}
  DEPENDS ${MSW_PACKAGING_DIR}/make_icons.py
  COMMENT "Drawing the icon for the hicolor theme"
  VERBATIM)
add_custom_target(msw_icons ALL DEPENDS ${msw_icon_files})

set(MSW_METAINFO ${CMAKE_BINARY_DIR}/packaging/${MSW_APP_ID}.metainfo.xml)
file(GLOB MSW_RELEASE_NOTES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/docs/releases/v*.md)
add_custom_command(
  OUTPUT ${MSW_METAINFO}
  COMMAND Python3::Interpreter ${MSW_PACKAGING_DIR}/make_metainfo.py ${MSW_PACKAGING_DIR}/${MSW_APP_ID}.metainfo.xml.in
          ${CMAKE_SOURCE_DIR}/docs/releases ${MSW_METAINFO}
  DEPENDS ${MSW_PACKAGING_DIR}/make_metainfo.py ${MSW_PACKAGING_DIR}/${MSW_APP_ID}.metainfo.xml.in ${MSW_RELEASE_NOTES}
  COMMENT "Writing the AppStream metainfo with the releases from docs/releases"
  VERBATIM)
add_custom_target(msw_metainfo ALL DEPENDS ${MSW_METAINFO})

include(GNUInstallDirs)
install(TARGETS mosswire RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${MSW_PACKAGING_DIR}/${MSW_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${MSW_METAINFO} DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${MSW_PACKAGING_DIR}/${MSW_APP_ID}.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(size ${MSW_ICON_SIZES})
  install(FILES ${MSW_ICON_DIR}/${size}x${size}/apps/${MSW_APP_ID}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME mosswire)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The mosswire developers")
set(CPACK_PACKAGE_CONTACT "The mosswire developers <mosswire@users.noreply.github.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "private chat for small invitation-only groups")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "A desktop chat program for a small group whose members join by invitation.\n\
Messages are sealed on the sender's computer for each recipient; the relay\n\
server that passes them on cannot read them.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://github.com/mosswire/mosswire")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS fonts-noto-color-emoji)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The installed program carries no debugging symbols (a release build would not either).
set(CPACK_STRIP_FILES ON)
include(CPack)
