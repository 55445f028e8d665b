# Install rules and two Debian packages (CPack components) for Linux and
# other freedesktop systems. Included from the top-level CMakeLists.txt on
# non-Windows builds only, after the tarnwell and tarnwell-check targets.
#
#   cmake --install BUILD_DIR                      # or --prefix, DESTDIR as usual
#   cd BUILD_DIR && cpack -G DEB                   # tarnwell-check_*.deb, tarnwell_*.deb
#
# tarnwell-check: the console checker and its man page, no Qt.
# tarnwell: the window, its desktop entry, icons, metainfo and man page;
# it depends on tarnwell-check of the same version.
# The Debian changelog's top version and the newest AppStream release must
# be the project's; the man pages take it from project() here.

include(GNUInstallDirs)

set(TARNWELL_APP_ID example.tarnwell.Tarnwell)
set(_tarnwell_src ${PROJECT_SOURCE_DIR}/packaging)
set(_tarnwell_out ${PROJECT_BINARY_DIR}/packaging)
# Directories 0755 whatever the umask of the one who installs.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(_tarnwell_components check)
set(_tarnwell_package_check tarnwell-check)
if(TARGET tarnwell)
  list(APPEND _tarnwell_components window)
  set(_tarnwell_package_window tarnwell)
endif()

# Man pages (the version filled in) and the changelog, compressed as Debian
# does (gzip -9n: no name, no time stamp). Built by the default target, and
# before the programs, so that installing right after building them works.
find_program(TARNWELL_GZIP gzip REQUIRED)
set(_tarnwell_changelog ${_tarnwell_out}/changelog.gz)
set(_tarnwell_gz_sources ${_tarnwell_src}/changelog)
foreach(component IN LISTS _tarnwell_components)
  set(page ${_tarnwell_package_${component}}.1)
  configure_file(${_tarnwell_src}/${page}.in ${_tarnwell_out}/${page} @ONLY)
  list(APPEND _tarnwell_gz_sources ${_tarnwell_out}/${page})
  set(_tarnwell_man_${component} ${_tarnwell_out}/${page}.gz)
endforeach()
set(_tarnwell_gz_files)
foreach(file IN LISTS _tarnwell_gz_sources)
  get_filename_component(name ${file} NAME)
  add_custom_command(
    OUTPUT ${_tarnwell_out}/${name}.gz
    COMMAND ${TARNWELL_GZIP} -9nc ${file} > ${_tarnwell_out}/${name}.gz
    DEPENDS ${file}
    COMMENT "Compressing ${name}"
    VERBATIM)
  list(APPEND _tarnwell_gz_files ${_tarnwell_out}/${name}.gz)
endforeach()
add_custom_target(tarnwell_man_pages ALL DEPENDS ${_tarnwell_gz_files})
add_dependencies(tarnwell-check tarnwell_man_pages)

# What dh_strip removes besides the symbols: the .comment and .note
# sections (lintian: binary-has-unneeded-section). Runs on stripped
# installs only (cmake --install --strip, and CPack with CPACK_STRIP_FILES).
macro(tarnwell_strip_sections program component)
  install(CODE "if(CMAKE_INSTALL_DO_STRIP)
  execute_process(COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment --remove-section=.note
    \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/${program}\")
endif()" COMPONENT ${component})
endmacro()

foreach(component IN LISTS _tarnwell_components)
  set(package ${_tarnwell_package_${component}})
  install(TARGETS ${package} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT ${component})
  tarnwell_strip_sections(${package} ${component})
  install(FILES ${_tarnwell_man_${component}}
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${component})
  # Each package has the license as /usr/share/doc/PACKAGE/copyright and
  # the changelog next to it.
  install(FILES ${TARNWELL_LICENSE} DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package}
          RENAME copyright COMPONENT ${component})
  install(FILES ${_tarnwell_changelog} DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package}
          COMPONENT ${component})
endforeach()
# The monitoring example that the end-to-end suite runs in Nagios.
install(FILES ${PROJECT_SOURCE_DIR}/docs/nagios-tarnwell.cfg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tarnwell-check/examples COMPONENT check)

if(TARGET tarnwell)
  # Desktop integration: the menu entry, its icon in the hicolor theme and
  # the software-centre description.
  install(FILES ${_tarnwell_src}/${TARNWELL_APP_ID}.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT window)
  install(FILES ${PROJECT_SOURCE_DIR}/res/tarnwell-32.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/32x32/apps
          RENAME tarnwell.png COMPONENT window)
  install(FILES ${PROJECT_SOURCE_DIR}/res/tarnwell.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT window)
  install(FILES ${_tarnwell_src}/${TARNWELL_APP_ID}.metainfo.xml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo COMPONENT window)
endif()

# The Debian packages: one per component, from one source.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarnwell)
set(CPACK_PACKAGE_VENDOR "The Tarnwell developers")
set(CPACK_PACKAGE_CONTACT "The Tarnwell developers <developers@tarnwell.example>")
set(CPACK_PACKAGE_HOMEPAGE_URL https://tarnwell.example)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_COMPONENTS_ALL ${_tarnwell_components})
set(CPACK_DEB_COMPONENT_INSTALL ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SOURCE tarnwell)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_CHECK_PACKAGE_NAME tarnwell-check)
set(CPACK_DEBIAN_WINDOW_PACKAGE_NAME tarnwell)

# The description: the first line is the summary.
set(_tarnwell_about
    "Tarnwell tells whether the address the computer uses for a web domain has
been substituted by a tampered hosts file or a hijacked local name service.
It resolves the name through the computer's own resolver, the road a browser
takes, and with one DNS query of its own sent straight to the first IPv4 DNS
server the computer is configured with, then compares the two.")
set(CPACK_DEBIAN_CHECK_DESCRIPTION
    "check whether the address of a web domain was substituted
${_tarnwell_about}

This package has the console checker tarnwell-check, for scripts and
terminals; the window program is in the package tarnwell.")
set(CPACK_DEBIAN_WINDOW_DESCRIPTION
    "window to check whether the address of a web domain was substituted
${_tarnwell_about}

This package has the window program tarnwell (in Russian).")

# The shared libraries come from dpkg-shlibdeps where it is installed
# (dpkg-dev); otherwise they are named here. The window also needs the Qt
# platform plugins (only recommended by libqt6gui6), the Liberation fonts
# that stand in for the fonts its layout names, and the console checker's
# package of the same version (one source, one version).
find_program(TARNWELL_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(TARNWELL_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # libcurl is loaded at run time, where dpkg-shlibdeps cannot see it.
  set(CPACK_DEBIAN_CHECK_PACKAGE_DEPENDS "libcurl4")
  set(_tarnwell_qt_depends "")
else()
  set(CPACK_DEBIAN_CHECK_PACKAGE_DEPENDS "libidn2-0, libssl3, libcurl4, libglib2.0-0, libc6, libstdc++6, libgcc-s1")
  set(_tarnwell_qt_depends
      "libqt6widgets6 (>= ${Qt6_VERSION}), libqt6gui6 (>= ${Qt6_VERSION}), libqt6core6 (>= ${Qt6_VERSION}), ${CPACK_DEBIAN_CHECK_PACKAGE_DEPENDS}, ")
endif()
set(CPACK_DEBIAN_WINDOW_PACKAGE_DEPENDS
    "${_tarnwell_qt_depends}tarnwell-check (= ${PROJECT_VERSION}), qt6-qpa-plugins, fonts-liberation")

include(CPack)
