#!/usr/bin/env bash
# Builds tarvel.exe and its tests and runs every test under Wine, in a 32-bit and a
# 64-bit prefix kept in the build tree.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset tests >/dev/null
cmake --build --preset tests -j "$(nproc)"
ctest --preset tests -j 2
