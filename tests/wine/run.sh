#!/usr/bin/env bash
# Usage: run.sh PREFIX PROGRAM [ARGS...]: runs a Windows program in one test prefix.
set -euo pipefail
export WINEPREFIX=$1
# UTF-8 on the Unix side, so that file names outside the ANSI code page can be made;
# whatever locale CI has, Windows then sees the same US English system.
export LANG=C.UTF-8 LC_ALL=C.UTF-8
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
shift
exec wine "$@"
