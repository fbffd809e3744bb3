# Installation and packages. On Windows a zip to unpack anywhere: the
# program, the stand-in ZUQOnl.dll, zuqds, a sample, the README, the manual
# pages as text and the licences. On Linux an installation into any prefix,
# and from it a Debian package (preset "package", prefix /usr): the programs
# in bin/, the stand-in library in a folder of its own under lib/ that only
# this package uses, the manual pages, the documentation with the sample as
# its examples, the copyright and the changelog.
include(cmake/manpages.cmake)

if(WIN32)
  set(zuq_bin_dir .)
  set(zuq_doc_dir .)
  set(zuq_sample_dir sample)
else()
  include(GNUInstallDirs)
  set(zuq_bin_dir ${CMAKE_INSTALL_BINDIR})
  # The stand-in library stands in for a vendor's library and belongs to
  # this package alone: outside the linker's search path, found by the
  # program through its RUNPATH, relative to the program's own folder so
  # that an installation into any prefix runs. LD_LIBRARY_PATH, searched
  # first, can put the vendor's libzuqonl.so in its place.
  set(zuq_lib_dir ${CMAKE_INSTALL_LIBDIR}/zuqtradereport)
  set(zuq_doc_dir ${CMAKE_INSTALL_DATADIR}/doc/zuqtradereport)
  set(zuq_sample_dir ${zuq_doc_dir}/examples)
  cmake_path(ABSOLUTE_PATH zuq_bin_dir BASE_DIRECTORY ${CMAKE_INSTALL_PREFIX} OUTPUT_VARIABLE bin_full)
  cmake_path(ABSOLUTE_PATH zuq_lib_dir BASE_DIRECTORY ${CMAKE_INSTALL_PREFIX} OUTPUT_VARIABLE lib_full)
  file(RELATIVE_PATH zuq_lib_from_bin ${bin_full} ${lib_full})
  set_target_properties(ZUQTradeReport PROPERTIES INSTALL_RPATH "\$ORIGIN/${zuq_lib_from_bin}")
  # RUNPATH rather than RPATH: LD_LIBRARY_PATH comes first.
  target_link_options(ZUQTradeReport PRIVATE LINKER:--enable-new-dtags)
  # The program in the build tree has the installed RUNPATH too, and finds
  # the stand-in through a link laid out as the installation lays it out. A
  # RUNPATH edited at installation instead is padded in the build tree with
  # empty entries, which the loader takes for the folder the program is
  # started from: it would load a libstdc++.so.6 it found there.
  get_target_property(zuq_program_dir ZUQTradeReport BINARY_DIR)
  get_target_property(zuq_stand_in_dir zuqonl BINARY_DIR)
  if(zuq_lib_from_bin MATCHES "^\\.\\./[^.]" AND NOT CMAKE_RUNTIME_OUTPUT_DIRECTORY
     AND NOT CMAKE_LIBRARY_OUTPUT_DIRECTORY)
    cmake_path(ABSOLUTE_PATH zuq_lib_from_bin BASE_DIRECTORY ${zuq_program_dir} NORMALIZE
               OUTPUT_VARIABLE zuq_build_lib_dir)
    cmake_path(GET zuq_build_lib_dir PARENT_PATH zuq_build_lib_parent)
    file(MAKE_DIRECTORY ${zuq_build_lib_parent})
    file(CREATE_LINK ${zuq_stand_in_dir} ${zuq_build_lib_dir} SYMBOLIC)
    set_target_properties(ZUQTradeReport PROPERTIES BUILD_WITH_INSTALL_RPATH ON)
  endif()
endif()

install(TARGETS ZUQTradeReport RUNTIME DESTINATION ${zuq_bin_dir})
if(TARGET zuqds)
  install(TARGETS zuqds RUNTIME DESTINATION ${zuq_bin_dir})
endif()
if(WIN32)
  # The DLL beside the program, where Windows looks first; its import
  # library only when asked for (component Development).
  install(TARGETS zuqonl RUNTIME DESTINATION ${zuq_bin_dir}
          ARCHIVE DESTINATION lib COMPONENT Development EXCLUDE_FROM_ALL)
else()
  # A plugin-like private library: not executable, as Debian wants shared
  # libraries.
  install(TARGETS zuqonl LIBRARY DESTINATION ${zuq_lib_dir}
          PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/examples/sample.ini DESTINATION ${zuq_sample_dir})
install(FILES ${PROJECT_SOURCE_DIR}/examples/data/Trade.csv DESTINATION ${zuq_sample_dir}/data)
# Text files for Windows: CR LF line ends, for Notepad and the operators.
function(zuq_install_crlf source name destination)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
  file(READ ${source} text)
  string(REPLACE "\n" "\r\n" text "${text}")
  file(WRITE ${PROJECT_BINARY_DIR}/crlf/${name} "${text}")
  install(FILES ${PROJECT_BINARY_DIR}/crlf/${name} DESTINATION ${destination})
endfunction()

if(WIN32)
  # The operators' guide as README.txt: what an operator on Windows opens
  # first.
  zuq_install_crlf(${PROJECT_SOURCE_DIR}/docs/windows.md README.txt ${zuq_doc_dir})
  zuq_install_crlf(${PROJECT_SOURCE_DIR}/README.md README.md ${zuq_doc_dir})
  zuq_install_crlf(${PROJECT_SOURCE_DIR}/LICENSE LICENSE.txt ${zuq_doc_dir})
  foreach(page IN LISTS zuq_man_pages)
    install(FILES ${PROJECT_BINARY_DIR}/man/${page}.txt DESTINATION man)
  endforeach()
