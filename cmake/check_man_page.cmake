# A manual page renders without a warning and names every option of its
# program's --help.
#   cmake -DMAN=man -DPAGE=NAME.1 -DPROGRAM=path -P check_man_page.cmake
if(MAN)
  execute_process(COMMAND ${MAN} --warnings -E UTF-8 -l ${PAGE}
                  OUTPUT_QUIET ERROR_VARIABLE warnings RESULT_VARIABLE failed)
  if(failed OR NOT warnings STREQUAL "")
    message(FATAL_ERROR "${PAGE}: man --warnings:\n${warnings}")
  endif()
else()
  message(STATUS "man is not installed: the page's formatting is not checked")
endif()

execute_process(COMMAND ${PROGRAM} --help OUTPUT_VARIABLE help RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${PROGRAM} --help failed: ${failed}")
endif()
file(READ ${PAGE} page)
# In roff a minus is written \-.
string(REPLACE "\\" "" page "${page}")
string(REPLACE "\n" ";" help_lines "${help}")
set(options)
foreach(line IN LISTS help_lines)
  # An option line: indented, an option first; its options end where two
  # blanks separate them from their description.
  if(line MATCHES "^ +([-/][^ ].*)$")
    string(REGEX REPLACE "  .*$" "" lead "${CMAKE_MATCH_1}")
    string(REGEX MATCHALL "(^|[ ,])[-/][-a-z?]+" found "${lead}")
    foreach(option IN LISTS found)
      string(REGEX REPLACE "^[ ,]" "" option "${option}")
      list(APPEND options ${option})
    endforeach()
  endif()
endforeach()
if(NOT options)
  message(FATAL_ERROR "${PROGRAM} --help lists no option:\n${help}")
endif()
set(missing)
foreach(option IN LISTS options)
  # The option as a word of its own: "-h" does not count inside "--help".
  string(REGEX REPLACE "([][.?*+^$()|])" "\\\\\\1" pattern "${option}")
  if(NOT page MATCHES "(^|[^-a-z])${pattern}([^-a-z]|$)")
    list(APPEND missing ${option})
  endif()
endforeach()
if(missing)
  message(FATAL_ERROR "${PAGE} does not name these options of ${PROGRAM} --help: ${missing}")
endif()
message(STATUS "${PAGE} names every option of --help: ${options}")
