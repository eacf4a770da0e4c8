# Release packages, made by CPack (scripts/package.sh runs it for each build):
#   archives  tallyhook-<v>-<system>-<arch>.tar.gz / .zip: bin/tallyhook, README.md, HOST-SETUP.md
#             (macOS: tallyhook-<v>-macos-universal.tar.gz, from the arm64 build with the x86_64
#             program as TALLYHOOK_OTHER_SLICE)
#   Debian    tallyhook, and on x86_64 libzindle-logging<SONAME version> and libzindle-logging-dev
# cmake/CPackOptions.cmake picks the components for each generator.
include(GNUInstallDirs)

set(ZINDLE_PACKAGE_MAINTAINER "the zindle authors <packages@zindle.invalid>" CACHE STRING
  "Maintainer field of the Debian packages")

include(${CMAKE_CURRENT_LIST_DIR}/PackageArchitecture.cmake)
zindle_package_architecture("${CMAKE_SYSTEM_PROCESSOR}" _zindle_arch _zindle_deb_arch)
if(NOT _zindle_arch)
  # Building and testing need no package names: only cpack is refused (cmake/CPackOptions.cmake).
  set(CPACK_ZINDLE_UNKNOWN_PROCESSOR "${CMAKE_SYSTEM_PROCESSOR}")
  set(_zindle_arch unknown)
  set(_zindle_deb_arch unknown)
endif()
string(TOLOWER ${CMAKE_SYSTEM_NAME} _zindle_system)
if(APPLE)
  set(_zindle_system macos)
  if(TALLYHOOK_OTHER_SLICE)
    set(_zindle_arch universal)
  endif()
endif()

# Each package's copyright statement and changelog, where Debian looks for them. Dates come
# from SOURCE_DATE_EPOCH when it is set. The changelog and the manual page are compressed
# because Debian wants them so, without a name or time in the gzip header.
string(TIMESTAMP _zindle_release_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
string(TIMESTAMP ZINDLE_COPYRIGHT_YEAR "%Y" UTC)
set(_zindle_docs ${CMAKE_BINARY_DIR}/package-docs)
function(zindle_gzip file)
  execute_process(COMMAND gzip -9nf ${file} COMMAND_ERROR_IS_FATAL ANY)
endfunction()
function(zindle_package_docs package component)
  set(dir ${_zindle_docs}/${package})
  configure_file(${PROJECT_SOURCE_DIR}/packaging/copyright ${dir}/copyright @ONLY)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog.in ${dir}/changelog @ONLY)
  zindle_gzip(${dir}/changelog)
  install(FILES ${dir}/copyright ${dir}/changelog.gz
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${component})
endfunction()

zindle_package_docs(tallyhook tallyhook)
if(NOT WIN32)
  configure_file(packaging/tallyhook.1 ${_zindle_docs}/tallyhook.1 @ONLY)
  zindle_gzip(${_zindle_docs}/tallyhook.1)
  install(FILES ${_zindle_docs}/tallyhook.1.gz
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tallyhook)
  if(NOT APPLE)
    install(FILES packaging/tallyhook.lintian-overrides RENAME tallyhook
      DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides COMPONENT tallyhook)
  endif()
endif()
if(TARGET zindle_logging)
  # The runtime package is named after the SONAME, as Debian names library packages
  # (libzindle-logging.so.0.2: libzindle-logging0.2). A release with another SONAME is then
  # another package, installed beside this one, and programs built against this one keep
  # loading after an upgrade.
  get_target_property(_zindle_logging_soversion zindle_logging SOVERSION)
  set(_zindle_logging_package libzindle-logging${_zindle_logging_soversion})
  zindle_package_docs(${_zindle_logging_package} logging)
  zindle_package_docs(libzindle-logging-dev logging-dev)
endif()

# The archives' notes: the README's sections on installing a release and on configuring an agent
# host, taken from the README so that they cannot drift apart.
file(READ ${PROJECT_SOURCE_DIR}/README.md _zindle_readme)
set(_zindle_notes "# Setting up tallyhook ${PROJECT_VERSION}\n")
foreach(_section "Install a release" "Configure your agent host")
  string(FIND "${_zindle_readme}" "\n## ${_section}\n" _start)
  if(_start EQUAL -1)
    message(FATAL_ERROR "README.md has no section \"${_section}\"")
  endif()
  string(SUBSTRING "${_zindle_readme}" ${_start} -1 _rest)
  string(SUBSTRING "${_rest}" 1 -1 _rest)
  string(FIND "${_rest}" "\n## " _end)
  string(SUBSTRING "${_rest}" 0 ${_end} _rest)
  string(APPEND _zindle_notes "\n${_rest}")
