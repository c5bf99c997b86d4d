# Reads every #include "..." line of the program's folders and fails when one
# points at a folder its own may not use (the arrows of cmake/Layers.cmake,
# headers included). Run as a test: cmake -DSOURCE_DIR=<tree> -P CheckLayers.cmake
#
# Each folder with the folders its files may include, lowest layer first.
set(allowed_serial serial)
set(allowed_protocol protocol serial)
set(allowed_image image protocol)
set(allowed_receiver receiver protocol serial)
set(allowed_ui ui image protocol serial)
set(allowed_ui/qt ui/qt ui image protocol serial)
set(allowed_app app ui/qt ui receiver image protocol serial)
set(allowed_cli cli ui receiver image protocol serial)
set(allowed_resources ui/qt)

set(failures "")
foreach(folder serial protocol image receiver ui ui/qt app cli resources)
  file(GLOB files ${SOURCE_DIR}/${folder}/*.h ${SOURCE_DIR}/${folder}/*.cpp)
  foreach(file ${files})
    file(STRINGS ${file} lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
    foreach(line ${lines})
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]*)\".*" "\\1" included "${line}")
      get_filename_component(target_folder "${included}" DIRECTORY)
      if(target_folder STREQUAL "")
        continue() # the generated Version.h, or a header beside the file
      endif()
      list(FIND allowed_${folder} "${target_folder}" index)
      if(index EQUAL -1)
        file(RELATIVE_PATH name ${SOURCE_DIR} ${file})
        string(APPEND failures "  ${name}: #include \"${included}\" (${folder}/ may use: ${allowed_${folder}})\n")
      endif()
    endforeach()
  endforeach()
endforeach()

if(failures)
  message(FATAL_ERROR "Includes against the layers:\n${failures}")
endif()
message(STATUS "Every include keeps to the layers.")
