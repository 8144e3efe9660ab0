# SPDX-License-Identifier: GPL-2.0-or-later
# The Debian package: `cmake --build build --target package` makes stilwane_<version>_<arch>.deb with the
# system layout (OBS's own plug-in and data directories under /usr).
#
# Only the system layout with the /usr prefix makes a package that OBS can load: the library directory
# was chosen from the prefix at configure time (Debian's multiarch directory for /usr only).
if(NOT STILWANE_PLUGIN_LAYOUT STREQUAL "system" OR NOT CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  message(STATUS "No Debian package target: it needs the system layout and the /usr prefix")
  return()
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/package)
# Only the module and its data: no test or benchmark executable is ever installed.
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(STILWANE_PACKAGE_MAINTAINER "Stilwane maintainers <maintainers@example.org>"
  CACHE STRING "Maintainer field of the Debian package")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${STILWANE_PACKAGE_MAINTAINER}")
# The synopsis must not repeat the package's name (Debian policy 3.4.1); the extended description is
# the manifest's long one, wrapped to 79 columns.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "vertical second canvas for OBS Studio, streamed to YouTube")
string(REPLACE " " ";" _words "${STILWANE_LONG_DESCRIPTION}")
set(_text "")
set(_line "")
foreach(_word IN LISTS _words)
  string(LENGTH "${_line} ${_word}" _len)
  if(_line AND _len GREATER 79)
    string(APPEND _text "${_line}\n")
    set(_line "${_word}")
  elseif(_line)
    string(APPEND _line " ${_word}")
  else()
    set(_line "${_word}")
  endif()
endforeach()
string(APPEND _text "${_line}")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "${_text}")

# libobs refuses a module built against a newer libobs (major and minor version), so the libobs it was
# built against is the minimum, for the library and for the OBS that loads it. The display widget uses
# Qt's private GUI interface, which Debian versions exactly through qt6-base-private-abi.
# dpkg-shlibdeps adds the C and C++ run-times.
set(_obs_min "${libobs_VERSION_MAJOR}.${libobs_VERSION_MINOR}")
set(_qt_min "${Qt6_VERSION}")
set(CPACK_DEBIAN_PACKAGE_DEPENDS
  "obs-studio (>= ${_obs_min}), libobs0t64 (>= ${_obs_min}), libqt6core6t64 (>= ${_qt_min}), libqt6gui6 (>= ${_qt_min}), libqt6widgets6 (>= ${_qt_min}), libqt6svg6 (>= ${_qt_min}), qt6-base-private-abi (= ${Qt6_VERSION_MAJOR}.${Qt6_VERSION_MINOR}.${Qt6_VERSION_PATCH})")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The copyright file and changelog every .deb carries (a native package: changelog.gz).
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)

include(GNUInstallDirs)
set(_docdir ${CMAKE_INSTALL_DATADIR}/doc/${PROJECT_NAME})
configure_file(${PROJECT_SOURCE_DIR}/cmake/debian-copyright.in ${PROJECT_BINARY_DIR}/debian/copyright @ONLY)
string(TIMESTAMP _now "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${PROJECT_SOURCE_DIR}/cmake/debian-changelog.in ${PROJECT_BINARY_DIR}/debian/changelog @ONLY)
add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/debian/changelog.gz
  COMMAND gzip -9 -n -c ${PROJECT_BINARY_DIR}/debian/changelog > ${PROJECT_BINARY_DIR}/debian/changelog.gz
  DEPENDS ${PROJECT_BINARY_DIR}/debian/changelog VERBATIM)
add_custom_target(stilwane-debian-changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/debian/changelog.gz)
install(FILES ${PROJECT_BINARY_DIR}/debian/copyright ${PROJECT_BINARY_DIR}/debian/changelog.gz
  DESTINATION ${_docdir})

include(CPack)
