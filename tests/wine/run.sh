#!/usr/bin/env bash
# Usage: run.sh PREFIX PROGRAM [ARGS...]: runs a Windows program in one test prefix.
#
# Whatever Wine starts on the way (a Wine server, services.exe, a service, a pass or an
# msiexec left running by a failing test) inherits the program's output. A pipe to CTest held
# by such a process would keep CTest waiting for an end of output that never comes, so the
# program writes to a file of this run, and the file is shown as it grows: once the program
# ends, this script ends, whatever is still running in the prefix. The prefix's processes
# are ended by wine.down (tests/wine/prefix.sh), whatever the tests' outcome.
set -euo pipefail
export WINEPREFIX=$1
# UTF-8 on the Unix side, so that file names outside the ANSI code page can be made;
# whatever locale CI has, Windows then sees the same US English system.
export LANG=C.UTF-8 LC_ALL=C.UTF-8
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
shift
output=$(mktemp "${TMPDIR:-/tmp}/tarvel-test.XXXXXX")
trap 'rm -f "$output"' EXIT
wine "$@" </dev/null >"$output" 2>&1 &
program=$!
tail --pid="$program" -n +1 -f "$output"
status=0
wait "$program" || status=$?
exit "$status"
