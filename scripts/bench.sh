#!/usr/bin/env bash
# Times one pass of tarvel.exe under Wine against the floor (an empty process that loads
# advapi32 and shell32) and against the reg.exe script a user would write instead, all in
# one throw-away 32-bit prefix with its server kept running. Prints the medians and the
# ratios and writes them to bench/RESULTS.txt, the reference of the last measurement.
# Usage: bench.sh [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-30}
scripts/setup.sh hyperfine
cmake --preset tests >/dev/null
cmake --build --preset tests -j "$(nproc)" --target tarvel tarvel_without_event tarvel_floor tarvel_com_floor \
    taskscheduler_standin >/dev/null
build="$PWD/build/tests"

WINEPREFIX=$(mktemp -d /tmp/tarvel-bench.XXXXXX)
export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LANG=C.UTF-8 LC_ALL=C.UTF-8
trap 'wineserver -k >/dev/null 2>&1 || true; rm -rf "$WINEPREFIX"' EXIT
WINEARCH=win32 wineboot -i </dev/null >/dev/null 2>&1
wineserver -w
wineserver -p </dev/null >/dev/null 2>&1

# Everything runs from C:\bench; one binary is tried as XP and as 7 under two names.
dir="$WINEPREFIX/drive_c/bench"
mkdir -p "$dir"
cp "$build/tarvel.exe" "$dir/tarvel.exe"
cp "$build/tarvel.exe" "$dir/tarvel7.exe"
cp "$build/bench/tarvel_without_event.exe" "$dir/tarvelq.exe"
cp "$build/bench/tarvel_without_event.exe" "$dir/tarvel7q.exe"
cp "$build/bench/tarvel_floor.exe" "$dir/floor.exe"
cp "$build/bench/tarvel_com_floor.exe" "$dir/comfloor.exe"
cp bench/peer.cmd "$dir/peer.cmd"
cp "$build/standin/taskscheduler/taskscheduler_standin.dll" "$dir/standin.dll"
wine reg add 'HKCU\Software\Wine\AppDefaults\tarvel.exe' /v Version /d winxp /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\AppDefaults\tarvel7.exe' /v Version /d win7 /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\AppDefaults\tarvelq.exe' /v Version /d winxp /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\AppDefaults\tarvel7q.exe' /v Version /d win7 /f >/dev/null 2>&1
wine reg add 'HKLM\Software\Classes\CLSID\{0F87369F-A4E5-4CFC-BD3E-73E6154572DD}\InprocServer32' \
    /ve /d 'C:\bench\standin.dll' /f >/dev/null 2>&1

results=$(mktemp -d)
# The command is one string, split like a shell would: single quotes keep the backslashes.
measure() {  # NAME MARKER(present|absent) COMMAND
    local name=$1 marker=$2 command=$3
    if [ "$marker" = present ]; then mkdir -p "$WINEPREFIX/drive_c/Preload"; else rm -rf "$WINEPREFIX/drive_c/Preload"; fi
    # Back to back, a run often overlaps the previous process's tear-down in Wine and takes
    # 50 ms longer; a pause before each run measures what a pass at logon costs.
    hyperfine -N --style none --warmup 3 --runs "$runs" --prepare 'sleep 0.1' --export-json "$results/$name.json" "$command" >/dev/null
}
measure floor absent "wine 'C:\bench\floor.exe'"
measure com_floor absent "wine 'C:\bench\comfloor.exe'"
measure xp_normal absent "wine 'C:\bench\tarvel.exe'"
measure xp_preload present "wine 'C:\bench\tarvel.exe'"
measure win7_normal absent "wine 'C:\bench\tarvel7.exe'"
measure win7_preload present "wine 'C:\bench\tarvel7.exe'"
measure peer_normal absent "wine cmd /c 'C:\bench\peer.cmd'"
measure peer_preload present "wine cmd /c 'C:\bench\peer.cmd'"

