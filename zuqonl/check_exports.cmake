# Checks what the built library shows the world: exactly the nine operations
# of zuqonl.h, and on Windows no DLL of the compiler's runtime to ship
# beside it. Run as a test:
#   cmake -DLIBRARY=<file> -DTOOL=<nm or objdump> -DFORMAT=<ELF|PE> -P check_exports.cmake
# With -DIMPORTS_ONLY=ON (PE only) it checks only that <file>, an executable
# perhaps, needs no DLL of the compiler's runtime.
set(expected
  zuqonlClose zuqonlCloseConnection zuqonlIdentify zuqonlOpen zuqonlOpenConnection
  zuqonlPrintf zuqonlRegisterCallback zuqonlSetIniPath zuqonlStringToDateTime)

if(FORMAT STREQUAL "PE")
  execute_process(COMMAND ${TOOL} -p ${LIBRARY} OUTPUT_VARIABLE dump RESULT_VARIABLE failed)
  # The name table lists one "[ n] name" per export. (Brackets would upset
  # CMake's lists: they go before the names are listed.)
  string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table\n([^\n]+\n)*" table "${dump}")
  string(REPLACE "[Ordinal/Name Pointer] Table" "" table "${table}")
  string(REGEX REPLACE "[ \t]*\\[ *[0-9]+\\] " "" table "${table}")
  string(REGEX MATCHALL "[A-Za-z_][A-Za-z0-9_@]*" entries "${table}")
  string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
  foreach(import IN LISTS imports)
    if(import MATCHES "DLL Name: lib")
      message(FATAL_ERROR "${LIBRARY} needs a runtime DLL: ${import}")
    endif()
  endforeach()
else()
  execute_process(COMMAND ${TOOL} -D --defined-only ${LIBRARY} OUTPUT_VARIABLE dump
                  RESULT_VARIABLE failed)
  string(REGEX MATCHALL "[0-9a-f]+ [TDBRV] [^\n]+" lines "${dump}")
  set(entries)
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "^[0-9a-f]+ [TDBRV] " "" name "${line}")
    list(APPEND entries ${name})
  endforeach()
endif()
if(failed)
  message(FATAL_ERROR "${TOOL} could not read ${LIBRARY}")
endif()
if(IMPORTS_ONLY)
  message(STATUS "${LIBRARY} needs only Windows' DLLs and ours")
  return()
endif()
list(SORT entries)
if(NOT entries STREQUAL expected)
  message(FATAL_ERROR "exports of ${LIBRARY}:\n  ${entries}\nexpected:\n  ${expected}")
endif()
message(STATUS "${LIBRARY} exports the nine operations")
