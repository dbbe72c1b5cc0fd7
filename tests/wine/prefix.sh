#!/usr/bin/env bash
# Usage: prefix.sh up|down ROOT
# up: makes the 32-bit and the 64-bit test prefixes under ROOT from a pristine copy of each, kept
# under ROOT/pristine from the first wineboot, and keeps a Wine server running for each; down:
# stops those servers. Every run starts from the pristine prefix, so that nothing a run left
# behind (a product installed by a test that was cut short, a fault injected into the Task
# Scheduler stand-in) can fail or pass the next one.
set -euo pipefail
action=$1
root=$2
# UTF-8 on the Unix side, so that file names outside the ANSI code page can be made;
# whatever locale CI has, Windows then sees the same US English system.
export LANG=C.UTF-8 LC_ALL=C.UTF-8
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

# win32-wait and win64-wait are copies of the same pristine prefixes for the tests that mostly
# wait (a Task Scheduler that never answers), so that they wait beside the others.
for prefix in win32 win64 win32-wait win64-wait; do
    arch=${prefix%-wait}
    export WINEPREFIX="$root/$prefix"
    case $action in
    up)
        pristine="$root/pristine/$arch"
        # No service (the Task Scheduler above all) is left running from an earlier run.
        if [ -d "$WINEPREFIX" ]; then
            wineserver -k </dev/null >/dev/null 2>&1 || true
            wineserver -w
        fi
        # A pristine copy from before the drives below is made anew.
        if [ ! -f "$pristine/system.reg" ] || ! grep -q '^\[Software\\\\Wine\\\\Drives\]' "$pristine/system.reg"; then
            rm -rf "$WINEPREFIX" "$pristine"
            mkdir -p "$WINEPREFIX" "$root/pristine"
            WINEARCH=$arch wineboot -i </dev/null >/dev/null 2>&1
            # The kinds of the drives below, which Wine reads, in the native view, when the
            # prefix's server starts.
            view=()
            [ "$arch" = win64 ] && view=(/reg:64)
            printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Wine\\Drives]\r\n"e:"="hd"\r\n"n:"="network"\r\n"r:"="floppy"\r\n' \
                >"$WINEPREFIX/drive_c/drives.reg"
            wine reg import 'C:\drives.reg' "${view[@]}" </dev/null >/dev/null 2>&1
            rm -f "$WINEPREFIX/drive_c/drives.reg"
            wineserver -w
            # The copy is whole only once it is complete: a run cut while copying makes it anew.
            rm -rf "$pristine.partial"
            cp -a "$WINEPREFIX" "$pristine.partial"
            mv "$pristine.partial" "$pristine"
        else
            rm -rf "$WINEPREFIX"
            cp -a "$pristine" "$WINEPREFIX"
        fi
        # Drives of the kinds a program may not be started from with administrators' rights, and
        # one it may, each an empty folder of this run: E: a local fixed drive, N: a network
        # drive, R: a removable one.
        for drive in e n r; do
            mkdir -p "$WINEPREFIX/drives/$drive"
            ln -sfn "$WINEPREFIX/drives/$drive" "$WINEPREFIX/dosdevices/$drive:"
        done
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
