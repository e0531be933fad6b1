# Installation layout and the Debian package.
#
#   cmake --install build --prefix /some/where   -> bin/, share/man/man1/
#   (cd build && cpack -G DEB)                    -> colour-converters_*.deb
include(GNUInstallDirs)

install(TARGETS tesvar morvane tesvarex morvanex
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# One page describes all four programs; the other names are symbolic links
# to it, installed as links.
install(FILES
          ${PROJECT_SOURCE_DIR}/man/man1/tesvar.1
          ${PROJECT_SOURCE_DIR}/man/man1/morvane.1
          ${PROJECT_SOURCE_DIR}/man/man1/tesvarex.1
          ${PROJECT_SOURCE_DIR}/man/man1/morvanex.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(CPACK_PACKAGE_NAME "colour-converters")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "convert BMP images to luma and colour differences or to hue, saturation and value")
set(CPACK_PACKAGE_DESCRIPTION
    "Four command-line converters for uncompressed BMP images with 1, 8, 24 or 32 bits per \
pixel. tesvar writes Y, Cb and Cr, morvane hue, saturation and value, into the colour \
slots of a 32-bit BMP image; tesvarex and morvanex also write each component as a \
grey-scale image.")
set(CPACK_PACKAGE_CONTACT "colour converters maintainers <maintainers@localhost>")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "graphics")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
find_program(DPKG_SHLIBDEPS dpkg-shlibdeps)
if(DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  # The programs need only the C and C++ run-time libraries.
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libgcc-s1, libstdc++6")
endif()
include(CPack)
