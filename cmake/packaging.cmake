# Installation and packages. On Windows a zip to unpack anywhere: the
# program, the stand-in ZUQOnl.dll, zuqds, a sample, the README and the
# licences of the runtime linked in. On Linux a Debian package: the program
# and zuqds in bin/, libzuqonl.so in lib/, the sample under share/.
if(WIN32)
  set(zuq_bin_dir .)
  set(zuq_doc_dir .)
  set(zuq_sample_dir sample)
else()
  include(GNUInstallDirs)
  set(zuq_bin_dir ${CMAKE_INSTALL_BINDIR})
  set(zuq_doc_dir ${CMAKE_INSTALL_DATADIR}/doc/zuqtradereport)
  set(zuq_sample_dir ${CMAKE_INSTALL_DATADIR}/zuqtradereport/sample)
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
  install(TARGETS zuqonl LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
endif()
install(FILES ${PROJECT_SOURCE_DIR}/examples/sample.ini DESTINATION ${zuq_sample_dir})
install(FILES ${PROJECT_SOURCE_DIR}/examples/data/Trade.csv DESTINATION ${zuq_sample_dir}/data)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${zuq_doc_dir})
if(WIN32)
  # The operators' guide, as README.txt with CR LF line ends: what Notepad
  # and an operator on Windows open first.
  set(zuq_guide_source ${PROJECT_SOURCE_DIR}/docs/windows.md)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${zuq_guide_source})
  file(READ ${zuq_guide_source} zuq_guide)
  string(REPLACE "\n" "\r\n" zuq_guide "${zuq_guide}")
  file(WRITE ${PROJECT_BINARY_DIR}/README.txt "${zuq_guide}")
  install(FILES ${PROJECT_BINARY_DIR}/README.txt DESTINATION ${zuq_doc_dir})
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
set(CPACK_PACKAGE_CONTACT "ZUQTradeReport developers <zuqtradereport@localhost>")
if(WIN32)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(zuq_package_arch win64)
  else()
    set(zuq_package_arch win32)
  endif()
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME ZUQTradeReport-${PROJECT_VERSION}-${zuq_package_arch})
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_PACKAGE_NAME zuqtradereport)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION misc)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libgcc-s1, libstdc++6")
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
endif()
include(CPack)
