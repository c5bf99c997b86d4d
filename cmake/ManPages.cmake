# The manual pages kavdm(1) and kavdm-gui(1), written by help2man from the
# built programs' --help at build time (so they cannot drift from the
# options), with the hand-written sections of docs/man/*.h2m; installed into
# share/man/man1. Without help2man they are left out, with a note.
find_program(KAVDM_HELP2MAN help2man)
if(NOT KAVDM_HELP2MAN)
  message(STATUS "help2man not found: the manual pages are not built")
  return()
endif()

set(KAVDM_MAN_DIR ${CMAKE_BINARY_DIR}/man)
function(kavdm_man_page target summary)
  set(page ${KAVDM_MAN_DIR}/${target}.1)
  add_custom_command(
    OUTPUT ${page}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${KAVDM_MAN_DIR}
    COMMAND ${CMAKE_COMMAND} -DHELP2MAN=${KAVDM_HELP2MAN} -DPROGRAM=$<TARGET_FILE:${target}> -DNAME=${target}
            "-DSUMMARY=${summary}" -DVERSION=${PROJECT_VERSION}
            -DINCLUDE=${CMAKE_SOURCE_DIR}/docs/man/${target}.h2m -DOUTPUT=${page}
            -P ${CMAKE_SOURCE_DIR}/cmake/GenerateManPage.cmake
    DEPENDS ${target} ${CMAKE_SOURCE_DIR}/docs/man/${target}.h2m ${CMAKE_SOURCE_DIR}/cmake/GenerateManPage.cmake
    COMMENT "Writing the manual page ${target}(1)")
  add_custom_target(${target}-man ALL DEPENDS ${page})
  install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endfunction()

kavdm_man_page(kavdm "send images to a satellite receiver over a serial line and read its memory back")
if(TARGET kavdm-gui)
  kavdm_man_page(kavdm-gui "desktop download manager for satellite receivers")
endif()

# The pages name every option and subcommand of --help (the test runs when tests are built).
if(KAVDM_TESTS)
  foreach(target kavdm kavdm-gui)
    if(TARGET ${target})
      add_test(NAME man_${target}
        COMMAND ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:${target}> -DPAGE=${KAVDM_MAN_DIR}/${target}.1
                -P ${CMAKE_SOURCE_DIR}/cmake/CheckManPages.cmake)
      set_tests_properties(man_${target} PROPERTIES LABELS unit TIMEOUT 60)
    endif()
  endforeach()
endif()
