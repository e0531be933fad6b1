# Installation layout and the Debian package; a Windows build makes a ZIP
# instead (packaging_windows.cmake).
#
#   cmake --install build --prefix /some/where   -> bin/, share/man/man1/, share/doc/
#   (cd build && cpack -G DEB)                    -> colour-converters_*.deb
if(WIN32)
  include(${CMAKE_CURRENT_LIST_DIR}/packaging_windows.cmake)
  return()
endif()

include(GNUInstallDirs)

set(CONVERTERS_PACKAGE_CONTACT "colour converters maintainers <colour-converters@example.org>"
    CACHE STRING "Maintainer field of the Debian package and its changelog")
# Upstream version, then the revision of the Debian packaging.
set(CONVERTERS_DEB_VERSION "${PROJECT_VERSION}-1")
set(converters_doc_dir ${CMAKE_INSTALL_DATAROOTDIR}/doc/colour-converters)

install(TARGETS ${CONVERTERS_PROGRAMS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# One page describes every program, installed compressed as Debian wants
# it under the first program's name; the other names are links to it.
find_program(GZIP_PROGRAM gzip REQUIRED)
set(man_dir ${PROJECT_BINARY_DIR}/man)
add_custom_command(
  OUTPUT ${man_dir}/tesvar.1.gz
  COMMAND ${CMAKE_COMMAND} -E make_directory ${man_dir}
  COMMAND ${GZIP_PROGRAM} -9n -c ${PROJECT_SOURCE_DIR}/man/man1/tesvar.1 > ${man_dir}/tesvar.1.gz
  DEPENDS ${PROJECT_SOURCE_DIR}/man/man1/tesvar.1
  VERBATIM)
file(MAKE_DIRECTORY ${man_dir})
set(man_files ${man_dir}/tesvar.1.gz)
foreach(alias IN LISTS CONVERTERS_PROGRAMS)
  if(NOT alias STREQUAL "tesvar")
    file(CREATE_LINK tesvar.1.gz ${man_dir}/${alias}.1.gz SYMBOLIC)
    list(APPEND man_files ${man_dir}/${alias}.1.gz)
  endif()
endforeach()
add_custom_target(manual_page ALL DEPENDS ${man_dir}/tesvar.1.gz)
install(FILES ${man_files} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The licence in Debian's copyright format, and the packaging's changelog.
file(READ ${PROJECT_SOURCE_DIR}/LICENSE license_text)
string(STRIP "${license_text}" license_text)
string(REGEX REPLACE "\n\n" "\n.\n" license_text "${license_text}")
string(REGEX REPLACE "\n" "\n " license_text "${license_text}")
set(CONVERTERS_LICENSE_TEXT " ${license_text}")
set(doc_dir ${PROJECT_BINARY_DIR}/doc)
configure_file(${PROJECT_SOURCE_DIR}/cmake/debian/copyright.in ${doc_dir}/copyright @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/cmake/debian/changelog.in ${doc_dir}/changelog.Debian
               @ONLY)
add_custom_command(
  OUTPUT ${doc_dir}/changelog.Debian.gz
  COMMAND ${GZIP_PROGRAM} -9n -c ${doc_dir}/changelog.Debian > ${doc_dir}/changelog.Debian.gz
  DEPENDS ${doc_dir}/changelog.Debian
  VERBATIM)
add_custom_target(package_changelog ALL DEPENDS ${doc_dir}/changelog.Debian.gz)
install(FILES ${doc_dir}/copyright ${doc_dir}/changelog.Debian.gz DESTINATION ${converters_doc_dir})

set(CPACK_PACKAGE_NAME "colour-converters")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "BMP colour converters to Y, Cb, Cr and to hue, saturation, value")
set(CPACK_PACKAGE_DESCRIPTION
    "Four command-line converters for uncompressed BMP images with 1, 8, 24\n\
or 32 bits per pixel. tesvar writes Y, Cb and Cr, morvane hue, saturation\n\
and value, into the colour slots of a 32-bit BMP image; tesvarex and\n\
morvanex also write each component as a grey-scale image.")
set(CPACK_PACKAGE_CONTACT "${CONVERTERS_PACKAGE_CONTACT}")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "graphics")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
# The package is labelled with the architecture the programs were built for,
# named as Debian names it from the compiler's target.
set(converters_debian_architectures
    x86_64-linux-gnu=amd64 aarch64-linux-gnu=arm64 arm-linux-gnueabihf=armhf s390x-linux-gnu=s390x
    i386-linux-gnu=i386)
foreach(pair IN LISTS converters_debian_architectures)
  if(pair MATCHES "^${CMAKE_CXX_LIBRARY_ARCHITECTURE}=(.*)$")
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${CMAKE_MATCH_1})
  endif()
endforeach()
if(NOT CPACK_DEBIAN_PACKAGE_ARCHITECTURE AND CMAKE_CROSSCOMPILING)
  message(WARNING "No Debian architecture known for ${CMAKE_CXX_LIBRARY_ARCHITECTURE}: "
                  "the package is labelled with this machine's")
endif()
# dpkg-shlibdeps knows only the libraries of this machine's architecture.
find_program(DPKG_SHLIBDEPS dpkg-shlibdeps)
if(DPKG_SHLIBDEPS AND NOT CMAKE_CROSSCOMPILING)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  # The programs need only the C and C++ run-time libraries.
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libgcc-s1, libstdc++6")
endif()
# The package's files and archives carry one time, so that two builds of
# one commit make the same bytes: SOURCE_DATE_EPOCH where the builder sets
# it, else the time of the packaging's changelog entry.
set(CONVERTERS_SOURCE_DATE_EPOCH 1796731200)  # Tue, 08 Dec 2026 12:00:00 +0000
configure_file(${PROJECT_SOURCE_DIR}/cmake/cpack_options.cmake.in
               ${PROJECT_BINARY_DIR}/cpack_options.cmake @ONLY)
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/cpack_options.cmake)
include(CPack)
