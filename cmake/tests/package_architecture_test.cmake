# Run by CTest as cmake -P: each processor's names in the packages (processor|archive|Debian,
# "-" for none), and none for a processor that has no known names.
cmake_minimum_required(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/../PackageArchitecture.cmake)
set(cases
  "x86_64|x86_64|amd64" "AMD64|x86_64|amd64" "amd64|x86_64|amd64"
  "aarch64|aarch64|arm64" "arm64|aarch64|arm64" "ARM64|aarch64|arm64"
  "i686|-|-" "i386|-|-" "riscv64|-|-" "armv7l|-|-" "ppc64le|-|-" "x86_64_v2|-|-" "|-|-")
foreach(case IN LISTS cases)
  string(REPLACE "|" ";" fields "${case}")
  list(GET fields 0 processor)
  list(GET fields 1 expected_archive)
  list(GET fields 2 expected_debian)
  zindle_package_architecture("${processor}" archive debian)
  foreach(name archive debian)
    if("${${name}}" STREQUAL "")
      set(${name} -)
    endif()
    if(NOT "${${name}}" STREQUAL "${expected_${name}}")
      message(SEND_ERROR
        "processor \"${processor}\": ${name} name \"${${name}}\", want \"${expected_${name}}\"")
    endif()
  endforeach()
endforeach()
