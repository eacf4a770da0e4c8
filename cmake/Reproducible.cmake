# The same commit builds the same bytes wherever the tree and the build directory are: paths
# that reach the objects (__FILE__ in assertions, debug information) are written relative.
# The build directory comes second so that it wins where it lies inside the source tree. Debug
# builds keep whole paths, for debuggers to find the sources by.
if(NOT CMAKE_BUILD_TYPE STREQUAL "Debug")
  add_compile_options(
    -ffile-prefix-map=${CMAKE_SOURCE_DIR}/=
    -ffile-prefix-map=${CMAKE_BINARY_DIR}/=)
endif()

# Directories that installing makes (and so every directory in the packages) get these
# permissions rather than what the builder's umask leaves; files get fixed ones already (644,
# and 755 for programs and libraries).
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
