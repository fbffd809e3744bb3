# Checks what the built library shows the world: exactly the nine operations
# of zuqonl.h, and on Windows no DLL of the compiler's runtime to ship
# beside it. Run as a test:
#   cmake -DLIBRARY=<file> -DTOOL=<nm or objdump> -DFORMAT=<ELF|PE> -P check_exports.cmake
# On Windows the nine are exported by their plain names whatever the calling
# convention, as the vendor's DLL exports them. With -DCALL=<cdecl|stdcall>
# and -DIMPORT_LIBRARY=<file> (PE) it also checks that the import library
# gives a program the convention it was built for: on 32-bit x86 a stdcall
# operation is known to the compiler as zuqonlOpen@0 (bytes of arguments),
# zuqonlPrintf always plainly (it is cdecl, taking a variable argument list).
# With -DIMPORTS_ONLY=ON (PE only) it checks instead that <file>, an
# executable, needs no DLL of the compiler's runtime, is not linked against
# ZUQOnl.dll (the program loads it at run time) and, if 32-bit, is
# large-address aware.
cmake_minimum_required(VERSION 3.25)
set(expected
  zuqonlClose zuqonlCloseConnection zuqonlIdentify zuqonlOpen zuqonlOpenConnection
  zuqonlPrintf zuqonlRegisterCallback zuqonlSetIniPath zuqonlStringToDateTime)

if(FORMAT STREQUAL "PE")
  execute_process(COMMAND ${TOOL} -p ${LIBRARY} OUTPUT_VARIABLE dump RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "${TOOL} could not read ${LIBRARY}")
  endif()
  string(FIND "${dump}" "file format pei-i386" at)
  if(at EQUAL -1)
    set(x86 OFF)
  else()
    set(x86 ON)
  endif()
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
  if(IMPORTS_ONLY)
    # The program loads ZUQOnl.dll itself, from its own folder, when it
    # starts: the loader must not bind it before main.
    if(dump MATCHES "DLL Name: ZUQOnl.dll")
      message(FATAL_ERROR "${LIBRARY} is linked against ZUQOnl.dll; it must load it at run time")
    endif()
    if(x86 AND NOT dump MATCHES "Characteristics 0x[0-9a-f]+\n([^\n]+\n)*[ \t]*large address aware\n")
      message(FATAL_ERROR "${LIBRARY} is not large-address aware")
    endif()
    message(STATUS "${LIBRARY} needs only Windows' DLLs")
    return()
  endif()
  if(IMPORT_LIBRARY)
    execute_process(COMMAND ${TOOL} -t ${IMPORT_LIBRARY} OUTPUT_VARIABLE symbols
                    RESULT_VARIABLE failed)
    if(failed)
      message(FATAL_ERROR "${TOOL} could not read ${IMPORT_LIBRARY}")
    endif()
    # 32-bit x86 names C symbols with a leading underscore: __imp__zuqonlOpen.
    string(REGEX MATCHALL "__imp__?zuqonl[A-Za-z]*(@[0-9]+)?" imported "${symbols}")
    list(TRANSFORM imported REPLACE "^__imp__?" "")
    list(REMOVE_DUPLICATES imported)
    list(SORT imported)
    set(wanted)
    foreach(name IN LISTS expected)
      if(x86 AND CALL STREQUAL "stdcall" AND NOT name STREQUAL "zuqonlPrintf")
        list(APPEND wanted "${name}@[0-9]+")
      else()
        list(APPEND wanted "${name}")
      endif()
    endforeach()
    list(LENGTH imported count)
    set(mismatch OFF)
    if(NOT count EQUAL 9)
      set(mismatch ON)
    else()
      foreach(index RANGE 8)
        list(GET imported ${index} name)
        list(GET wanted ${index} pattern)
        if(NOT name MATCHES "^${pattern}$")
          set(mismatch ON)
        endif()
      endforeach()
    endif()
    if(mismatch)
      message(FATAL_ERROR "the import library of a ${CALL} ${LIBRARY} names:\n  ${imported}\n"
                          "expected:\n  ${wanted}")
    endif()
  endif()
else()
  execute_process(COMMAND ${TOOL} -D --defined-only ${LIBRARY} OUTPUT_VARIABLE dump
                  RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "${TOOL} could not read ${LIBRARY}")
  endif()
  string(REGEX MATCHALL "[0-9a-f]+ [TDBRV] [^\n]+" lines "${dump}")
  set(entries)
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "^[0-9a-f]+ [TDBRV] " "" name "${line}")
    list(APPEND entries ${name})
  endforeach()
endif()
list(SORT entries)
if(NOT entries STREQUAL expected)
  message(FATAL_ERROR "exports of ${LIBRARY}:\n  ${entries}\nexpected:\n  ${expected}")
endif()
message(STATUS "${LIBRARY} exports the nine operations (${CALL})")
