# The release archive an administrator deploys, built by
#   cmake --build <windows tree> --target package
# uninstall-<version>-win32.zip holds the stripped program, the README, the
# deployment notes, the licence and SHA256SUMS over all of them.
install(TARGETS uninstall RUNTIME DESTINATION .)
install(FILES README.md LICENSE DESTINATION .)
install(FILES docs/deployment.md DESTINATION docs)

# Runs after the rules above, on the files as installed (stripped), in the
# format `sha256sum -c SHA256SUMS` reads. Only this project's own files are
# summed, wherever the prefix is.
install(CODE [[
  set(uninst_root "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
  set(uninst_sums "")
  set(uninst_files ${CMAKE_INSTALL_MANIFEST_FILES})
  list(SORT uninst_files)
  foreach(uninst_file IN LISTS uninst_files)
    file(RELATIVE_PATH uninst_name "${uninst_root}" "${uninst_file}")
    if(NOT uninst_name STREQUAL "SHA256SUMS")
      file(SHA256 "${uninst_file}" uninst_sum)
      string(APPEND uninst_sums "${uninst_sum}  ${uninst_name}\n")
    endif()
  endforeach()
  message(STATUS "Writing: ${uninst_root}/SHA256SUMS")
  file(WRITE "${uninst_root}/SHA256SUMS" "${uninst_sums}")
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${uninst_root}/SHA256SUMS")
]])

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME uninstall)
set(CPACK_PACKAGE_VENDOR "The uninstall.exe authors")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Removes an installed application")
set(CPACK_PACKAGE_FILE_NAME "uninstall-${PROJECT_VERSION}-win32")
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/LICENSE")
# Whatever the build type, the package carries no symbols or debug sections.
set(CPACK_STRIP_FILES ON)
# uninstall-<version>-win32.zip.sha256 beside the archive, for the download.
set(CPACK_PACKAGE_CHECKSUM SHA256)
include(CPack)
