# Included from the top-level CMakeLists.txt, whose folders CMAKE_CURRENT_SOURCE_DIR and
# CMAKE_CURRENT_BINARY_DIR stay: the version check against the changelog, the man page, the
# Debian copyright file, the install tree and the Debian package.

# --- Version, licence and changelog ------------------------------------------------------------
# The version is project()'s alone. The changelog's top entry must name it, and the man page takes
# its date from that entry rather than from the build day, so every build of a version gives the
# same page.
set(FRACTXBM_CHANGELOG ${CMAKE_CURRENT_SOURCE_DIR}/packaging/changelog)
set(FRACTXBM_LICENSE ${CMAKE_CURRENT_SOURCE_DIR}/LICENSE)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${FRACTXBM_CHANGELOG} ${FRACTXBM_LICENSE})
file(READ ${FRACTXBM_CHANGELOG} FRACTXBM_CHANGELOG_TEXT)
if(NOT FRACTXBM_CHANGELOG_TEXT MATCHES "^fractxbm \\(([^)]+)\\) ")
  message(FATAL_ERROR "packaging/changelog does not begin with an entry \"fractxbm (VERSION) ...\"")
endif()
if(NOT CMAKE_MATCH_1 STREQUAL PROJECT_VERSION)
  message(FATAL_ERROR "packaging/changelog's top entry is for version ${CMAKE_MATCH_1}, but "
                      "project() says ${PROJECT_VERSION}: add an entry for ${PROJECT_VERSION}")
endif()
# The first sign-off line is the top entry's: " -- NAME <MAIL>  Sun, 06 Dec 2026 12:00:00 +0000".
if(NOT FRACTXBM_CHANGELOG_TEXT MATCHES
   "\n -- [^\n]+>  [A-Z][a-z][a-z], ([0-9]?[0-9]) ([A-Z][a-z][a-z]) ([0-9][0-9][0-9][0-9]) ")
  message(FATAL_ERROR "packaging/changelog: the top entry has no \" -- NAME <MAIL>  DATE\" line")
endif()
set(FRACTXBM_DAY ${CMAKE_MATCH_1})
set(FRACTXBM_YEAR ${CMAKE_MATCH_3})
set(FRACTXBM_MONTHS Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
list(FIND FRACTXBM_MONTHS ${CMAKE_MATCH_2} FRACTXBM_MONTH)
if(FRACTXBM_MONTH EQUAL -1)
  message(FATAL_ERROR "packaging/changelog: unknown month ${CMAKE_MATCH_2} in the top entry")
endif()
math(EXPR FRACTXBM_MONTH "${FRACTXBM_MONTH} + 1")
string(REGEX REPLACE "^([0-9])$" "0\\1" FRACTXBM_MONTH ${FRACTXBM_MONTH})
string(REGEX REPLACE "^([0-9])$" "0\\1" FRACTXBM_DAY ${FRACTXBM_DAY})
set(FRACTXBM_DATE ${FRACTXBM_YEAR}-${FRACTXBM_MONTH}-${FRACTXBM_DAY})

# `man -l build/fractxbm.1` shows the page once the build folder is configured.
configure_file(docs/fractxbm.1.in ${CMAKE_CURRENT_BINARY_DIR}/fractxbm.1 @ONLY)

# Debian's copyright file, built from LICENSE so that the licence is written down once: the
# holder from its copyright line, and its text as an indented field, with "." for blank lines.
file(READ ${FRACTXBM_LICENSE} FRACTXBM_LICENSE_TEXT)
if(NOT FRACTXBM_LICENSE_TEXT MATCHES "\nCopyright \\(c\\) ([^\n]+)\n\n(.+)$")
  message(FATAL_ERROR "LICENSE has no \"Copyright (c) ...\" line followed by the licence text")
endif()
set(FRACTXBM_COPYRIGHT "${CMAKE_MATCH_1}")
string(STRIP "${CMAKE_MATCH_2}" FRACTXBM_LICENSE_TEXT)
string(REPLACE "\n\n" "\n.\n" FRACTXBM_LICENSE_TEXT "${FRACTXBM_LICENSE_TEXT}")
string(REPLACE "\n" "\n " FRACTXBM_LICENSE_TEXT " ${FRACTXBM_LICENSE_TEXT}")
configure_file(packaging/copyright.in ${CMAKE_CURRENT_BINARY_DIR}/packaging/copyright @ONLY)

# --- Install tree and Debian package ---------------------------------------------------------
# `cmake --install` puts bin/fractxbm, share/man/man1/fractxbm.1 and the bash completion under
# the prefix; `cpack -G DEB` in the build folder packs the program and its completion with its man
# page and changelog gzipped and its copyright file, as Debian wants.
include(GNUInstallDirs)
install(TARGETS fractxbm RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# Stripped, as in the package: the symbols are for the build folder, where they stay.
install(CODE "execute_process(COMMAND \"${CMAKE_STRIP}\"
  \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/fractxbm\"
  COMMAND_ERROR_IS_FATAL ANY)")
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/fractxbm.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
        COMPONENT man)
# Where bash-completion looks for the completion of a command by its name, on Debian too.
install(FILES packaging/completion.bash
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME fractxbm)

# The gzipped copies and the copyright file go into the package only (component deb, left out
# of a plain install).
# -n leaves the name and time out of the gzip header, so the same text gives the same bytes.
find_program(FRACTXBM_GZIP gzip REQUIRED)
set(FRACTXBM_MAN_GZ ${CMAKE_CURRENT_BINARY_DIR}/man/fractxbm.1.gz)
add_custom_command(
  OUTPUT ${FRACTXBM_MAN_GZ}
  COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_CURRENT_BINARY_DIR}/fractxbm.1
          ${CMAKE_CURRENT_BINARY_DIR}/man/fractxbm.1
  COMMAND ${FRACTXBM_GZIP} -9nf ${CMAKE_CURRENT_BINARY_DIR}/man/fractxbm.1
  DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/fractxbm.1
  COMMENT "Compressing the man page for the package"
  VERBATIM)
