# Run by cpack once the packages are made (CPACK_POST_BUILD_SCRIPTS). CMake 3.25's DEB generator
# stamps a package's control part and its container with the time of packing; dpkg-deb builds
# each package again with every time clamped to SOURCE_DATE_EPOCH, root as owner.
foreach(deb IN LISTS CPACK_PACKAGE_FILES)
  if(deb MATCHES "\\.deb$")
    set(dir "${deb}.unpacked")
    file(REMOVE_RECURSE "${dir}")
    execute_process(COMMAND dpkg-deb --raw-extract "${deb}" "${dir}" COMMAND_ERROR_IS_FATAL ANY)
    execute_process(COMMAND dpkg-deb --root-owner-group -Zxz --build "${dir}" "${deb}"
      OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
    file(REMOVE_RECURSE "${dir}")
  endif()
endforeach()
