#!/usr/bin/env bash
# The main job, end to end: builds the shipping tarvel.exe and runs it in a throw-away
# 32-bit Wine prefix through a preload pass (marker directory present) and a normal pass
# (marker gone), printing what each pass left behind: first as Windows XP (Run value), then
# as Windows 7 (logon task, kept by the Task Scheduler stand-in, since Wine's own cannot
# hold a logon task).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)" >/dev/null
cmake --preset tests >/dev/null
cmake --build --preset tests -j "$(nproc)" --target taskscheduler_standin >/dev/null
exe="$PWD/build/release/tarvel.exe"
standin="Z:$(echo "$PWD/build/tests/standin/taskscheduler/taskscheduler_standin.dll" | tr / '\\')"

WINEPREFIX=$(mktemp -d /tmp/tarvel-demo.XXXXXX)
export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LANG=C.UTF-8 LC_ALL=C.UTF-8
trap 'wineserver -k >/dev/null 2>&1 || true; rm -rf "$WINEPREFIX"' EXIT
echo "Making a Wine prefix in $WINEPREFIX ..."
WINEARCH=win32 wineboot -i </dev/null >/dev/null 2>&1
wineserver -w
wineserver -p </dev/null >/dev/null 2>&1

reg() { wine reg "$@" 2>/dev/null | tr -d '\r' | sed -n 's/^    //p'; }
# Runs one pass and prints its whole 32-bit exit status as cmd's %errorlevel% shows it
# (signed decimal) and in hex; bash would see only its low byte. A batch file, because wine
# hands quotes in its own arguments on to cmd escaped.
run_pass() {
    printf '@"%s"\r\n@echo %%errorlevel%%\r\n' "$(winepath -w "$exe")" >"$WINEPREFIX/drive_c/pass.cmd"
    local status
    status=$(wine cmd /c 'C:\pass.cmd' 2>/dev/null | tr -d '\r' | tail -n 1)
    printf '  exit status: %s (0x%08X)\n' "$status" $((status & 0xFFFFFFFF))
}
show_state() {
    echo "  ports (DIPM, LPM):"
    for port in 0 1 2 3 4 5; do
        printf '    Port%s: %s\n' "$port" \
            "$(reg query "HKLM\\SYSTEM\\CurrentControlSet\\Services\\iaStor\\Parameters\\Port$port" | awk '{printf "%s=%s ", $1, $3}')"
    done
    local run task
    run=$(reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Run' /v Tarvel || true)
    echo "  Run value: ${run:-<none>}"
    task=$(reg query 'HKLM\Software\Tarvel Tests\Task Scheduler\Tasks\Ombrix Tarvel' || true)
    if [ -n "$task" ]; then
        echo "  logon task \"Ombrix Tarvel\":"
        echo "$task" | sed 's/^/    /'
    else
        echo "  logon task: <none>"
    fi
    if [ -d "$WINEPREFIX/drive_c/Preload" ]; then echo "  marker C:\\Preload: present"; else echo "  marker C:\\Preload: absent"; fi
}
two_passes() {
    wine reg add 'HKCU\Software\Wine\AppDefaults\tarvel.exe' /v Version /d "$1" /f >/dev/null 2>&1
    mkdir -p "$WINEPREFIX/drive_c/Preload"
    echo
    echo "Preload pass ($2, C:\\Preload present):"
    run_pass
    show_state
    rmdir "$WINEPREFIX/drive_c/Preload"
    echo
    echo "Normal pass ($2, C:\\Preload gone):"
    run_pass
    show_state
}

two_passes winxp "Windows XP"

wine reg add 'HKLM\Software\Classes\CLSID\{0F87369F-A4E5-4CFC-BD3E-73E6154572DD}\InprocServer32' \
    /ve /d "$standin" /f >/dev/null 2>&1
two_passes win7 "Windows 7, Task Scheduler stand-in"
