# Installed files beyond the executables, and the Debian packages.
#
#   cmake --install build --prefix /usr/local      # install from a build
#   cpack --config build/CPackConfig.cmake         # build/quorvia-setup_<version>-1_<arch>.deb
#                                                  # build/quorvia-setup-postgresql_<version>-1_<arch>.deb
#
# Every install() rule belongs to one of two components, and each component
# becomes one package: `tool` (the programs, the embedded engine, schemas,
# manual pages) is quorvia-setup, `server` (the server engine's module) is
# quorvia-setup-postgresql. The executables (src/, tools/), the module (src/)
# and the schemas (tools/) carry their own install() rules; this file adds the
# manual pages, the copyright notices and the Debian changelogs, and
# configures CPack. The manual pages name the version in their .TH line: keep
# it in step with project(). Test programs have no install() rule and never
# reach a package. Nothing installed refers back to the source or build tree.

set(QV_PACKAGE_NAME quorvia-setup)
set(QV_SERVER_PACKAGE_NAME ${QV_PACKAGE_NAME}-postgresql)
set(QV_PACKAGE_VENDOR "Tavolent Inc.")
set(QV_PACKAGE_MAINTAINER "Tavolent Inc. <packaging@tavolent.example>"
    CACHE STRING "Maintainer field of the Debian package")
set(QV_PACKAGE_RELEASE 1 CACHE STRING "Debian revision of the package (the part after the hyphen)")

# Documentation goes to share/doc/<package>, where Debian expects the
# copyright file, unless CMAKE_INSTALL_DOCDIR was chosen explicitly.
if(CMAKE_INSTALL_DOCDIR STREQUAL "${CMAKE_INSTALL_DATAROOTDIR}/doc/${PROJECT_NAME}")
  set(QV_INSTALL_DOCDIR "${CMAKE_INSTALL_DATAROOTDIR}/doc/${QV_PACKAGE_NAME}")
else()
  set(QV_INSTALL_DOCDIR "${CMAKE_INSTALL_DOCDIR}")
endif()
set(QV_SERVER_INSTALL_DOCDIR "${CMAKE_INSTALL_DATAROOTDIR}/doc/${QV_SERVER_PACKAGE_NAME}")

# --- Manual pages -----------------------------------------------------------
# Compressed as Debian policy asks when gzip is at hand (-n: no name or time
# stamp inside, so rebuilding gives the same bytes); plain otherwise. man(1)
# reads both.
set(QV_MAN_PAGES
  ${PROJECT_SOURCE_DIR}/docs/man/qvsetup.1
  ${PROJECT_SOURCE_DIR}/docs/man/qv-mkinstall.1
  ${PROJECT_SOURCE_DIR}/docs/man/qv-restore.1)
find_program(QV_GZIP gzip)
if(QV_GZIP)
  set(man_outputs)
  foreach(page IN LISTS QV_MAN_PAGES)
    get_filename_component(name ${page} NAME)
    set(out ${PROJECT_BINARY_DIR}/man/${name}.gz)
    add_custom_command(
      OUTPUT ${out}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
      COMMAND ${CMAKE_COMMAND} -E copy ${page} ${PROJECT_BINARY_DIR}/man/${name}
      COMMAND ${QV_GZIP} -9nf ${PROJECT_BINARY_DIR}/man/${name}
      DEPENDS ${page}
      COMMENT "Compressing manual page ${name}"
      VERBATIM)
    list(APPEND man_outputs ${out})
  endforeach()
  add_custom_target(qv_man_pages ALL DEPENDS ${man_outputs})
  install(FILES ${man_outputs} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tool)
else()
  install(FILES ${QV_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tool)
endif()

# --- Copyright notice -------------------------------------------------------
# The MIT (Expat) licence, in the machine-readable form Debian uses.
string(TIMESTAMP QV_COPYRIGHT_YEAR "%Y" UTC)
file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/copyright @ONLY CONTENT
[=[Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: qvsetup
Upstream-Contact: @QV_PACKAGE_MAINTAINER@

Files: *
Copyright: @QV_COPYRIGHT_YEAR@ Tavolent Inc.
License: Expat

License: Expat
 Permission is hereby granted, free of charge, to any person obtaining a copy
 of this software and associated documentation files (the "Software"), to deal
 in the Software without restriction, including without limitation the rights
 to use, copy, modify, merge, publish, distribute, sublicense, and/or sell
 copies of the Software, and to permit persons to whom the Software is
 furnished to do so, subject to the following conditions:
 .
 The above copyright notice and this permission notice shall be included in
 all copies or substantial portions of the Software.
 .
 THE SOFTWARE IS PROVIDED "AS IS", WITHOUT WARRANTY OF ANY KIND, EXPRESS OR
 IMPLIED, INCLUDING BUT NOT LIMITED TO THE WARRANTIES OF MERCHANTABILITY,
 FITNESS FOR A PARTICULAR PURPOSE AND NONINFRINGEMENT. IN NO EVENT SHALL THE
 AUTHORS OR COPYRIGHT HOLDERS BE LIABLE FOR ANY CLAIM, DAMAGES OR OTHER
 LIABILITY, WHETHER IN AN ACTION OF CONTRACT, TORT OR OTHERWISE, ARISING FROM,
 OUT OF OR IN CONNECTION WITH THE SOFTWARE OR THE USE OR OTHER DEALINGS IN THE
 SOFTWARE.
]=])
# Each package carries the notice in its own documentation folder.
install(FILES ${PROJECT_BINARY_DIR}/copyright DESTINATION ${QV_INSTALL_DOCDIR} COMPONENT tool)
install(FILES ${PROJECT_BINARY_DIR}/copyright DESTINATION ${QV_SERVER_INSTALL_DOCDIR} COMPONENT server)

