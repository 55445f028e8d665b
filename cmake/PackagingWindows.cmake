# The Windows zip: both programs and a short readme, built with CPack from a
# cross build (cmake/mingw-w64-x86_64.cmake) or a native one. Included from
# the top-level CMakeLists.txt on Windows builds only.
#
#   cmake --build BUILD_DIR --target package   # BUILD_DIR/tarnwell-VERSION-win64.zip

# The readme (UTF-8 with a byte order mark, CRLF) names the version.
configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/README-windows.txt.in
               ${PROJECT_BINARY_DIR}/packaging/README-windows.txt @ONLY NEWLINE_STYLE CRLF)

install(TARGETS tarnwell tarnwell-check RUNTIME DESTINATION .)
install(FILES ${PROJECT_BINARY_DIR}/packaging/README-windows.txt ${TARNWELL_LICENSE} DESTINATION .)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME tarnwell)
set(CPACK_PACKAGE_VENDOR "https://tarnwell.example")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME tarnwell-${PROJECT_VERSION}-win64)
set(CPACK_STRIP_FILES ON)
include(CPack)
