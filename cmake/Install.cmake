# Installation and the Debian package.
#
#   cmake --install <build> [--prefix /usr/local] [--strip]
#   cd <build> && cpack -G DEB
#
# Installs the command line with its manual page and bash completion, and the
# program with its manual page, its desktop entry, its icon in the hicolor theme, its AppStream
# metainfo and the file manager's service menu, all named after one
# application id, and the licence as Debian's machine-readable copyright file.
# The program's files and the package come only with the program's build.

include(GNUInstallDirs)

# The command line, its manual page and its bash completion.
if(TARGET tessera-cli)
  set_target_properties(tessera-cli PROPERTIES INSTALL_RPATH "")
  install(TARGETS tessera-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${TESSERA_CLI_MAN} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${PROJECT_SOURCE_DIR}/src/cli/tessera-cli.bash
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
          RENAME tessera-cli)
endif()

if(NOT TESSERA_BUILD_UI OR NOT TARGET tessera)
  return()
endif()

set(TESSERA_APP_ID org.tesseraproject.Tessera)
set(TESSERA_PACKAGE_MAINTAINER "Tessera developers <tessera@tesseraproject.invalid>"
    CACHE STRING "Maintainer field of the Debian package")

set(_res ${PROJECT_SOURCE_DIR}/res)

# The program links only system libraries; no run path is needed once installed.
set_target_properties(tessera PROPERTIES INSTALL_RPATH "")
install(TARGETS tessera RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${TESSERA_MAN} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

install(FILES ${_res}/${TESSERA_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${_res}/${TESSERA_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# Opening files from the file manager's context menu (KDE).
install(FILES ${PROJECT_SOURCE_DIR}/share/kio/servicemenus/${TESSERA_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/kio/servicemenus)

# The licence, in Debian's machine-readable copyright format, made from LICENSE.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/LICENSE)
file(READ ${PROJECT_SOURCE_DIR}/LICENSE _license)
string(REGEX REPLACE "^.*\n(Permission )" "\\1" _license_body "${_license}")
string(STRIP "${_license_body}" _license_body)
string(REPLACE "\n\n" "\n.\n" _license_body "${_license_body}")
string(REPLACE "\n" "\n " _license_body "${_license_body}")
file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/deb/copyright @ONLY CONTENT [=[
Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: Tessera
Upstream-Contact: @TESSERA_PACKAGE_MAINTAINER@

Files: *
Copyright: 2026 Tessera developers
License: MIT

License: MIT
 @_license_body@
]=])
install(FILES ${PROJECT_BINARY_DIR}/deb/copyright DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tessera)

foreach(size 16 32 48)
  install(FILES ${_res}/icons/tessera-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
          RENAME ${TESSERA_APP_ID}.png)
endforeach()
install(FILES ${_res}/icons/tessera.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
        RENAME ${TESSERA_APP_ID}.svg)

# --- Debian package -----------------------------------------------------------

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tessera)
set(CPACK_PACKAGE_VENDOR "Tessera developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${TESSERA_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "cut a file into byte-range pieces and join files back together")
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "Tessera is a desktop tool with one dialog window. It splits a file into"
  "part files by a plan of byte ranges: an extract, a range, pieces of a"
  "fixed size, equal pieces, a list of cut offsets, or cuts in front of every"
  "occurrence of a byte sequence or a text string. It also joins a list of"
  "files into one destination file, back to back. Copying runs in the"
  "background with a progress bar and can be aborted."
  "."
  "The package also holds tessera-cli, the same plans and jobs from the"
  "shell, with SHA-256 checksum files of the parts and PAR2 recovery sets,"
  "from which tessera-cli repair rebuilds lost or damaged parts.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${TESSERA_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The Qt libraries come from dpkg-shlibdeps; the platform plugins and Qt's
# Japanese translation are loaded at run time and the Japanese font is only
# asked for by name, so none of them shows up among the linked libraries.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# libssl3 holds libcrypto, which is loaded only when a digest is asked for
# and so is no link dependency dpkg-shlibdeps could find.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, fonts-ipafont-gothic, qt6-translations-l10n, libssl3")
# The window on a Wayland desktop without going through XWayland, and what
# loads the command line's bash completion.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland, bash-completion")

# The program creates an empty log.txt beside its executable at every start
# when it may; a root session can write to the installed program folder. The
# package takes that file with it when it goes.
set(TESSERA_DEB_LOG "${CPACK_PACKAGING_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/log.txt")
file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/deb/postrm @ONLY CONTENT [=[
#!/bin/sh
set -e
case "$1" in
  remove|purge)
    log="@TESSERA_DEB_LOG@"
    # Only the program's own file: regular, empty and owned by no package.
    if [ -f "$log" ] && [ ! -L "$log" ] && [ ! -s "$log" ] \
       && ! dpkg-query -S "$log" >/dev/null 2>&1; then
      rm -f "$log"
    fi
    ;;
esac
exit 0
]=])
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/deb/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_SOURCE_GENERATOR TGZ)
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/build[^/]*/" "/out/" "/Testing/")

include(CPack)
