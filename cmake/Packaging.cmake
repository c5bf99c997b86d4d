# The Debian package: kavdm_<version>_amd64.deb with the command line, the
# desktop application, its menu entry and icon, and the sample images.
set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "kavdm")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Kavronel")
set(CPACK_PACKAGE_CONTACT "Kavronel Download Manager maintainers <kavdm@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "Download manager for satellite receivers: send images over a serial line, read the memory back")
set(CPACK_PACKAGE_DESCRIPTION
  "Sends BIN and STB firmware and data images to a satellite receiver over a serial\n line and reads the receiver's flash and EEPROM back into a BIN file. Contains the\n desktop application kavdm-gui (with a demo on a built-in simulated receiver)\n and the command line kavdm.")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Release binaries without their debugging symbols; gzip keeps packing quick.
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE "gzip")
set(CPACK_DEBIAN_PACKAGE_SECTION "electronics")
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE "amd64")
# Libraries found by dpkg-shlibdeps, plus what is loaded at run time: Qt's
# platform plugins and the dialog font.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, fonts-liberation")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "fonts-dejavu-core")
include(CPack)
