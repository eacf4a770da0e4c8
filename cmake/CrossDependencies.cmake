# What a cross build needs that Debian ships only for the build machine. Included by the
# top-level CMakeLists.txt when cross-compiling (Windows, Linux arm64).

# fmt, header-only, from Debian's libfmt-dev headers: Debian's library is built for the build
# machine only. Only the fmt folder is linked in, so no other header of the build machine can be
# picked up.
set(ZINDLE_FMT_HEADERS /usr/include/fmt CACHE PATH "fmt's headers (Debian's libfmt-dev)")
if(NOT EXISTS ${ZINDLE_FMT_HEADERS}/core.h)
  message(FATAL_ERROR "no fmt headers in ${ZINDLE_FMT_HEADERS}: install libfmt-dev")
endif()
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/fmt-headers)
file(CREATE_LINK ${ZINDLE_FMT_HEADERS} ${CMAKE_BINARY_DIR}/fmt-headers/fmt SYMBOLIC)
add_library(fmt::fmt INTERFACE IMPORTED)
set_target_properties(fmt::fmt PROPERTIES
  INTERFACE_INCLUDE_DIRECTORIES ${CMAKE_BINARY_DIR}/fmt-headers
  INTERFACE_COMPILE_DEFINITIONS FMT_HEADER_ONLY=1)

# GoogleTest, built with this toolchain from the sources of Debian's googletest package.
if(ZINDLE_BUILD_TESTS)
  set(ZINDLE_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH
    "GoogleTest's sources (Debian's googletest package)")
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(${ZINDLE_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest
    EXCLUDE_FROM_ALL SYSTEM)  # it names its targets GTest::gtest and GTest::gtest_main itself
endif()
