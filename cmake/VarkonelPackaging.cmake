# The Debian package (make package: cpack -G DEB in the build folder).
#
# Layout under /usr: the programs in bin, the encoder library and the media module in the private
# folder lib/varkonel (the loader looks there, relative to the executable, when a library is not
# beside it), the manual page of varkonel-convert compressed in share/man/man1, and the desktop
# entry and icons (installed by ui/). Dependencies are computed from the shared libraries that
# the programs, the encoder library and the media module need (dpkg-shlibdeps reads every ELF
# file of the package, so the module's FFmpeg libraries are among them).
include(GNUInstallDirs)

# The manual page, compressed the way Debian installs manual pages (gzip -9n: no name or time
# stamp, so the same page gives the same file).
set(_man_source ${PROJECT_SOURCE_DIR}/cli/varkonel-convert.1)
set(_man_gz ${CMAKE_BINARY_DIR}/man/varkonel-convert.1.gz)
add_custom_command(OUTPUT ${_man_gz}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
  COMMAND gzip -9n -c ${_man_source} > ${_man_gz}
  DEPENDS ${_man_source}
  COMMENT "Compressing the manual page of varkonel-convert"
  VERBATIM)
add_custom_target(varkonel_manpage ALL DEPENDS ${_man_gz})
install(FILES ${_man_gz} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME varkonel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Varkonel maintainers <varkonel@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "desktop audio converter for WAV, MP3, WMA and CD tracks")
set(CPACK_PACKAGE_DESCRIPTION
  "Varkonel converts WAV files to MP3, MP3 files to WAV, WMA and other compressed files to MP3\n"
  "and audio CD tracks to MP3, in a window (varkonel) or from the command line\n"
  "(varkonel-convert).")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT) # varkonel_VERSION_ARCH.deb
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Only the programs, the two libraries and their files: nothing of the test suite or benchmarks.
include(CPack)

# The package test: builds the package from this build folder into a scratch folder, unpacks
# it there and runs the programs from it. Only in the normal build: a sanitizer build's
# programs depend on the sanitizer runtime and its options, which is not what is shipped.
if(VARKONEL_BUILD_TESTS AND NOT VARKONEL_SANITIZE AND NOT VARKONEL_LIBFUZZER)
  add_test(NAME Package.UnpacksAndRuns
    COMMAND ${PROJECT_SOURCE_DIR}/tests/package/PackageTest.sh
            ${CMAKE_CPACK_COMMAND} ${CMAKE_BINARY_DIR} ${CMAKE_BINARY_DIR}/package-test)
  set_tests_properties(Package.UnpacksAndRuns PROPERTIES TIMEOUT 600)
endif()
