# Cross-compiles for Windows x86-64 with Debian's mingw-w64 (the posix threading variant, which
# std::thread and std::mutex need) and runs the results under wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_zindle_mingw x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${_zindle_mingw}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_zindle_mingw}-g++-posix)
set(CMAKE_RC_COMPILER ${_zindle_mingw}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${_zindle_mingw})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Programs and DLLs carry their own copies of libgcc, libstdc++ and winpthread, so nothing of
# the toolchain has to sit beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
set(CMAKE_SHARED_LINKER_FLAGS_INIT -static)

# Tests and test discovery run the programs under wine.
set(CMAKE_CROSSCOMPILING_EMULATOR /bin/sh ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh)
