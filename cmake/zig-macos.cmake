# Cross-compiles for macOS 11 and later with zig's C and C++ toolchain, which needs no Apple SDK;
# included by cmake/zig-arm64-macos.cmake and cmake/zig-x86_64-macos.cmake, which name the
# processor. scripts/setup.sh installs the pinned zig; the LLVM tools are Debian's. Nothing built
# here runs on this machine: the tests are built, and run on a Mac.
#
# What zig does that matters here:
# - the minimum system comes from the target (11.0 is its floor); -mmacosx-version-min is
#   ignored, so CMake is given no deployment target of its own;
# - -static is dropped without a word (every macOS program loads libSystem);
# - libc++ is linked statically, built the first time for each target (cached under
#   ~/.cache/zig);
# - debug information is added even when optimising, which would carry build paths into the
#   programs: the hook is stripped once linked (skills/hooks/tallyhook/CMakeLists.txt);
# - arm64 output is signed ad hoc by the linker, x86_64 output is not;
# - the test programs cannot be asked for their tests here, so GoogleTest asks them when the
#   tests run (top-level CMakeLists.txt).
set(CMAKE_SYSTEM_NAME Darwin)
set(CMAKE_OSX_DEPLOYMENT_TARGET "" CACHE STRING "")
set(CMAKE_OSX_ARCHITECTURES "" CACHE STRING "")

if(DEFINED ENV{TALLYHOOK_ZIG_CACHE})
  set(_zindle_zig_cache "$ENV{TALLYHOOK_ZIG_CACHE}")
elseif(DEFINED ENV{XDG_CACHE_HOME})
  set(_zindle_zig_cache "$ENV{XDG_CACHE_HOME}/tallyhook-zig")
else()
  set(_zindle_zig_cache "$ENV{HOME}/.cache/tallyhook-zig")
endif()
set(ZINDLE_ZIG "${_zindle_zig_cache}/zig" CACHE FILEPATH "zig (scripts/setup.sh installs it)")
if(NOT EXISTS "${ZINDLE_ZIG}")
  message(FATAL_ERROR "no zig at ${ZINDLE_ZIG}: run scripts/setup.sh")
endif()

set(_zindle_target ${_zindle_zig_arch}-macos.11.0)
set(CMAKE_C_COMPILER "${ZINDLE_ZIG}" cc -target ${_zindle_target})
set(CMAKE_CXX_COMPILER "${ZINDLE_ZIG}" c++ -target ${_zindle_target})

# Debian's LLVM tools read and write Mach-O files; lipo makes the universal program.
execute_process(COMMAND llvm-config --bindir OUTPUT_VARIABLE _zindle_llvm_bin
  OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
set(CMAKE_AR "${_zindle_llvm_bin}/llvm-ar" CACHE FILEPATH "")
set(CMAKE_RANLIB "${_zindle_llvm_bin}/llvm-ranlib" CACHE FILEPATH "")
set(CMAKE_NM "${_zindle_llvm_bin}/llvm-nm" CACHE FILEPATH "")
set(CMAKE_STRIP "${_zindle_llvm_bin}/llvm-strip" CACHE FILEPATH "")
set(ZINDLE_LIPO "${_zindle_llvm_bin}/llvm-lipo" CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Read after CMake's own rules for Darwin, which this corrects (cmake/zig-macos-rules.cmake).
set(CMAKE_USER_MAKE_RULES_OVERRIDE ${CMAKE_CURRENT_LIST_DIR}/zig-macos-rules.cmake)
