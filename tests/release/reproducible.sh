#!/usr/bin/env bash
# Two clean builds of the same sources, in folders of different names, must give the same
# tarvel.exe, the same kit program and the same package byte for byte; the package states each
# program's version in its File table and as its own, and so do the programs' resources and
# manifests, which also name the releases from Vista to 10. The package code
# follows the files' contents, the summary's times are the commit's, and the folder is locked
# before any file is copied.
# Usage: reproducible.sh SOURCE_DIR WORK_DIR PROGRAM_VERSION
set -euo pipefail
source_dir=$1
work=$2
version=$3
rm -rf "$work"
for tree in first second-build; do
    cmake -S "$source_dir" -B "$work/$tree" --toolchain "$source_dir/cmake/mingw-i686.cmake" \
        -DCMAKE_BUILD_TYPE=MinSizeRel -DTARVEL_TESTS=OFF >/dev/null
    cmake --build "$work/$tree" --target tarvel tarvel_kit_program tarvel_msi -j 2 >/dev/null
    # A build a moment later, as a second machine would make it.
    sleep 1
done
failed=0
for file in tarvel.exe tarvel-kit.exe "tarvel-$version.msi"; do
    if cmp "$work/first/$file" "$work/second-build/$file"; then
        echo "reproducible: $file $(sha256sum <"$work/first/$file" | cut -d' ' -f1)"
    else
        echo "FAIL: two builds of the same sources give two different $file"
        failed=1
    fi
done
for key in TarvelExe TarvelCheckExe; do
    stated=$(msiinfo export "$work/first/tarvel-$version.msi" File | awk -F'\t' -v key=$key '$1 == key { print $5 }')
    if [ "$stated" != "$version" ]; then
        echo "FAIL: the package states $key's version as '$stated', not $version"
        failed=1
    fi
done
msi="$work/first/tarvel-$version.msi"
product=$(msiinfo export "$msi" Property | tr -d '\r' | awk -F'\t' '$1 == "ProductVersion" { print $2 }')
if [ "$product" != "$version" ]; then
    echo "FAIL: the package's version is '$product', not $version"
    failed=1
fi
export TZ=UTC
python3 - "$source_dir" "$work" "$version" "$msi" <<'PY' || failed=1
import os, shutil, subprocess, sys, time
source_dir, work, version, msi = sys.argv[1:]
sys.path.insert(0, os.path.join(source_dir, "installer"))
import reproducible_package as package
failed = False
# Each program's version resource and manifest state the release's version, and the manifest
# names every release from Vista to 10.
import re
import xml.etree.ElementTree as ET
SUPPORTED = {"{e2011457-1546-43c5-a5fe-008deee3d3f0}", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
             "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
             "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}
for exe in ("tarvel.exe", "tarvel-check.exe", "tarvel-kit.exe"):
    path = os.path.join(work, "first", exe)
    stated = package.file_version(path)
    if stated != version:
        print(f"FAIL: {exe} states version {stated}, not {version}")
        failed = True
    found = re.search(rb"<\?xml[^>]*>\s*<assembly.*?</assembly>", open(path, "rb").read(), re.S)
    manifest = ET.fromstring(found.group(0)) if found else None
    identity = manifest.find("{urn:schemas-microsoft-com:asm.v1}assemblyIdentity") if found else None
    oses = {e.get("Id") for e in manifest.iter("{urn:schemas-microsoft-com:compatibility.v1}supportedOS")} if found else set()
    if identity is None or identity.get("version") != version or oses != SUPPORTED:
        print(f"FAIL: {exe}'s manifest states version {identity.get('version') if identity is not None else None} "
              f"and {len(oses)} of the {len(SUPPORTED)} releases from Vista to 10")
        failed = True
# One byte of the program changes the package code; the files' names alone must not make it.
for name, flip in (("one", False), ("other", True)):
    os.makedirs(os.path.join(work, name))
    copy = os.path.join(work, name, "tarvel.exe")
    shutil.copy(os.path.join(work, "first", "tarvel.exe"), copy)
    if flip:
        with open(copy, "r+b") as f:
            f.seek(1000)
            byte = f.read(1)
            f.seek(1000)
            f.write(bytes([byte[0] ^ 1]))
codes = set()
for name in ("one", "other"):
    os.chdir(os.path.join(work, name))
    codes.add(package.package_code((version, "tarvel.exe")))
if len(codes) != 2:
    print("FAIL: a program changed by one byte gives the same package code")
    failed = True
# The summary's times are the commit's.
summary = subprocess.run(["msiinfo", "suminfo", msi], capture_output=True, text=True).stdout
commit = time.strftime("%a %b %e %H:%M:%S %Y", time.gmtime(package.source_time(source_dir)))
for field in ("Created", "Last saved"):
    if f"{field}: {commit}" not in summary:
        print(f"FAIL: the package's '{field}' time is not the commit's ({commit}):\n{summary}")
        failed = True
# Locked from the first byte: the folders are worked out, then locked, before any file lands
# and long before the first pass runs what landed.
rows = subprocess.run(["msiinfo", "export", msi, "InstallExecuteSequence"], capture_output=True, text=True).stdout
sequence = {line.split("\t")[0]: int(line.split("\t")[2]) for line in rows.splitlines()[3:] if line.count("\t") == 2}
order = [a for a in ("PrepareInstallFolder", "InstallInitialize", "LockInstallFolder", "CreateFolders", "InstallFiles",
                     "FirstPass") if a in sequence]
if [a for a in sorted(order, key=sequence.get)] != order or "LockInstallFolder" not in order:
    print(f"FAIL: the install's order is {sorted(order, key=sequence.get)}, not {order}")
    failed = True
sys.exit(1 if failed else 0)
PY
# The first tree stays for the signing test, which adds only the signed copies to it.
[ $failed -eq 0 ] && rm -rf "$work/second-build"
exit $failed
