#!/usr/bin/env bash
# Usage: prefix.sh up|down ROOT
# up: makes the 32-bit and the 64-bit test prefix under ROOT when they are missing and keeps
# a Wine server running for each; down: stops those servers.
set -euo pipefail
action=$1
root=$2
# UTF-8 on the Unix side, so that file names outside the ANSI code page can be made;
# whatever locale CI has, Windows then sees the same US English system.
export LANG=C.UTF-8 LC_ALL=C.UTF-8
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

for arch in win32 win64; do
    export WINEPREFIX="$root/$arch"
    case $action in
    up)
        if [ ! -f "$WINEPREFIX/system.reg" ]; then
            rm -rf "$WINEPREFIX"
            mkdir -p "$WINEPREFIX"
            WINEARCH=$arch wineboot -i </dev/null >/dev/null 2>&1
            wineserver -w
        fi
        # Every run starts with a new server, so no service (the Task Scheduler above all)
        # is left running from an earlier run.
        wineserver -k </dev/null >/dev/null 2>&1 || true
        wineserver -w
        # Everything Wine starts in the background inherits the output of whoever starts it
        # first; started here, that is /dev/null rather than a test's pipe.
        wineserver -p </dev/null >/dev/null 2>&1
        wine cmd /c exit </dev/null >/dev/null 2>&1
        ;;
    down)
        wineserver -k </dev/null >/dev/null 2>&1 || true
        ;;
    *)
        echo "usage: $0 up|down ROOT" >&2
        exit 2
        ;;
    esac
done
