# Debian package of the installed layout: `cpack -G DEB` in the build directory.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tavrolin)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Tavrolin")
set(CPACK_PACKAGE_CONTACT "Tavrolin maintainers <maintainers@tavrolin.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "German listening practice: articles sentence by sentence, dictation")
set(CPACK_PACKAGE_DESCRIPTION
    "Desktop client of a German listening-practice service. It plays articles
sentence by sentence with the text highlighted, offers dictation,
fill-in-the-word practice and speaking sentences back into the microphone
compared with the original, and keeps downloaded articles for offline use.")
set(CPACK_PACKAGE_INSTALL_DIRECTORY tavrolin)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION education)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://tavrolin.invalid/")
execute_process(COMMAND dpkg --print-architecture OUTPUT_VARIABLE arch OUTPUT_STRIP_TRAILING_WHITESPACE
                ERROR_QUIET)
if(arch)
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${arch})
endif()

# Library dependencies come from the binaries themselves (dpkg-shlibdeps on the
# executable and the library module), so they follow whatever the build linked
# against; libmpv is loaded at run time, so no binary names it and it is listed
# here, as is Qt's SQLite driver, a plug-in the media library loads by name. The
# xcb platform plugin ships in libqt5gui5, which the binary links anyway. Pages fall back to DejaVu for Latin
# text and to Droid Sans Fallback for the Chinese translation.
find_program(TAVROLIN_DPKG_SHLIBDEPS dpkg-shlibdeps)
set(fonts "fonts-dejavu-core, fonts-droid-fallback")
if(TAVROLIN_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libmpv2, libqt5sql5-sqlite, ${fonts}")
else()
  # Debian 12 runtime names of what the executable links.
  set(CPACK_DEBIAN_PACKAGE_DEPENDS
      "libqt5core5a (>= 5.15), libqt5gui5 (>= 5.15), libqt5widgets5 (>= 5.15), libqt5network5 (>= 5.15), \
 libqt5printsupport5 (>= 5.15), libqt5sql5 (>= 5.15), libqt5x11extras5 (>= 5.15), libqt5sql5-sqlite, libqt5webkit5, libssl3, libmpv2, \
 libquazip1-qt5-1, libavformat59, libavcodec59, libavutil57, libswresample4, libaubio5, libebur128-1, libpulse0, \
libstdc++6, libgcc-s1, libc6, ${fonts}")
endif()

# Qt's own dialogs (files, printing) in Chinese; without it they are English.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qttranslations5-l10n")

include(CPack)
