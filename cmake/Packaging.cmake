# What the installed tree holds beyond the programs, for `cmake --install` and
# the Debian packages (debian/, built by scripts/package.sh): the manual
# pages and, with the GUI, its AppStream metainfo.
include(${CMAKE_SOURCE_DIR}/cmake/ManPages.cmake)
if(TARGET kavdm-gui)
  install(FILES ${CMAKE_SOURCE_DIR}/resources/kavdm-gui.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
endif()
