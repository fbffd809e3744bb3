# The wire protocol of the network data server, part of the table engine's
# library so that zuqds and the stand-in library's network client share it.
# Included from dataserver/CMakeLists.txt after the targets there are defined.
target_sources(zuq_dataserver PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/protocol.cpp
  ${CMAKE_CURRENT_LIST_DIR}/protocol.h)
if(TARGET dataserver_tests)
  target_sources(dataserver_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR}/protocol_test.cpp)
endif()
