# macOS on Intel processors, with zig (cmake/zig-macos.cmake).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(_zindle_zig_arch x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/zig-macos.cmake)
