# Run by CTest as cmake -P: compiles header_warnings.cc with COMPILER at each optimisation level,
# with warnings as errors. INCLUDES and DEFINITIONS are lists: the header's and fmt's.
cmake_minimum_required(VERSION 3.25)
set(flags -std=c++20 -Wall -Wextra -Wpedantic -Werror)
foreach(dir IN LISTS INCLUDES)
  list(APPEND flags -I${dir})
endforeach()
foreach(definition IN LISTS DEFINITIONS)
  list(APPEND flags -D${definition})
endforeach()
foreach(level -O0 -O1 -O2 -O3 -Os -Og)
  execute_process(
    COMMAND ${COMPILER} ${flags} ${level} -c ${CMAKE_CURRENT_LIST_DIR}/header_warnings.cc
      -o ${WORK_DIR}/header_warnings${level}.o
    RESULT_VARIABLE status ERROR_VARIABLE errors OUTPUT_VARIABLE errors)
  if(NOT status EQUAL 0)
    message(SEND_ERROR "${COMPILER} ${level}:\n${errors}")
  endif()
endforeach()
