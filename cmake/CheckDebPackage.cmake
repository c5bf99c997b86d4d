# Test: builds the Debian packages with scripts/package.sh (which runs lintian
# on them when it is installed, failing on errors and warnings) and checks
# what each holds and declares: kavdm has the command line and no Qt,
# kavdm-gui the window, its desktop files and a dependency on kavdm.
# Usage: cmake -DSOURCE_DIR=<source> -DBINARY_DIR=<build dir> -P CheckDebPackage.cmake
set(out ${BINARY_DIR}/package-test)
file(REMOVE_RECURSE ${out})
execute_process(COMMAND bash ${SOURCE_DIR}/scripts/package.sh ${out}
  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "scripts/package.sh failed:\n${output}")
endif()
string(FIND "${output}" "== lintian" linted)
if(NOT linted EQUAL -1)
  message(STATUS "lintian found no errors or warnings")
endif()

function(check_package name)
  file(GLOB deb ${out}/${name}_*.deb)
  list(LENGTH deb count)
  if(NOT count EQUAL 1)
    message(FATAL_ERROR "expected one ${name}_<version>_<arch>.deb in ${out}, found: ${deb}")
  endif()
  execute_process(COMMAND dpkg-deb -c ${deb} OUTPUT_VARIABLE listing)
  foreach(path ${ARGN})
    string(FIND "${listing}" " ./${path}" found)
    if(found EQUAL -1)
      message(FATAL_ERROR "${name} lacks ${path}:\n${listing}")
    endif()
  endforeach()
  execute_process(COMMAND dpkg-deb -f ${deb} Depends OUTPUT_VARIABLE depends)
  set(${name}_deb ${deb} PARENT_SCOPE)
  set(${name}_depends "${depends}" PARENT_SCOPE)
  set(${name}_listing "${listing}" PARENT_SCOPE)
endfunction()

check_package(kavdm
  usr/bin/kavdm
  usr/share/man/man1/kavdm.1.gz
  usr/share/kavdm/samples/demo-firmware.stb
  usr/share/doc/kavdm/copyright
  usr/share/doc/kavdm/changelog.gz)
check_package(kavdm-gui
  usr/bin/kavdm-gui
  usr/share/man/man1/kavdm-gui.1.gz
  usr/share/applications/kavdm-gui.desktop
  usr/share/icons/hicolor/48x48/apps/kavdm.png
  usr/share/icons/hicolor/256x256/apps/kavdm.png
  usr/share/metainfo/org.kavronel.DownloadManager.metainfo.xml
  usr/share/mime/packages/kavdm.xml
  usr/share/doc/kavdm-gui/copyright)

if(kavdm_depends MATCHES "qt|Qt|libgl|libx")
  message(FATAL_ERROR "kavdm must not need Qt or graphics: ${kavdm_depends}")
endif()
if(kavdm_listing MATCHES "kavdm-gui")
  message(FATAL_ERROR "kavdm holds the GUI's files:\n${kavdm_listing}")
endif()
foreach(dependency "kavdm (= " libqt6widgets6 qt6-qpa-plugins fonts-liberation)
  string(FIND "${kavdm-gui_depends}" "${dependency}" found)
  if(found EQUAL -1)
    message(FATAL_ERROR "kavdm-gui does not depend on ${dependency}: ${kavdm-gui_depends}")
  endif()
endforeach()

# The unpacked programs run and report the project's version.
execute_process(COMMAND dpkg-deb -x ${kavdm_deb} ${out}/root)
execute_process(COMMAND dpkg-deb -x ${kavdm-gui_deb} ${out}/root)
execute_process(COMMAND ${out}/root/usr/bin/kavdm --version RESULT_VARIABLE result OUTPUT_VARIABLE output)
if(NOT result EQUAL 0 OR NOT output MATCHES "^kavdm ${VERSION}")
  message(FATAL_ERROR "kavdm --version said (${result}): ${output}")
endif()
execute_process(COMMAND ${out}/root/usr/bin/kavdm-gui --help RESULT_VARIABLE result OUTPUT_VARIABLE output)
if(NOT result EQUAL 0 OR NOT output MATCHES "--demo")
  message(FATAL_ERROR "kavdm-gui --help failed (${result}): ${output}")
endif()
file(REMOVE_RECURSE ${out})
message(STATUS "kavdm and kavdm-gui hold their files and declare the right dependencies")
