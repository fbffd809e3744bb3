# Writes the import library of a 32-bit ZUQOnl.dll whose operations are
# __stdcall. The DLL is linked with --kill-at, so it exports plain names
# (zuqonlOpen) as a stdcall vendor DLL does; the import library the linker
# writes beside it names them plainly too, but a program compiled against
# zuqonl.h refers to zuqonlOpen@0. This one maps the decorated names onto
# the plain exports. Run after the DLL is linked:
#   cmake -DDEF=<the linker's --output-def> -DDLLTOOL=<dlltool>
#         -DDLL_NAME=ZUQOnl.dll -DOUTPUT=<import library> -P stdcall_import_library.cmake
# The linker's definition file says `zuqonlOpen = zuqonlOpen@0 @4`: exported
# name, then the symbol. dlltool -k takes the symbol and exports it unadorned.
file(STRINGS ${DEF} lines)
set(exports "LIBRARY ${DLL_NAME}\nEXPORTS\n")
foreach(line IN LISTS lines)
  if(line MATCHES "^[ \t]+([A-Za-z_][A-Za-z0-9_]*)( = ([A-Za-z_][A-Za-z0-9_]*@[0-9]+))?")
    if(CMAKE_MATCH_3)
      string(APPEND exports "  ${CMAKE_MATCH_3}\n")
    else()
      string(APPEND exports "  ${CMAKE_MATCH_1}\n")
    endif()
  endif()
endforeach()
set(decorated ${DEF}.decorated)
file(WRITE ${decorated} "${exports}")
execute_process(COMMAND ${DLLTOOL} --kill-at --input-def ${decorated} --output-lib ${OUTPUT}
                        --dllname ${DLL_NAME}
                RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${DLLTOOL} could not write ${OUTPUT}")
endif()
