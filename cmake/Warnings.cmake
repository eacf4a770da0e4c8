# Every target of ours compiles with warnings as errors; third-party headers come in
# as system includes and are not held to it.
function(zindle_warnings target)
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Wpedantic -Werror
    -Wshadow -Wconversion -Wsign-conversion -Wnon-virtual-dtor
    -Wold-style-cast -Wcast-align -Wnull-dereference -Wimplicit-fallthrough)
endfunction()
