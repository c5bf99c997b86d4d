cmake_policy(SET CMP0007 NEW)
# Writes a manual page with help2man from a built program's --help and
# --version, adding every subcommand's --help (found in the "Subcommands:" list
# of its parent, at any depth) and the hand-written sections of INCLUDE.
# Usage: cmake -DHELP2MAN=... -DPROGRAM=<binary> -DNAME=<name> -DSUMMARY=<one line>
#              -DVERSION=<x.y.z> -DINCLUDE=<.h2m> -DOUTPUT=<page> -P GenerateManPage.cmake

# The subcommand names a --help text lists.
function(list_subcommands help out)
  set(names "")
  string(FIND "${help}" "\nSubcommands:\n" start)
  if(NOT start EQUAL -1)
    string(SUBSTRING "${help}" ${start} -1 tail)
    string(REPLACE "\n" ";" lines "${tail}")
    list(REMOVE_AT lines 0 1)
    foreach(line IN LISTS lines)
      if(line MATCHES "^  ([a-z][-a-z0-9]*) ")
        list(APPEND names ${CMAKE_MATCH_1})
      elseif(NOT line MATCHES "^  ")
        break()
      endif()
    endforeach()
  endif()
  set(${out} ${names} PARENT_SCOPE)
endfunction()

# Text as roff: backslashes escaped, a leading dot or quote made literal.
function(as_roff text out)
  string(REPLACE "\\" "\\e" text "${text}")
  string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

set(commands "")
function(describe_subcommands prefix)
  execute_process(COMMAND ${PROGRAM} ${prefix} --help OUTPUT_VARIABLE help RESULT_VARIABLE result)
  list_subcommands("${help}" names)
  foreach(name IN LISTS names)
    set(path ${prefix} ${name})
    execute_process(COMMAND ${PROGRAM} ${path} --help OUTPUT_VARIABLE text RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
      message(FATAL_ERROR "${PROGRAM} ${path} --help failed: ${text}")
    endif()
    string(REPLACE ";" " " title "${NAME} ${path}")
    as_roff("${text}" text)
    string(APPEND commands ".SS \"${title}\"\n.nf\n${text}.fi\n")
    describe_subcommands("${path}")
  endforeach()
  set(commands "${commands}" PARENT_SCOPE)
endfunction()
describe_subcommands("")

file(READ ${INCLUDE} include)
if(commands)
  string(APPEND include "\n[COMMANDS]\n${commands}")
endif()
set(generated ${OUTPUT}.h2m)
file(WRITE ${generated} "${include}")
execute_process(COMMAND ${HELP2MAN} --no-info --no-discard-stderr --section=1 --name=${SUMMARY}
                        --version-string=${VERSION} --include=${generated} --output=${OUTPUT} ${PROGRAM}
  RESULT_VARIABLE result ERROR_VARIABLE error)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "help2man failed for ${PROGRAM}: ${error}")
endif()
