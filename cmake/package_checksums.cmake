# Run by cpack after it made its packages: writes SHA256SUMS beside them, in
# the format that `sha256sum -c SHA256SUMS` checks.
set(sums "")
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  file(SHA256 ${package} sum)
  get_filename_component(name ${package} NAME)
  string(APPEND sums "${sum}  ${name}\n")
endforeach()
# The packages are still in cpack's staging folder here; they go to
# CPACK_PACKAGE_DIRECTORY next, unchanged.
if(CPACK_PACKAGE_FILES)
  file(WRITE ${CPACK_PACKAGE_DIRECTORY}/SHA256SUMS "${sums}")
  message(STATUS "wrote ${CPACK_PACKAGE_DIRECTORY}/SHA256SUMS")
endif()