set(FRACTXBM_CHANGELOG_GZ ${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog.gz)
add_custom_command(
  OUTPUT ${FRACTXBM_CHANGELOG_GZ}
  COMMAND ${CMAKE_COMMAND} -E copy ${FRACTXBM_CHANGELOG}
          ${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog
  COMMAND ${FRACTXBM_GZIP} -9nf ${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog
  DEPENDS ${FRACTXBM_CHANGELOG}
  COMMENT "Compressing the changelog for the package"
  VERBATIM)
add_custom_target(fractxbm_package_gz ALL DEPENDS ${FRACTXBM_MAN_GZ} ${FRACTXBM_CHANGELOG_GZ})
install(FILES ${FRACTXBM_MAN_GZ} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT deb
        EXCLUDE_FROM_ALL)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/packaging/copyright ${FRACTXBM_CHANGELOG_GZ}
        DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT deb EXCLUDE_FROM_ALL)

set(CPACK_PACKAGE_NAME fractxbm)
set(CPACK_PACKAGE_VENDOR "fractxbm developers")
set(CPACK_PACKAGE_CONTACT "fractxbm developers <fractxbm@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "draw a Sierpinski triangle or a fern into an X11 bitmap (XBM) file")
set(CPACK_PACKAGE_DESCRIPTION
    "fractxbm draws a Sierpinski triangle (the chaos game) or Barnsley's fern
into a one-bit bitmap of the size asked for and saves it as an X11 bitmap
file (XBM), the plain-text format that X11 tools, GIMP, ImageMagick, netpbm
and C compilers read. Its messages are in French.")
set(CPACK_GENERATOR DEB)
set(CPACK_STRIP_FILES ON)
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_SOURCE_DIR}/packaging/folder-permissions.cmake)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The package takes the default component (the program) and deb, not the plain man page.
# An install rule added later with a component of its own must be listed here to be packed.
set(CPACK_INSTALL_CMAKE_PROJECTS
    "${CMAKE_CURRENT_BINARY_DIR};fractxbm;Unspecified;/"
    "${CMAKE_CURRENT_BINARY_DIR};fractxbm;deb;/")
include(CPack)
