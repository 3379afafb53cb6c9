# The Debian package, made by CPack from the installed layout (scripts/package). Its library
# dependencies are computed from what the binaries link (dpkg-shlibdeps); Depends adds what they load
# at run time instead: Qt's X11 platform and SVG plugins, the accessibility bus, the English speech
# model, the fallback icon theme and fonts, Qt's Spanish texts.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zorvane)
set(CPACK_PACKAGE_VENDOR Quenvar)
set(CPACK_PACKAGE_CONTACT "Quenvar <zorvane@quenvar.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Pregunta sobre cualquier cosa en tu pantalla")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "Señala un elemento o una zona de la pantalla y pregunta por ella.\n\
Zorvane vive en la bandeja del sistema: agita el puntero o elige «Seleccionar en pantalla», señala un\n\
elemento de cualquier aplicación, una zona o un elemento de una página web, y la captura se envía con\n\
tu pregunta a tu propia herramienta Codex (npm: @openai/codex). La respuesta aparece junto a lo señalado.")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT) # zorvane_<version>_<arch>.deb
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
  "qt6-qpa-plugins, libqt6svg6, at-spi2-core, pocketsphinx-en-us, adwaita-icon-theme, fonts-dejavu-core")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n")
set(CPACK_STRIP_FILES ON)
# Installed with DESTDIR under the final prefix, so what is written at install time names /usr.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Packaging builds nothing itself: scripts/package builds the installed targets first.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
include(CPack)