# What the event costs: the program with and without it, run by turns in the one prefix, so
# that whatever the machine does meanwhile weighs on both alike.
interleave() {  # NAME MARKER(present|absent) WITH WITHOUT
    local name=$1 marker=$2 with=$3 without=$4
    if [ "$marker" = present ]; then mkdir -p "$WINEPREFIX/drive_c/Preload"; else rm -rf "$WINEPREFIX/drive_c/Preload"; fi
    python3 - "$results/$name.pair" "$runs" "$with" "$without" <<'PY'
import json, statistics, subprocess, sys, time
out, runs, with_event, without_event = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]
times = {"with": [], "without": []}
for turn in range(runs + 3):
    order = [("with", with_event), ("without", without_event)]
    for key, exe in order if turn % 2 == 0 else reversed(order):
        time.sleep(0.1)
        start = time.perf_counter()
        subprocess.run(["wine", exe], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if turn >= 3:
            times[key].append((time.perf_counter() - start) * 1000)
with open(out, "w") as f:
    json.dump({key: statistics.median(value) for key, value in times.items()}, f)
PY
}
interleave event_xp_normal absent 'C:\bench\tarvel.exe' 'C:\bench\tarvelq.exe'
interleave event_xp_preload present 'C:\bench\tarvel.exe' 'C:\bench\tarvelq.exe'
interleave event_win7_normal absent 'C:\bench\tarvel7.exe' 'C:\bench\tarvel7q.exe'
interleave event_win7_preload present 'C:\bench\tarvel7.exe' 'C:\bench\tarvel7q.exe'

python3 - "$results" "$runs" <<'PY' | tee bench/RESULTS.txt
import json, os, platform, subprocess, sys
results, runs = sys.argv[1], sys.argv[2]
def median(name):
    with open(os.path.join(results, name + ".json")) as f:
        return json.load(f)["results"][0]["median"] * 1000
m = {n[:-5]: median(n[:-5]) for n in os.listdir(results) if n.endswith(".json")}
pairs = {}
for n in os.listdir(results):
    if n.endswith(".pair"):
        with open(os.path.join(results, n)) as f:
            pairs[n[:-5]] = json.load(f)
wine = subprocess.run(["wine", "--version"], capture_output=True, text=True).stdout.strip()
print(f"tarvel benchmark: medians of {runs} runs, milliseconds per process, under {wine} ({platform.machine()}, {os.cpu_count()} cores)")
print()
for name, label in [("floor", "floor (loads advapi32 and shell32)"),
                    ("com_floor", "COM floor (COM, worker, task lookup)"),
                    ("xp_normal", "tarvel, Windows XP, normal mode"),
                    ("xp_preload", "tarvel, Windows XP, preload mode"),
                    ("win7_normal", "tarvel, Windows 7 + stand-in, normal mode"),
                    ("win7_preload", "tarvel, Windows 7 + stand-in, preload mode"),
                    ("peer_normal", "reg.exe script, normal mode"),
                    ("peer_preload", "reg.exe script, preload mode")]:
    print(f"  {label:<45} {m[name]:8.1f}")
print()
ok = True
for mode in ("normal", "preload"):
    tf = m[f"xp_{mode}"] / m["floor"]
    pt = m[f"peer_{mode}"] / m[f"xp_{mode}"]
    ok &= tf <= 1.15 and pt >= 8
    print(f"  {mode:<8} tarvel/floor {tf:5.2f} (goal <= 1.15)   peer/tarvel {pt:5.1f} (goal >= 8)")
for mode in ("normal", "preload"):
    tc = m[f"win7_{mode}"] / m["com_floor"]
    ok &= tc <= 1.15
    print(f"  {mode:<8} Windows 7 tarvel/COM floor {tc:5.2f} (goal <= 1.15)")
print()
print("  the event, by turns in one prefix (medians, ms):")
for release, label, goal in (("xp", "Windows XP", 1.05), ("win7", "Windows 7 ", None)):
    for mode in ("normal", "preload"):
        p = pairs[f"event_{release}_{mode}"]
        ratio = p["with"] / p["without"]
        if goal is not None:
            ok &= ratio <= goal
        text = f"(goal <= {goal})" if goal is not None else ""
        print(f"  {label} {mode:<8} with {p['with']:6.1f}  without {p['without']:6.1f}  ratio {ratio:5.2f} {text}")
print()
print("  goals met" if ok else "  goals NOT met")
PY
rm -rf "$results"
