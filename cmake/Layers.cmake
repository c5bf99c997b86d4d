# One library per folder, and the arrows between them enforced by the build.
#
# A library's sources include its own headers and those of the libraries it
# links, as "folder/File.h". The source tree itself is no include directory:
# every library gets an include root of its own under the build folder
# (layers/<library>/<folder>/<File>.h, links to the headers), which its link
# dependencies pass on. A header of a folder the library does not depend on is
# then not found, and the include fails to compile.
#
# Headers included only by other headers escape that check when no source of
# the wrong library includes them; the test layers_Includes (cmake -P
# cmake/CheckLayers.cmake) reads every #include line of every folder against
# the same table.

# kavdm_layer(<target> <folder> [<folder>...]): <target> exports the headers of
# the folders (non-recursive) through its own include root.
function(kavdm_layer target)
  set(root ${CMAKE_BINARY_DIR}/layers/${target})
  file(REMOVE_RECURSE ${root})
  foreach(folder ${ARGN})
    file(GLOB headers CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${folder}/*.h)
    file(MAKE_DIRECTORY ${root}/${folder})
    foreach(header ${headers})
      get_filename_component(name ${header} NAME)
      file(CREATE_LINK ${header} ${root}/${folder}/${name} SYMBOLIC)
    endforeach()
  endforeach()
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "EXECUTABLE")
    target_include_directories(${target} PRIVATE ${root})
  else()
    target_include_directories(${target} PUBLIC ${root})
  endif()
endfunction()
