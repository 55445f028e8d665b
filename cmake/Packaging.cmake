# Install rules and the Debian package (CPack) for Linux and other
# freedesktop systems. Included from the top-level CMakeLists.txt on
# non-Windows builds only, after the tarnwell and tarnwell-check targets.
#
#   cmake --install BUILD_DIR --prefix /usr --strip   # or DESTDIR=... as usual
#   cpack --config BUILD_DIR/CPackConfig.cmake -G DEB -B OUT_DIR
#
# The desktop entry, the AppStream metainfo, the man pages and the Debian
# changelog (its top version must be the project's) live in packaging/;
# the icons in res/.

include(GNUInstallDirs)

set(TARNWELL_APP_ID example.tarnwell.Tarnwell)
set(_tarnwell_packaging ${PROJECT_SOURCE_DIR}/packaging)

# Programs.
install(TARGETS tarnwell-check RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET tarnwell)
  install(TARGETS tarnwell RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

  # Desktop integration: the menu entry, its icon in the hicolor theme and
  # the software-centre description.
  install(FILES ${_tarnwell_packaging}/${TARNWELL_APP_ID}.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${PROJECT_SOURCE_DIR}/res/tarnwell-32.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/32x32/apps
          RENAME tarnwell.png)
  install(FILES ${PROJECT_SOURCE_DIR}/res/tarnwell.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  install(FILES ${_tarnwell_packaging}/${TARNWELL_APP_ID}.metainfo.xml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
endif()

# Man pages and the changelog, compressed as Debian does (gzip -9n: no
# name, no time stamp) when gzip is there, plain otherwise.
set(_tarnwell_man_pages tarnwell-check.1)
if(TARGET tarnwell)
  list(APPEND _tarnwell_man_pages tarnwell.1)
endif()
find_program(TARNWELL_GZIP gzip)
set(_tarnwell_man_files)
foreach(file IN LISTS _tarnwell_man_pages ITEMS changelog)
  if(TARNWELL_GZIP)
    set(out ${CMAKE_CURRENT_BINARY_DIR}/packaging/${file}.gz)
    add_custom_command(
      OUTPUT ${out}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/packaging
      COMMAND ${TARNWELL_GZIP} -9nc ${_tarnwell_packaging}/${file} > ${out}
      DEPENDS ${_tarnwell_packaging}/${file}
      COMMENT "Compressing ${file}"
      VERBATIM)
  else()
    set(out ${_tarnwell_packaging}/${file})
  endif()
  if(file STREQUAL "changelog")
    set(_tarnwell_changelog ${out})
  else()
    list(APPEND _tarnwell_man_files ${out})
  endif()
endforeach()
add_custom_target(tarnwell_man_pages ALL DEPENDS ${_tarnwell_man_files} ${_tarnwell_changelog})
install(FILES ${_tarnwell_man_files} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# Debian keeps the license as /usr/share/doc/PACKAGE/copyright, next to the
# package's changelog.
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tarnwell
        RENAME copyright)
install(FILES ${_tarnwell_changelog} DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tarnwell)

# The Debian package.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarnwell)
set(CPACK_PACKAGE_VENDOR "The Tarnwell developers")
set(CPACK_PACKAGE_CONTACT "The Tarnwell developers <developers@tarnwell.example>")
set(CPACK_PACKAGE_HOMEPAGE_URL https://tarnwell.example)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "check whether the address of a web domain was substituted")
set(CPACK_PACKAGE_DESCRIPTION
    "Tarnwell tells whether the address the computer uses for a web domain has
been substituted by a tampered hosts file or a hijacked local name service.
It resolves the name through the computer's own resolver, the road a browser
takes, and with one DNS query of its own sent straight to the first
configured DNS server, then compares the two.

The package has the window program tarnwell (in Russian) and its console
form tarnwell-check.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The shared libraries come from dpkg-shlibdeps where it is installed
# (dpkg-dev); otherwise they are named here. Either way the window needs the
# Qt platform plugins (only recommended by libqt6gui6) and the Liberation
# fonts that stand in for the fonts its layout names.
find_program(TARNWELL_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(TARNWELL_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(_tarnwell_depends "")
else()
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
  set(_tarnwell_depends "libidn2-0, libc6, libstdc++6, libgcc-s1")
  if(TARGET tarnwell)
    set(_tarnwell_depends
        "libqt6widgets6 (>= ${Qt6_VERSION}), libqt6gui6 (>= ${Qt6_VERSION}), libqt6core6 (>= ${Qt6_VERSION}), ${_tarnwell_depends}")
  endif()
endif()
if(TARGET tarnwell)
  if(_tarnwell_depends)
    string(APPEND _tarnwell_depends ", ")
  endif()
  string(APPEND _tarnwell_depends "qt6-qpa-plugins, fonts-liberation")
endif()
set(CPACK_DEBIAN_PACKAGE_DEPENDS "${_tarnwell_depends}")

include(CPack)
