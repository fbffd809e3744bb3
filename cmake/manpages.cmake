# The manual pages ZUQTradeReport(1) and zuqds(1): hand-written roff in
# docs/man, with the version and the date of CHANGELOG.md's newest entry put
# in. Linux installs them gzipped into the manual's section 1; the zips carry
# them as plain text with CR LF line ends (man/NAME.txt).
#
# Sets zuq_release_date, and zuq_man_pages to the pages' names.
file(STRINGS ${PROJECT_SOURCE_DIR}/CHANGELOG.md zuq_newest_entry
     REGEX "^## [0-9][0-9.]* \\([0-9-]+\\)$" LIMIT_COUNT 1)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/CHANGELOG.md)
if(NOT zuq_newest_entry MATCHES "^## ([0-9.]+) \\(([0-9-]+)\\)$"
   OR NOT CMAKE_MATCH_1 STREQUAL PROJECT_VERSION)
  message(FATAL_ERROR "CHANGELOG.md: the newest entry must be '## ${PROJECT_VERSION} (YYYY-MM-DD)', "
                      "the version in CMakeLists.txt; found '${zuq_newest_entry}'")
endif()
set(zuq_release_date ${CMAKE_MATCH_2})
set(ZUQ_RELEASE_DATE ${zuq_release_date})

set(zuq_man_pages ZUQTradeReport zuqds)
set(zuq_man_outputs)
foreach(page IN LISTS zuq_man_pages)
  configure_file(${PROJECT_SOURCE_DIR}/docs/man/${page}.1.in ${PROJECT_BINARY_DIR}/man/${page}.1 @ONLY)
endforeach()

if(WIN32)
  # Plain text for Notepad: groff (Debian package groff-base) renders the
  # pages on the build machine.
  find_program(ZUQ_GROFF groff)
  if(NOT ZUQ_GROFF)
    message(FATAL_ERROR "the zips carry the manual pages as text, rendered with groff: "
                        "install the Debian package groff-base")
  endif()
  foreach(page IN LISTS zuq_man_pages)
    set(text ${PROJECT_BINARY_DIR}/man/${page}.txt)
    add_custom_command(OUTPUT ${text}
      COMMAND ${CMAKE_COMMAND} -DGROFF=${ZUQ_GROFF} -DPAGE=${PROJECT_BINARY_DIR}/man/${page}.1
              -DOUTPUT=${text} -P ${PROJECT_SOURCE_DIR}/cmake/man_text.cmake
      DEPENDS ${PROJECT_BINARY_DIR}/man/${page}.1 ${PROJECT_SOURCE_DIR}/cmake/man_text.cmake
      COMMENT "Rendering ${page}(1) as text" VERBATIM)
    list(APPEND zuq_man_outputs ${text})
  endforeach()
else()
  find_program(ZUQ_GZIP gzip REQUIRED)
  foreach(page IN LISTS zuq_man_pages)
    set(gz ${PROJECT_BINARY_DIR}/man/${page}.1.gz)
    add_custom_command(OUTPUT ${gz}
      COMMAND ${ZUQ_GZIP} -9nkf ${PROJECT_BINARY_DIR}/man/${page}.1
      DEPENDS ${PROJECT_BINARY_DIR}/man/${page}.1
      COMMENT "Compressing ${page}(1)" VERBATIM)
    list(APPEND zuq_man_outputs ${gz})
  endforeach()
endif()
add_custom_target(zuq_man_pages ALL DEPENDS ${zuq_man_outputs})

if(ZUQ_BUILD_TESTS AND NOT CMAKE_CROSSCOMPILING)
  # Each page reads without a warning of the formatter, and names every
  # option its program's --help prints.
  find_program(ZUQ_MAN man)
  foreach(page IN LISTS zuq_man_pages)
    if(TARGET ${page})
      add_test(NAME man_page_${page}
               COMMAND ${CMAKE_COMMAND} -DMAN=${ZUQ_MAN} -DPAGE=${PROJECT_BINARY_DIR}/man/${page}.1
                       -DPROGRAM=$<TARGET_FILE:${page}> -P ${PROJECT_SOURCE_DIR}/cmake/check_man_page.cmake)
    endif()
  endforeach()
endif()
