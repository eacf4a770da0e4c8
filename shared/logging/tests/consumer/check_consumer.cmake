# Run by CTest as cmake -P: installs the "logging" and "logging-dev" components of BUILD_DIR to a
# scratch prefix, builds the project next to this script against it, runs both programs and
# compares their standard error with the expected lines, on Linux and on macOS. Given PREFIX, it uses what is installed
# there instead (scripts/check-packages.sh: the unpacked Debian packages). Given VERSION, it also
# checks that the header, the CMake package and the .pc file all carry that version.
cmake_minimum_required(VERSION 3.25)

function(run step)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${step} failed (${status}):\n${out}\n${err}")
  endif()
  set(output "${out}" PARENT_SCOPE)
endfunction()

set(build "${WORK_DIR}/build")
file(REMOVE_RECURSE "${WORK_DIR}")
if(DEFINED PREFIX)
  set(prefix "${PREFIX}")
  # The loader does not search a scratch prefix; the pkg-config build records no run path.
  set(ENV{LD_LIBRARY_PATH} "${prefix}/${LIBDIR}")
else()
  set(prefix "${WORK_DIR}/prefix")
  foreach(component logging logging-dev)
    run(install "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --component ${component}
      --prefix "${prefix}")
  endforeach()
endif()
set(libdir "${prefix}/${LIBDIR}")

if(SHARED)
  # The link named like the SONAME (on macOS the install name) is what programs record and the
  # loader looks for.
  if(CMAKE_HOST_APPLE)
    set(versioned libzindle-logging.${SOVERSION}.dylib)
    set(unversioned libzindle-logging.dylib)
    set(exported -g)  # a Mach-O library's table of symbols is its dynamic one
  else()
    set(versioned libzindle-logging.so.${SOVERSION})
    set(unversioned libzindle-logging.so)
    set(exported -D)
  endif()
  if(NOT EXISTS "${libdir}/${versioned}")
    message(FATAL_ERROR "no ${versioned} in ${libdir}")
  endif()
  # Only the public surface is exported; internals live in namespace detail.
  run(nm "${NM}" ${exported} -C --defined-only "${libdir}/${unversioned}")
  if(output MATCHES "zindle::logging::detail" OR NOT output MATCHES "zindle::logging::get_logger")
    message(FATAL_ERROR "wrong exported symbols:\n${output}")
  endif()
endif()

if(SANITIZE)
  set(flags "-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer")
endif()
set(ENV{PKG_CONFIG_PATH} "${libdir}/pkgconfig")
run(configure "${CMAKE_COMMAND}" -S "${SOURCE_DIR}" -B "${build}" -G "${GENERATOR}"
  "-DCMAKE_MAKE_PROGRAM=${MAKE_PROGRAM}" "-DCMAKE_CXX_COMPILER=${CXX_COMPILER}"
  "-DCMAKE_BUILD_TYPE=${BUILD_TYPE}" "-DCMAKE_PREFIX_PATH=${prefix}"
  "-DCMAKE_CXX_FLAGS=${flags}" "-DCMAKE_EXE_LINKER_FLAGS=${flags}")
run(build "${CMAKE_COMMAND}" --build "${build}")

if(DEFINED VERSION)
  file(STRINGS "${prefix}/include/zindle/logging_version.h" header
    REGEX "#define ZINDLE_LOGGING_VERSION \"")
  run(pkg-config pkg-config --modversion zindle-logging)
  string(STRIP "${output}" pc)
  set(PACKAGE_FIND_VERSION "${VERSION}")
  include("${libdir}/cmake/ZindleLogging/ZindleLoggingConfigVersion.cmake")
  foreach(found IN ITEMS "${header}" "${pc}" "${PACKAGE_VERSION}")
    if(NOT found MATCHES "(^|\")${VERSION}\"?$")
      message(FATAL_ERROR "version ${VERSION} expected, found: ${found}")
    endif()
  endforeach()
endif()

string(JOIN "\n" expected
  "[zindle] WARNING: disk /var is full"
  "[zindle.auth] ERROR: token 42 expired"
  "[zindle] WARNING: braces {} kept"
  "[zindle] DEBUG: level DEBUG stays"
  "[consumer.exit] WARNING: after main"
  "")
foreach(program consumer_cmake consumer_pkgconfig)
  execute_process(COMMAND "${build}/${program}"
    RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0 OR NOT out STREQUAL "" OR NOT err STREQUAL expected)
    message(FATAL_ERROR "${program}: status ${status}, standard output '${out}', "
      "standard error\n${err}\nwant status 0, no standard output, standard error\n${expected}")
  endif()
endforeach()
