#!/usr/bin/env bash
# Usage: run.sh PREFIX PROGRAM [ARGS...]: runs a Windows program in one test prefix.
set -euo pipefail
export WINEPREFIX=$1
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
shift
exec wine "$@"
