# What a Windows build needs beyond cmake/CrossDependencies.cmake. Included by the top-level
# CMakeLists.txt when the target is Windows.

# Programs and DLLs side by side, so that every program finds the DLLs it was linked with.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)

# Under wine the build machine's root directory is drive Z:, which is how the tests see the
# paths of the programs they start.
if(CMAKE_CROSSCOMPILING)
  set(ZINDLE_TEST_PATH_PREFIX "Z:")
endif()
