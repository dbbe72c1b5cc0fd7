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
cp "$build/tarvel.exe" "$dir/tarvel10.exe"
cp "$build/bench/tarvel_without_event.exe" "$dir/tarvelq.exe"
cp "$build/bench/tarvel_without_event.exe" "$dir/tarvel7q.exe"
cp "$build/bench/tarvel_floor.exe" "$dir/floor.exe"
cp "$build/bench/tarvel_com_floor.exe" "$dir/comfloor.exe"
cp bench/peer.cmd "$dir/peer.cmd"
cp "$build/standin/taskscheduler/taskscheduler_standin.dll" "$dir/standin.dll"
wine reg add 'HKCU\Software\Wine\AppDefaults\tarvel.exe' /v Version /d winxp /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\AppDefaults\tarvel7.exe' /v Version /d win7 /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\AppDefaults\tarvel10.exe' /v Version /d win10 /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\AppDefaults\tarvelq.exe' /v Version /d winxp /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\AppDefaults\tarvel7q.exe' /v Version /d win7 /f >/dev/null 2>&1
wine reg add 'HKLM\Software\Classes\CLSID\{0F87369F-A4E5-4CFC-BD3E-73E6154572DD}\InprocServer32' \
    /ve /d 'C:\bench\standin.dll' /f >/dev/null 2>&1

results=$(mktemp -d)
# The reg.exe script takes a second a run: hyperfine times it on its own. The command is one
# string, split like a shell would: single quotes keep the backslashes.
measure() {  # NAME MARKER(present|absent) COMMAND
    local name=$1 marker=$2 command=$3
    if [ "$marker" = present ]; then mkdir -p "$WINEPREFIX/drive_c/Preload"; else rm -rf "$WINEPREFIX/drive_c/Preload"; fi
    # Back to back, a run often overlaps the previous process's tear-down in Wine and takes
    # 50 ms longer; a pause before each run measures what a pass at logon costs.
    hyperfine -N --style none --warmup 3 --runs "$runs" --prepare 'sleep 0.1' --export-json "$results/$name.json" "$command" >/dev/null
}
measure peer_normal absent "wine cmd /c 'C:\bench\peer.cmd'"
measure peer_preload present "wine cmd /c 'C:\bench\peer.cmd'"

# The program, the floors and the program without its event (tarvelq.exe, tarvel7q.exe) run
# by turns in the one prefix, each after a pause of 0.1 s, so that whatever the machine does
# meanwhile weighs on all alike: on a busy machine the floor alone drifts by half between
# batches, far more than the differences measured here.
python3 - "$results" "$runs" "$WINEPREFIX/drive_c/Preload" <<'PY'
import json, os, shutil, statistics, subprocess, sys, time
results, runs, marker = sys.argv[1], int(sys.argv[2]), sys.argv[3]
items = [("floor", "absent", "floor.exe"), ("com_floor", "absent", "comfloor.exe"),
         ("xp_normal", "absent", "tarvel.exe"), ("xp_preload", "present", "tarvel.exe"),
         ("win7_normal", "absent", "tarvel7.exe"), ("win7_preload", "present", "tarvel7.exe"),
         ("win10_preload", "present", "tarvel10.exe"),
         ("xpq_normal", "absent", "tarvelq.exe"), ("xpq_preload", "present", "tarvelq.exe"),
         ("win7q_normal", "absent", "tarvel7q.exe"), ("win7q_preload", "present", "tarvel7q.exe")]
times = {name: [] for name, _, _ in items}
for turn in range(runs + 3):
    shift = turn % len(items)
    for name, state, exe in items[shift:] + items[:shift]:
        if state == "present":
            os.makedirs(marker, exist_ok=True)
        else:
            shutil.rmtree(marker, ignore_errors=True)
        time.sleep(0.1)
        start = time.perf_counter()
        subprocess.run(["wine", "C:\\bench\\" + exe], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if turn >= 3:
            times[name].append((time.perf_counter() - start) * 1000)
for name, values in times.items():
    with open(os.path.join(results, name + ".turns"), "w") as f:
        json.dump(statistics.median(values), f)
PY

python3 - "$results" "$runs" <<'PY' | tee bench/RESULTS.txt
import json, os, platform, subprocess, sys
results, runs = sys.argv[1], sys.argv[2]
def median(name):
    with open(os.path.join(results, name + ".json")) as f:
        return json.load(f)["results"][0]["median"] * 1000
m = {n[:-5]: median(n[:-5]) for n in os.listdir(results) if n.endswith(".json")}
for n in os.listdir(results):
    if n.endswith(".turns"):
        with open(os.path.join(results, n)) as f:
            m[n[:-6]] = json.load(f)
wine = subprocess.run(["wine", "--version"], capture_output=True, text=True).stdout.strip()
print(f"tarvel benchmark: medians of {runs} runs, milliseconds per process, under {wine} ({platform.machine()}, {os.cpu_count()} cores)")
print()
for name, label in [("floor", "floor (loads advapi32 and shell32)"),
                    ("com_floor", "COM floor (COM, worker, task lookup)"),
                    ("xp_normal", "tarvel, Windows XP, normal mode"),
                    ("xp_preload", "tarvel, Windows XP, preload mode"),
                    ("win7_normal", "tarvel, Windows 7 + stand-in, normal mode"),
                    ("win7_preload", "tarvel, Windows 7 + stand-in, preload mode"),
                    ("win10_preload", "tarvel, Windows 10 + stand-in, preload mode"),
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
# From 6.0 on a preload pass looks for a task left by another release: a COM pass.
tc = m["win10_preload"] / m["com_floor"]
ok &= tc <= 1.15
print(f"  preload  Windows 10 tarvel/COM floor {tc:5.2f} (goal <= 1.15)")
print()
print("  the event: the program with it and without it")
for release, label, goal in (("xp", "Windows XP", 1.05), ("win7", "Windows 7 ", None)):
    for mode in ("normal", "preload"):
        with_event, without_event = m[f"{release}_{mode}"], m[f"{release}q_{mode}"]
        ratio = with_event / without_event
        if goal is not None:
            ok &= ratio <= goal
        text = f"(goal <= {goal})" if goal is not None else ""
        print(f"  {label} {mode:<8} with {with_event:6.1f}  without {without_event:6.1f}  ratio {ratio:5.2f} {text}")
print()
print("  goals met" if ok else "  goals NOT met")
PY
rm -rf "$results"
