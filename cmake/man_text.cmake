# Renders a manual page as plain ASCII text with CR LF line ends.
#   cmake -DGROFF=groff -DPAGE=NAME.1 -DOUTPUT=NAME.txt -P man_text.cmake
execute_process(COMMAND ${GROFF} -man -Tascii -P-cbou ${PAGE}
                OUTPUT_VARIABLE text RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${GROFF} failed on ${PAGE}")
endif()
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE ${OUTPUT} "${text}")
