#!/bin/sh
# Runs a Windows program under wine, for test discovery and the tests. Wine's own background
# processes (services.exe and the like) are started by the first program that needs them and
# inherit its output descriptors, which they keep open until they exit, long after the
# program: ctest would wait for them. So the program writes to a file, passed on when it ends.
export WINEDEBUG=-all
# No .NET or HTML engine: nothing here needs them, and a new prefix would try to install them.
export WINEDLLOVERRIDES="mscoree,mshtml="
output=$(mktemp "${TMPDIR:-/tmp}/wine-run.XXXXXX") || exit 1
wine "$@" >"$output" 2>&1
status=$?
# Under load wine now and then fails to start a program at all: no output, a failed status.
# Every program run here prints something, so that is wine's failure, and a second try runs it.
if [ "$status" -ne 0 ] && [ ! -s "$output" ]; then
  wine "$@" >"$output" 2>&1
  status=$?
fi
cat "$output"
rm -f "$output"
exit $status
