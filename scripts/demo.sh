#!/usr/bin/env bash
# The main job, end to end: builds the shipping tarvel.exe and runs it in a throw-away
# 32-bit Wine prefix as Windows XP, once with the marker directory (preload mode) and once
# without it (normal mode), printing what each pass left behind.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)" >/dev/null
exe="$PWD/build/release/tarvel.exe"

WINEPREFIX=$(mktemp -d /tmp/tarvel-demo.XXXXXX)
export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
trap 'wineserver -k >/dev/null 2>&1 || true; rm -rf "$WINEPREFIX"' EXIT
echo "Making a Wine prefix in $WINEPREFIX ..."
WINEARCH=win32 wineboot -i </dev/null >/dev/null 2>&1
wineserver -w
wineserver -p </dev/null >/dev/null 2>&1

reg() { wine reg "$@" 2>/dev/null | tr -d '\r' | sed -n 's/^    //p'; }
show_state() {
    echo "  ports (DIPM, LPM):"
    for port in 0 1 2 3 4 5; do
        printf '    Port%s: %s\n' "$port" \
            "$(reg query "HKLM\\SYSTEM\\CurrentControlSet\\Services\\iaStor\\Parameters\\Port$port" | awk '{printf "%s=%s ", $1, $3}')"
    done
    local run
    run=$(reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Run' /v Tarvel || true)
    echo "  Run value: ${run:-<none>}"
    if [ -d "$WINEPREFIX/drive_c/Preload" ]; then echo "  marker C:\\Preload: present"; else echo "  marker C:\\Preload: absent"; fi
}

wine reg add 'HKCU\Software\Wine\AppDefaults\tarvel.exe' /v Version /d winxp /f >/dev/null 2>&1

mkdir -p "$WINEPREFIX/drive_c/Preload"
echo "Preload pass (Windows XP, C:\\Preload present):"
status=0; wine "$exe" || status=$?
echo "  exit status: $status"
show_state

rmdir "$WINEPREFIX/drive_c/Preload"
echo "Normal pass (Windows XP, C:\\Preload gone):"
status=0; wine "$exe" || status=$?
echo "  exit status: $status"
show_state