endforeach()
file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/package-docs/HOST-SETUP.md CONTENT "${_zindle_notes}")
# Not installed with the rest: only the archives carry them, at their top.
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${CMAKE_BINARY_DIR}/package-docs/HOST-SETUP.md
  DESTINATION . COMPONENT archive-notes EXCLUDE_FROM_ALL)

set(CPACK_PACKAGE_NAME tallyhook)
set(CPACK_PACKAGE_VENDOR "the zindle authors")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME tallyhook-${PROJECT_VERSION}-${_zindle_system}-${_zindle_arch})
set(CPACK_ARCHIVE_FILE_NAME ${CPACK_PACKAGE_FILE_NAME})
# macOS programs are stripped when built (skills/hooks/tallyhook/CMakeLists.txt).
if(NOT APPLE)
  set(CPACK_STRIP_FILES ON)
endif()
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/CPackOptions.cmake)
set(CPACK_ZINDLE_DEB_COMPONENTS tallyhook)
if(TARGET zindle_logging AND _zindle_system STREQUAL "linux" AND _zindle_arch STREQUAL "x86_64")
  list(APPEND CPACK_ZINDLE_DEB_COMPONENTS logging logging-dev)
endif()

# Debian: one package per component, named and described here.
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${_zindle_deb_arch})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${ZINDLE_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/CPackReproducibleDeb.cmake)

set(CPACK_DEBIAN_TALLYHOOK_PACKAGE_NAME tallyhook)
set(CPACK_DEBIAN_TALLYHOOK_PACKAGE_SECTION devel)
set(CPACK_COMPONENT_TALLYHOOK_DESCRIPTION "records the use of zindle skills by AI coding agents
A PostToolUse hook for AI coding-agent hosts such as Claude Code and Codex CLI.
The host starts it after every tool call with the event on standard input.
When the call used one of zindle's skills (its Skill tool, an MCP tool of the
zindle server, or the zindle command run through Bash), the hook reports it by
running zindle from its own directory, at most once per skill in 30 seconds.

The program is linked statically. It starts the zindle program that sits in
its own directory, /usr/bin. OpenCode's plugin for it is in
/usr/share/tallyhook/opencode.")

set(CPACK_DEBIAN_LOGGING_PACKAGE_NAME ${_zindle_logging_package})
set(CPACK_DEBIAN_LOGGING_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_LOGGING_PACKAGE_SHLIBDEPS ON)
# shlibs for the programs built against it; ldconfig through the trigger Debian uses today.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
configure_file(packaging/libzindle-logging.triggers ${_zindle_docs}/triggers COPYONLY)
set(CPACK_DEBIAN_LOGGING_PACKAGE_CONTROL_EXTRA ${_zindle_docs}/triggers)
set(CPACK_COMPONENT_LOGGING_DESCRIPTION "named loggers for the zindle modules - shared library
zindle::logging gives every module of zindle a named logger that writes one
line per record to standard error, in one layout, from WARNING up. Log calls
never throw and never write to standard output.

This package holds the shared library.")

set(CPACK_DEBIAN_LOGGING-DEV_PACKAGE_NAME libzindle-logging-dev)
set(CPACK_DEBIAN_LOGGING-DEV_PACKAGE_SECTION libdevel)
# Exactly the library of its own version, whose headers it holds. The header uses fmt: programs
# built against it link fmt themselves, at least the version the library was built against.
if(CPACK_ZINDLE_DEB_COMPONENTS MATCHES "logging-dev")
  find_package(fmt REQUIRED)
  set(CPACK_DEBIAN_LOGGING-DEV_PACKAGE_DEPENDS
    "${_zindle_logging_package} (= ${PROJECT_VERSION}), libfmt-dev (>= ${fmt_VERSION})")
endif()
set(CPACK_COMPONENT_LOGGING-DEV_DESCRIPTION "named loggers for the zindle modules - development files
zindle::logging gives every module of zindle a named logger that writes one
line per record to standard error, in one layout, from WARNING up. Log calls
never throw and never write to standard output.

This package holds the headers, the CMake package ZindleLogging and the
pkg-config file zindle-logging.pc.")

include(CPack)
