# The Debian package (make package: cpack -G DEB in the build folder).
#
# Layout under /usr: the programs in bin, the encoder library and the media module in the private
# folder VARKONEL_PRIVATE_LIBDIR, lib/x86_64-linux-gnu/varkonel (the loader looks there, relative
# to the executable, when a library is not beside it), the manual pages of both programs
# compressed in share/man/man1, the copyright file and the Debian changelog in
# share/doc/varkonel, the AppStream metainfo in share/metainfo, and the desktop entry and icons
# (installed by ui/). Dependencies are computed from the shared libraries that the programs, the
# encoder library and the media module need (dpkg-shlibdeps reads every ELF file of the package,
# so the module's FFmpeg libraries are among them).
include(GNUInstallDirs)

# Who the package names as its maintainer (and signs its changelog). A package handed to others
# sets it: -DVARKONEL_PACKAGE_MAINTAINER="Name <address>". A local build takes the builder's
# Debian identity (DEBFULLNAME and DEBEMAIL, as dch does), else the git identity of the sources.
if(NOT VARKONEL_PACKAGE_MAINTAINER)
  set(_maintainer "Varkonel maintainers <varkonel@example.org>")
  if(DEFINED ENV{DEBFULLNAME} AND DEFINED ENV{DEBEMAIL})
    set(_maintainer "$ENV{DEBFULLNAME} <$ENV{DEBEMAIL}>")
  else()
    find_program(_git git)
    if(_git)
      execute_process(COMMAND ${_git} config user.name WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
        OUTPUT_VARIABLE _git_name OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
      execute_process(COMMAND ${_git} config user.email WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
        OUTPUT_VARIABLE _git_email OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
      if(_git_name AND _git_email)
        set(_maintainer "${_git_name} <${_git_email}>")
      endif()
    endif()
  endif()
  set(VARKONEL_PACKAGE_MAINTAINER "${_maintainer}" CACHE STRING
    "Maintainer of the Debian package, as Name <address>")
endif()
# The Debian revision of this version's package: the package is VERSION-REVISION.
set(VARKONEL_PACKAGE_REVISION 1 CACHE STRING "Debian revision of the package")
set(VARKONEL_SCREENSHOT_URL "https://varkonel.example.org/screenshots/main-window.png" CACHE STRING
  "Address of the main window's screenshot that software centres show")

# The release's date, for the changelog and the metainfo: the build's time, or SOURCE_DATE_EPOCH
# when it is set, so that a reproducible build gives the same files.
string(TIMESTAMP VARKONEL_RELEASE_DATE "%Y-%m-%d" UTC)
string(TIMESTAMP _changelog_date "%a, %d %b %Y %H:%M:%S +0000" UTC)

# Files compressed the way Debian installs manual pages and changelogs (gzip -9n: no name or time
# stamp, so the same text gives the same file).
function(varkonel_gzip_install source name destination)
  set(_gz ${CMAKE_BINARY_DIR}/package/${name}.gz)
  add_custom_command(OUTPUT ${_gz}
    COMMAND gzip -9n -c ${source} > ${_gz}
    DEPENDS ${source}
    COMMENT "Compressing ${name}"
    VERBATIM)
  add_custom_target(varkonel_package_${name} ALL DEPENDS ${_gz})
  install(FILES ${_gz} DESTINATION ${destination})
endfunction()

# The manual pages, with the project's version in their title lines.
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
foreach(_page cli/varkonel-convert ui/varkonel)
  get_filename_component(_name ${_page} NAME)
  if(EXISTS ${PROJECT_SOURCE_DIR}/${_page}.1.in)
    configure_file(${PROJECT_SOURCE_DIR}/${_page}.1.in ${CMAKE_BINARY_DIR}/package/${_name}.1 @ONLY)
    varkonel_gzip_install(${CMAKE_BINARY_DIR}/package/${_name}.1 ${_name}.1 ${CMAKE_INSTALL_MANDIR}/man1)
  endif()
endforeach()

# /usr/share/doc/varkonel: the copyright file and the Debian changelog.
install(FILES ${PROJECT_SOURCE_DIR}/package/copyright DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/varkonel)
configure_file(${PROJECT_SOURCE_DIR}/package/changelog.Debian.in ${CMAKE_BINARY_DIR}/package/changelog.Debian @ONLY)
varkonel_gzip_install(${CMAKE_BINARY_DIR}/package/changelog.Debian changelog.Debian
  ${CMAKE_INSTALL_DATADIR}/doc/varkonel)

# The AppStream metainfo, its media types those of the desktop entry.
if(EXISTS ${PROJECT_SOURCE_DIR}/ui/varkonel.metainfo.xml.in)
  file(READ ${PROJECT_SOURCE_DIR}/ui/varkonel.desktop _desktop_entry)
  string(REGEX MATCH "\nMimeType=([^\n]*)" _mime_line "${_desktop_entry}")
  set(_mime_types "${CMAKE_MATCH_1}")
  set(VARKONEL_METAINFO_MEDIATYPES "")
  foreach(_type ${_mime_types}) # the entry separates them with ';', a CMake list
    string(APPEND VARKONEL_METAINFO_MEDIATYPES "    <mediatype>${_type}</mediatype>\n")
  endforeach()
  configure_file(${PROJECT_SOURCE_DIR}/ui/varkonel.metainfo.xml.in
    ${CMAKE_BINARY_DIR}/package/org.example.varkonel.metainfo.xml @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/package/org.example.varkonel.metainfo.xml
    DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME varkonel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${VARKONEL_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "desktop audio converter for WAV, MP3, WMA and CD tracks")
# One string (a list of several would be joined with ';'), its lines at most 80 characters wide;
# CPack indents each line of the long description by one space.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "Varkonel converts WAV files to MP3, MP3 files to WAV, WMA and other compressed\n"
  "files to MP3, and audio CD tracks to MP3, in a window (varkonel) or from the\n"
  "command line (varkonel-convert).")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${VARKONEL_PACKAGE_REVISION})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT) # varkonel_VERSION-REVISION_ARCH.deb
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
            ${CMAKE_CPACK_COMMAND} ${CMAKE_BINARY_DIR} ${CMAKE_BINARY_DIR}/package-test ${VARKONEL_PRIVATE_LIBDIR})
  set_tests_properties(Package.UnpacksAndRuns PROPERTIES TIMEOUT 600)
endif()
