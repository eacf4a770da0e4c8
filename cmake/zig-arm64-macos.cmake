# macOS on Apple silicon, with zig (cmake/zig-macos.cmake).
set(CMAKE_SYSTEM_PROCESSOR arm64)
set(_zindle_zig_arch aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/zig-macos.cmake)
