#!/usr/bin/env python3
"""Usage: check_hardening.py COMPILE_COMMANDS TARGET...

Every source that a shipped target compiles carries the stack protector. The check of a
binary finds the guard's failure in it whenever any function carries the guard, and the
program's own library always brings some: a file of the program, the check or the package's
DLL built without the protector would go unseen there, so its compile command is read here.
"""
import json
import sys


def main():
    commands, targets = sys.argv[1], sys.argv[2:]
    with open(commands, encoding="utf-8") as f:
        entries = json.load(f)
    seen = {target: 0 for target in targets}
    failures = []
    for entry in entries:
        command = entry["command"]
        for target in targets:
            if f"CMakeFiles/{target}.dir/" in command:
                seen[target] += 1
                if "-fstack-protector-strong" not in command.split():
                    failures.append(f"{target}: {entry['file']} is built without -fstack-protector-strong")
    failures += [f"{target}: no source found" for target, count in seen.items() if count == 0]
    for failure in failures:
        print(failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
