# Installed layout: one application directory holding the executable, the page
# set and the translation, plus a launcher command, the desktop entry, the
# AppStream metadata, the manual page and the package's documentation.
include(GNUInstallDirs)
set(TAVROLIN_APP_DIR ${CMAKE_INSTALL_LIBDIR}/tavrolin)

install(TARGETS tavrolin RUNTIME DESTINATION ${TAVROLIN_APP_DIR})
install(TARGETS tavrolin_library_module LIBRARY DESTINATION ${TAVROLIN_APP_DIR})
install(DIRECTORY ${CMAKE_SOURCE_DIR}/pages/static ${CMAKE_SOURCE_DIR}/pages/local DESTINATION ${TAVROLIN_APP_DIR})
install(FILES ${CMAKE_BINARY_DIR}/static/config.js DESTINATION ${TAVROLIN_APP_DIR}/static)
install(FILES ${CMAKE_BINARY_DIR}/locale/zh_CN.qm ${CMAKE_BINARY_DIR}/locale/de.qm DESTINATION ${TAVROLIN_APP_DIR}/locale)
install(PROGRAMS ${CMAKE_SOURCE_DIR}/packaging/tavrolin.sh DESTINATION ${CMAKE_INSTALL_BINDIR} RENAME tavrolin)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/tavrolin.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/tavrolin.png DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/64x64/apps)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/invalid.tavrolin.Tavrolin.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# Debian wants the manual page and the changelog compressed, without a time
# stamp in the gzip header, so that the package is the same on every build.
find_program(TAVROLIN_GZIP gzip REQUIRED)
set(gzipped ${CMAKE_BINARY_DIR}/packaging)
add_custom_command(
  OUTPUT ${gzipped}/tavrolin.1.gz ${gzipped}/changelog.gz
  COMMAND ${CMAKE_COMMAND} -E make_directory ${gzipped}
  COMMAND ${TAVROLIN_GZIP} -9nc ${CMAKE_SOURCE_DIR}/packaging/tavrolin.1 > ${gzipped}/tavrolin.1.gz
  COMMAND ${TAVROLIN_GZIP} -9nc ${CMAKE_SOURCE_DIR}/packaging/changelog > ${gzipped}/changelog.gz
  DEPENDS ${CMAKE_SOURCE_DIR}/packaging/tavrolin.1 ${CMAKE_SOURCE_DIR}/packaging/changelog
  VERBATIM)
add_custom_target(tavrolin_package_docs ALL DEPENDS ${gzipped}/tavrolin.1.gz ${gzipped}/changelog.gz)
install(FILES ${gzipped}/tavrolin.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${gzipped}/changelog.gz ${CMAKE_SOURCE_DIR}/packaging/copyright
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tavrolin)
