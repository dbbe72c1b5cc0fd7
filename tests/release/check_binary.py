#!/usr/bin/env python3
"""Checks a shipping binary (tarvel.exe, the package's tarvel_setup.dll): size, imports, the
headers that let Windows 2000 and XP load it, ASLR, DEP and the stack protector, and no time
stamp.

Usage: check_binary.py BINARY OBJDUMP ALLOWED_IMPORTS DELAYLOAD_DEF_DIR [MAX_SIZE [STATIC_EXTRA]]
"""
import os
import re
import subprocess
import sys

MAX_SIZE = 64 * 1024
# Every DLL a shipping binary may use. Those it imports statically are loaded before any of its
# code runs, from wherever Windows looks first: only a KnownDLL, which Windows maps from the
# system folder whatever lies beside the program, may be imported so. The rest are delay-loaded
# (res/delayload), and the programs load them by their full path in the system folder
# (common/platform/SystemDlls.cpp).
ALLOWED_DLLS = {"kernel32.dll", "advapi32.dll", "shell32.dll", "ole32.dll", "oleaut32.dll", "msvcrt.dll", "msi.dll",
                "netapi32.dll", "version.dll"}
KNOWN_DLLS = {
    "kernel32.dll": "a KnownDLL from Windows 2000 on",
    "advapi32.dll": "a KnownDLL from Windows 2000 on",
    "user32.dll": "a KnownDLL from Windows 2000 on",
    "gdi32.dll": "a KnownDLL from Windows 2000 on",
    "ole32.dll": "a KnownDLL from Windows 2000 on",
    "oleaut32.dll": "a KnownDLL from Windows 2000 on",
    "shell32.dll": "a KnownDLL from Windows 2000 on",
    "msvcrt.dll": "a KnownDLL from Vista on; on 2000 and XP loaded from the system folder as advapi32's own "
                  "import, before the program's",
}
DYNAMIC_BASE, NX_COMPAT = 0x0040, 0x0100


def allowed_imports(path):
    allowed = set()
    with open(path) as f:
        for line in f:
            words = line.split()
            if words and not words[0].startswith("#"):
                allowed.add((words[0].lower(), words[1]))
    return allowed


def imports(objdump_output):
    found, dll = set(), None
    for line in objdump_output.splitlines():
        m = re.match(r"\s*DLL Name: (\S+)", line)
        if m:
            dll = m.group(1).lower()
            continue
        m = re.match(r"\t[0-9a-f]+\t\s*\d+\s+(\S+)$", line)
        if m and dll:
            found.add((dll, m.group(1)))
    return found


def delay_imports(def_dir):
    # GNU ld leaves the delay-import directory empty, so the .def files are the record.
    found = set()
    for name in os.listdir(def_dir):
        if name.endswith(".def"):
            dll = None
            with open(os.path.join(def_dir, name)) as f:
                for line in f:
                    words = line.split()
                    if not words or words[0].startswith(";") or words[0] == "EXPORTS":
                        continue
                    if words[0] == "LIBRARY":
                        dll = words[1].lower()
                    else:
                        found.add((dll, words[0].split("@")[0]))
    return found


def header(objdump_output, key):
    m = re.search(r"^" + re.escape(key) + r"\s+(\S+)", objdump_output, re.M)
    return m.group(1) if m else None


def main(exe, objdump, allowed_path, def_dir, max_size=MAX_SIZE, static_extra=""):
    """static_extra: DLLs (comma-separated) a binary loaded by a host of Windows' own may import
    statically: the package's custom actions, which msiexec loads into its own process."""
    failures = []
    size = os.path.getsize(exe)
    if size > int(max_size):
        failures.append(f"{size} bytes, more than {max_size}")

    # The guard's failure (common/platform/StackGuard.cpp) is linked in only when functions carry it.
    with open(exe, "rb") as f:
        if b"stack buffer overrun detected" not in f.read():
            failures.append("built without the stack protector (-fstack-protector-strong)")

    out = subprocess.run([objdump, "-x", exe], capture_output=True, text=True, check=True).stdout
    allowed = allowed_imports(allowed_path)
    static = imports(out)
    known = set(KNOWN_DLLS) | {dll for dll in static_extra.lower().split(",") if dll}
    for dll in sorted({dll for dll, _ in static} - known):
        failures.append(f"imports {dll} statically, which is no KnownDLL: Windows would look for it beside the "
                        "program first; delay-load it (res/delayload)")
    every = static | delay_imports(def_dir)
    for dll, function in sorted(every):
        if dll not in ALLOWED_DLLS:
            failures.append(f"imports from {dll} ({function})")
        elif (dll, function) not in allowed:
            failures.append(f"imports {dll} {function}, which allowed-imports.txt does not list")
    if not any(dll == "advapi32.dll" for dll, _ in every):
        failures.append("no imports read: the check itself is broken")

    subsystem = (header(out, "MajorSubsystemVersion"), header(out, "MinorSubsystemVersion"))
    if subsystem not in {("4", "0"), ("5", "0")}:
        failures.append(f"subsystem version {'.'.join(map(str, subsystem))}: Windows 2000 and XP need 4.0 or 5.0")
    characteristics = int(header(out, "DllCharacteristics") or "0", 16)
    if not characteristics & DYNAMIC_BASE or not characteristics & NX_COMPAT:
        failures.append(f"DllCharacteristics {characteristics:#06x}: ASLR or DEP missing")
    if ".reloc" not in out:
        failures.append("no relocations: ASLR could not move the image")
    if not re.search(r"^Time/Date\s+Thu Jan  1 00:00:00 1970", out, re.M):
        failures.append("the PE header carries a time stamp")

    for failure in failures:
        print("FAIL:", failure)
    print(f"{os.path.basename(exe)}: {size} bytes, {len(every)} imports checked")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:7]))
