#!/usr/bin/env bash
# Builds tarvel.exe and its tests and runs every test under Wine, in a 32-bit and a
# 64-bit prefix kept in the build tree.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset tests >/dev/null
cmake --build --preset tests -j "$(nproc)"
# Whatever the tests' outcome, no Wine server or service of the test prefixes outlives them.
trap 'tests/wine/prefix.sh down "$PWD/build/tests/wine" >/dev/null 2>&1 || true' EXIT
# Four slots on two cores: the scenarios that mostly wait for a hung Task Scheduler take two of
# them (tests/CMakeLists.txt), and what builds or lints on both cores takes two.
ctest --preset tests -j 4
