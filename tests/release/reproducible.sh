#!/usr/bin/env bash
# Two clean builds of the same sources, in folders of different names, must give the same
# tarvel.exe byte for byte.
# Usage: reproducible.sh SOURCE_DIR WORK_DIR
set -euo pipefail
source_dir=$1
work=$2
rm -rf "$work"
for tree in first second-build; do
    cmake -S "$source_dir" -B "$work/$tree" --toolchain "$source_dir/cmake/mingw-i686.cmake" \
        -DCMAKE_BUILD_TYPE=MinSizeRel -DTARVEL_TESTS=OFF >/dev/null
    cmake --build "$work/$tree" --target tarvel -j 2 >/dev/null
done
if cmp "$work/first/tarvel.exe" "$work/second-build/tarvel.exe"; then
    echo "reproducible: $(sha256sum <"$work/first/tarvel.exe" | cut -d' ' -f1)"
    rm -rf "$work"
else
    echo "FAIL: two builds of the same sources differ"
    exit 1
fi
