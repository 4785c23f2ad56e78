# Writes daxo's man page (troff) from the program's own help texts, so the
# page never disagrees with the program: `daxo --help`, then each command's
# `daxo COMMAND --help`, as the commands are listed there.
#   cmake -DDAXO=path/to/daxo -DVERSION=x.y.z -DOUTPUT=daxo.1 -P daxoman.cmake

function(daxo_help out_var)
  execute_process(COMMAND ${DAXO} ${ARGN} OUTPUT_VARIABLE text RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "daxo ${ARGN} failed (${status})")
  endif()
  # Literal text for troff: backslashes escaped, no line taken for a request.
  string(REPLACE "\\" "\\e" text "${text}")
  string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" text "${text}")
  set(${out_var} "${text}" PARENT_SCOPE)
endfunction()

execute_process(COMMAND ${DAXO} --help OUTPUT_VARIABLE usage RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "daxo --help failed (${status})")
endif()
# The command list: the lines after "Commands:" up to the first blank line.
string(FIND "${usage}" "Commands:\n" start)
if(start EQUAL -1)
  message(FATAL_ERROR "no command list in `daxo --help`")
endif()
math(EXPR start "${start} + 10")
string(SUBSTRING "${usage}" ${start} -1 listing)
string(FIND "${listing}" "\n\n" end)
string(SUBSTRING "${listing}" 0 ${end} listing)
string(REPLACE "\n" ";" lines "${listing}")
set(commands "")
foreach(line IN LISTS lines)
  string(REGEX MATCH "^  ([a-z]+) " entry "${line}")
  if(entry)
    list(APPEND commands ${CMAKE_MATCH_1})
  endif()
endforeach()
if(NOT commands)
  message(FATAL_ERROR "no commands found in `daxo --help`")
endif()

daxo_help(overview --help)
string(CONCAT page ".TH DAXO 1 \"\" \"daxo ${VERSION}\" \"User Commands\"\n"
                   ".SH NAME\ndaxo \\- correct the distortion of echo-planar MR images from a pair with opposite phase encoding\n"
                   ".SH SYNOPSIS\n.B daxo\n[global options] command [arguments]\n"
                   ".SH DESCRIPTION\n.nf\n${overview}.fi\n.SH COMMANDS\n")
foreach(name IN LISTS commands)
  daxo_help(text ${name} --help)
  string(APPEND page ".SS ${name}\n.nf\n${text}.fi\n")
endforeach()
file(WRITE ${OUTPUT} "${page}")
