# zindle_package_architecture(<processor> <archive-var> <debian-var>): the names a processor
# (CMAKE_SYSTEM_PROCESSOR) has in the archives' file names and as a Debian architecture, or
# empty ones for a processor that has no known names: a package named after another processor
# would be installed where it cannot run. Kept apart from cmake/Packaging.cmake so that a test
# (cmake/tests/package_architecture_test.cmake) can ask it.
function(zindle_package_architecture processor archive_var debian_var)
  if(processor MATCHES "^(x86_64|amd64|AMD64)$")
    set(archive x86_64)
    set(debian amd64)
  elseif(processor MATCHES "^(aarch64|arm64|ARM64)$")
    set(archive aarch64)
    set(debian arm64)
  else()
    set(archive "")
    set(debian "")
  endif()
  set(${archive_var} "${archive}" PARENT_SCOPE)
  set(${debian_var} "${debian}" PARENT_SCOPE)
endfunction()
