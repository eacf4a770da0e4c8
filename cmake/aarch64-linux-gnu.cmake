# Cross-compiles for Linux arm64 with Debian's g++-aarch64-linux-gnu and runs the results under
# qemu-user, named here rather than left to binfmt, which a build machine may not have set up.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(_zindle_triple aarch64-linux-gnu)
set(CMAKE_C_COMPILER ${_zindle_triple}-gcc)
set(CMAKE_CXX_COMPILER ${_zindle_triple}-g++)

set(CMAKE_FIND_ROOT_PATH /usr/${_zindle_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# -L: where the emulated loader finds the arm64 C and C++ libraries of the test programs.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64-static -L /usr/${_zindle_triple})
