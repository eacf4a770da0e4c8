# Read after CMake's rules for Darwin in the zig cross builds (CMAKE_USER_MAKE_RULES_OVERRIDE in
# cmake/zig-macos.cmake). Those rules learn from sw_vers, which a Linux host lacks, whether the
# linker takes run paths; without that a library's install name is its absolute build path
# rather than @rpath/... zig's linker takes the version numbers only through -Wl.
set(CMAKE_SHARED_LIBRARY_RUNTIME_C_FLAG "-Wl,-rpath,")
foreach(_zindle_lang C CXX)
  set(CMAKE_SHARED_LIBRARY_RUNTIME_${_zindle_lang}_FLAG "-Wl,-rpath,")
  set(CMAKE_${_zindle_lang}_OSX_COMPATIBILITY_VERSION_FLAG "-Wl,-compatibility_version,")
  set(CMAKE_${_zindle_lang}_OSX_CURRENT_VERSION_FLAG "-Wl,-current_version,")
endforeach()