else()
  foreach(page IN LISTS zuq_man_pages)
    install(FILES ${PROJECT_BINARY_DIR}/man/${page}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endforeach()
  # The README with the folder docs/ beside it, as in the sources, so that
  # every docs/ path the README names is there.
  install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${zuq_doc_dir})
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION ${zuq_doc_dir}/docs)

  # The package's maintainer, in its control file and its changelog.
  set(ZUQ_PACKAGE_MAINTAINER "ZUQTradeReport developers <zuqtradereport@example.org>"
      CACHE STRING "Maintainer of the Debian package: Name <address>")

  # The copyright file in Debian's machine-readable format, from LICENSE.
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/LICENSE)
  file(STRINGS ${PROJECT_SOURCE_DIR}/LICENSE licence_lines)
  list(POP_FRONT licence_lines licence_title)  # "MIT License"
  set(licence_body "")
  set(copyright_line "")
  foreach(line IN LISTS licence_lines)
    if(line MATCHES "^Copyright \\(c\\) (.*)$")
      set(copyright_line ${CMAKE_MATCH_1})
    elseif(line STREQUAL "")
      string(APPEND licence_body " .\n")
    else()
      string(APPEND licence_body " ${line}\n")
    endif()
  endforeach()
  # Blank lines left over from the title and the copyright line.
  string(REGEX REPLACE "^( \\.\n)+" "" licence_body "${licence_body}")
  file(WRITE ${PROJECT_BINARY_DIR}/debian/copyright
       "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
       "Upstream-Name: ZUQTradeReport\n"
       "Upstream-Contact: ${ZUQ_PACKAGE_MAINTAINER}\n"
       "\n"
       "Files: *\n"
       "Copyright: ${copyright_line}\n"
       "License: Expat\n"
       "${licence_body}")
  install(FILES ${PROJECT_BINARY_DIR}/debian/copyright DESTINATION ${zuq_doc_dir})

  # The changelog, from CHANGELOG.md.
  set(changelog ${PROJECT_BINARY_DIR}/debian/changelog.gz)
  add_custom_command(OUTPUT ${changelog}
    COMMAND ${CMAKE_COMMAND} -DSOURCE=${PROJECT_SOURCE_DIR}/CHANGELOG.md -DOUTPUT=${changelog}
            -DPACKAGE=zuqtradereport -DMAINTAINER=${ZUQ_PACKAGE_MAINTAINER} -DGZIP=${ZUQ_GZIP}
            -P ${PROJECT_SOURCE_DIR}/cmake/debian/changelog.cmake
    DEPENDS ${PROJECT_SOURCE_DIR}/CHANGELOG.md ${PROJECT_SOURCE_DIR}/cmake/debian/changelog.cmake
    COMMENT "Writing the package's changelog from CHANGELOG.md" VERBATIM)
  add_custom_target(zuq_changelog ALL DEPENDS ${changelog})
  install(FILES ${changelog} DESTINATION ${zuq_doc_dir})
  install(FILES ${PROJECT_SOURCE_DIR}/cmake/debian/lintian-overrides
          DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME zuqtradereport)
endif()

if(MINGW)
  # The GCC runtime, the C++ library and winpthread are linked into every
  # file of the package: their licence texts go with it.
  foreach(notice IN ITEMS gcc-mingw-w64-base mingw-w64-common)
    if(EXISTS /usr/share/doc/${notice}/copyright)
      install(FILES /usr/share/doc/${notice}/copyright DESTINATION licenses
              RENAME ${notice}.txt)
    endif()
  endforeach()
endif()

set(CPACK_PACKAGE_NAME ZUQTradeReport)
set(CPACK_PACKAGE_VENDOR "ZUQTradeReport developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Writes one firm's trades of one issue as a delimited report")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_STRIP_FILES ON)
# SHA256SUMS beside the packages, for whoever takes them further.
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR})
set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/package_checksums.cmake)
if(WIN32)
  set(CPACK_PACKAGE_CONTACT "ZUQTradeReport developers")
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(zuq_package_arch win64)
  else()
    set(zuq_package_arch win32)
  endif()
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME ZUQTradeReport-${PROJECT_VERSION}-${zuq_package_arch})
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  set(CPACK_PACKAGE_CONTACT "${ZUQ_PACKAGE_MAINTAINER}")
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_PACKAGE_NAME zuqtradereport)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION misc)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${ZUQ_PACKAGE_MAINTAINER}")
  # The extended description; cpack puts the summary above it.
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
      "ZUQTradeReport connects to a trading system's data server through its
online-access library, collects the trades of one issue from the server's
trade table and writes the configured firm's trades as a delimited
report, one line per trade seen from the firm's side. It runs once,
unattended, from an INI file, and is meant for a back office's scheduled
jobs.
.
The package also holds a stand-in for the online-access library, which
serves table files from an embedded data server, and zuqds, which serves
the same table files over TCP, so that the program can be tried without an
exchange; the documentation's examples are a sample to try it with.")
  # Depends from the libraries the programs link, with the versions they need.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # dpkg-shlibdeps runs in the staging root, where the library lies.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS usr/${zuq_lib_dir})
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  # Files as a package wants them: owned by root, no group write.
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
endif()
include(CPack)
