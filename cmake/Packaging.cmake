# What the installed tree holds beyond the programs, for `cmake --install` and
# the Debian packages (debian/, built by scripts/package.sh): the manual
# pages and, with the GUI, its AppStream metainfo.
include(${CMAKE_SOURCE_DIR}/cmake/ManPages.cmake)
if(TARGET kavdm-gui)
  install(FILES ${CMAKE_SOURCE_DIR}/resources/org.kavronel.DownloadManager.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
endif()

# The packages' test: builds both with scripts/package.sh (lintian included)
# and checks their contents. It rebuilds everything with the packages' flags,
# so it has a label of its own: `ctest -L package`, or leave it out with -LE package.
find_program(KAVDM_DPKG_BUILDPACKAGE dpkg-buildpackage)
if(KAVDM_TESTS AND TARGET kavdm-gui AND KAVDM_DPKG_BUILDPACKAGE)
  add_test(NAME package_Debian
    COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${CMAKE_SOURCE_DIR} -DBINARY_DIR=${CMAKE_BINARY_DIR}
            -DVERSION=${PROJECT_VERSION} -P ${CMAKE_SOURCE_DIR}/cmake/CheckDebPackage.cmake)
  set_tests_properties(package_Debian PROPERTIES LABELS package TIMEOUT 1800 RUN_SERIAL ON)
endif()