# --- Debian changelog ---------------------------------------------------------
# Each package carries it in its own documentation folder too, but only the
# packages: its install rules are left out of a plain `cmake --install`
# (EXCLUDE_FROM_ALL) and run when CPack installs one component.
if(QV_GZIP)
  string(TIMESTAMP QV_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
  set(changelog ${PROJECT_BINARY_DIR}/debian/changelog.Debian)
  file(CONFIGURE OUTPUT ${changelog} @ONLY CONTENT
"@QV_PACKAGE_NAME@ (@PROJECT_VERSION@-@QV_PACKAGE_RELEASE@) stable; urgency=medium

  * Package of qvsetup @PROJECT_VERSION@.

 -- @QV_PACKAGE_MAINTAINER@  @QV_CHANGELOG_DATE@
")
  add_custom_command(
    OUTPUT ${changelog}.gz
    COMMAND ${QV_GZIP} -9nkf ${changelog}
    DEPENDS ${changelog}
    COMMENT "Compressing the Debian changelog"
    VERBATIM)
  add_custom_target(qv_debian_changelog ALL DEPENDS ${changelog}.gz)
  install(FILES ${changelog}.gz DESTINATION ${QV_INSTALL_DOCDIR} COMPONENT tool EXCLUDE_FROM_ALL)
  install(FILES ${changelog}.gz DESTINATION ${QV_SERVER_INSTALL_DOCDIR} COMPONENT server EXCLUDE_FROM_ALL)
endif()

# --- CPack: the Debian packages ----------------------------------------------
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${QV_PACKAGE_NAME})
set(CPACK_PACKAGE_VENDOR ${QV_PACKAGE_VENDOR})
set(CPACK_PACKAGE_CONTACT ${QV_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "post-installation setup of the Quorvia groupware server")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR})

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # <name>_<version>-<release>_<arch>.deb
set(CPACK_DEBIAN_PACKAGE_RELEASE ${QV_PACKAGE_RELEASE})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${QV_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The architecture is left to CPack, which asks dpkg --print-architecture.
# Each package's description starts with its own synopsis line; the summary
# above serves the other generators (cpack-config.cmake keeps the DEB
# generator from putting it in front of both).
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"${CPACK_PACKAGE_DESCRIPTION_SUMMARY}
qvsetup finishes the installation or upgrade of a Quorvia groupware
server: it writes the installation's settings from the registry file into
the main and the security database, can back up both database files first,
can fill every still-empty groupware area with English or Japanese sample
data, and brings an older database schema up to date in place.
.
The databases are reached through the data sources qv_main and qv_security
of an odbc.ini file: database files served by the embedded SQLite engine,
or databases on a PostgreSQL server, reached through the server engine of
the package quorvia-setup-postgresql (install it as well for those).
qv-mkinstall lays out a complete installation in a folder (the databases as
files there or on a server), for trying the setup out or testing it.
.
This package does not run the setup itself: the groupware server's package
starts qvsetup from its maintainer scripts.")

# Two packages, as unixODBC's drivers come in packages of their own: the tool
# (qvsetup, qv-mkinstall, the embedded engine on database files) and its
# server engine (the module that qvsetup loads for a data source on a
# PostgreSQL server). A run on files neither needs nor maps libpq.
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL tool server)
set(CPACK_DEBIAN_TOOL_PACKAGE_NAME ${QV_PACKAGE_NAME})
set(CPACK_DEBIAN_SERVER_PACKAGE_NAME ${QV_SERVER_PACKAGE_NAME})
set(CPACK_DEBIAN_TOOL_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_SERVER_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_TOOL_DESCRIPTION "${CPACK_DEBIAN_PACKAGE_DESCRIPTION}")
set(CPACK_DEBIAN_SERVER_DESCRIPTION
"server engine of qvsetup: databases on a PostgreSQL server
The module through which qvsetup and qv-mkinstall reach databases on a
PostgreSQL server (data sources with a PostgreSQL driver), through libpq.
pg_dump makes the backup (/b) of such databases, pg_restore restores it.
.
Install it beside quorvia-setup where the databases of the groupware
server are kept on a PostgreSQL server; installations on database files
do not need it.")
# The embedded engine needs SQLite 3.39 or later (RIGHT JOIN in the server's
# views); the time zone rules come from tzdata. The server engine needs
# libpq, and pg_dump for backups; it is built for this very version of the
# tool. With dpkg-shlibdeps at hand the C and C++ run-time libraries are added
# from each package's own binaries (libpq only to the server engine's: the
# programs do not link it).
set(CPACK_DEBIAN_TOOL_PACKAGE_DEPENDS "libsqlite3-0 (>= 3.39), tzdata")
set(CPACK_DEBIAN_TOOL_PACKAGE_SUGGESTS "${QV_SERVER_PACKAGE_NAME}")
set(CPACK_DEBIAN_SERVER_PACKAGE_DEPENDS
    "${QV_PACKAGE_NAME} (= ${PROJECT_VERSION}-${QV_PACKAGE_RELEASE}), libpq5, postgresql-client")
set(CPACK_DEBIAN_SERVER_PACKAGE_SECTION admin)
find_program(QV_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(QV_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  message(STATUS "dpkg-shlibdeps not found: the packages will depend only on the listed packages")
endif()
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# Read by cpack before it builds the packages.
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/cpack-config.cmake)

# Source archives (cpack --config CPackSourceConfig.cmake) leave out builds
# and version-control data.
set(CPACK_SOURCE_GENERATOR TGZ)
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/build[^/]*/" "/demo/")

include(CPack)
