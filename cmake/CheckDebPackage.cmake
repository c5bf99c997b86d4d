# Test: builds the Debian package from the build tree and checks what it holds
# and declares, then runs both programs from the unpacked files.
# Usage: cmake -DBINARY_DIR=<build dir> -P CheckDebPackage.cmake
set(out ${BINARY_DIR}/package-test)
file(REMOVE_RECURSE ${out})
execute_process(COMMAND cpack --config ${BINARY_DIR}/CPackConfig.cmake -G DEB -B ${out}
  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cpack failed:\n${output}")
endif()
file(GLOB debs ${out}/kavdm_*_amd64.deb)
list(LENGTH debs count)
if(NOT count EQUAL 1)
  message(FATAL_ERROR "expected one kavdm_<version>_amd64.deb in ${out}, found: ${debs}")
endif()

execute_process(COMMAND dpkg-deb -c ${debs} OUTPUT_VARIABLE listing RESULT_VARIABLE result)
foreach(path
    ./usr/bin/kavdm
    ./usr/bin/kavdm-gui
    ./usr/share/applications/kavdm-gui.desktop
    ./usr/share/icons/hicolor/256x256/apps/kavdm.png
    ./usr/share/icons/hicolor/48x48/apps/kavdm.png
    ./usr/share/kavdm/samples/demo-firmware.stb)
  string(FIND "${listing}" " ${path}\n" found)
  if(found EQUAL -1)
    message(FATAL_ERROR "the package lacks ${path}:\n${listing}")
  endif()
endforeach()

execute_process(COMMAND dpkg-deb -f ${debs} Depends OUTPUT_VARIABLE depends)
foreach(dependency libqt6widgets6 libqt6gui6 qt6-qpa-plugins fonts-liberation libc6)
  string(FIND "${depends}" "${dependency}" found)
  if(found EQUAL -1)
    message(FATAL_ERROR "the package does not depend on ${dependency}: ${depends}")
  endif()
endforeach()

# The unpacked programs run, and the GUI finds the installed samples.
execute_process(COMMAND dpkg-deb -x ${debs} ${out}/root RESULT_VARIABLE result)
execute_process(COMMAND ${out}/root/usr/bin/kavdm --version RESULT_VARIABLE result OUTPUT_VARIABLE output)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "kavdm --version failed: ${output}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen ${out}/root/usr/bin/kavdm-gui --help
  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0 OR NOT output MATCHES "--demo")
  message(FATAL_ERROR "kavdm-gui --help failed (${result}): ${output}")
endif()
file(READ ${out}/root/usr/share/applications/kavdm-gui.desktop desktop)
if(NOT desktop MATCHES "Exec=kavdm-gui" OR NOT desktop MATCHES "Icon=kavdm")
  message(FATAL_ERROR "unexpected desktop entry:\n${desktop}")
endif()
file(REMOVE_RECURSE ${out})
message(STATUS "package ${debs} holds the programs, desktop entry, icon and samples")
