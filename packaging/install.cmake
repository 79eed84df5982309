# Installed layout: one application directory holding the executable, the page
# set and the translation, plus a launcher command and the desktop entry.
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
