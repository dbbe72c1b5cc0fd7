#!/usr/bin/env bash
# Two clean builds of the same sources, in folders of different names, must give the same
# tarvel.exe and the same package byte for byte; the package states the program's version
# in its File table.
# Usage: reproducible.sh SOURCE_DIR WORK_DIR PROGRAM_VERSION
set -euo pipefail
source_dir=$1
work=$2
version=$3
rm -rf "$work"
for tree in first second-build; do
    cmake -S "$source_dir" -B "$work/$tree" --toolchain "$source_dir/cmake/mingw-i686.cmake" \
        -DCMAKE_BUILD_TYPE=MinSizeRel -DTARVEL_TESTS=OFF >/dev/null
    cmake --build "$work/$tree" --target tarvel tarvel_msi -j 2 >/dev/null
    # A build a moment later, as a second machine would make it.
    sleep 1
done
failed=0
for file in tarvel.exe "tarvel-$version.msi"; do
    if cmp "$work/first/$file" "$work/second-build/$file"; then
        echo "reproducible: $file $(sha256sum <"$work/first/$file" | cut -d' ' -f1)"
    else
        echo "FAIL: two builds of the same sources give two different $file"
        failed=1
    fi
done
stated=$(msiinfo export "$work/first/tarvel-$version.msi" File | awk -F'\t' '$1 == "TarvelExe" { print $5 }')
if [ "$stated" != "$version" ]; then
    echo "FAIL: the package states tarvel.exe's version as '$stated', not $version"
    failed=1
fi
[ $failed -eq 0 ] && rm -rf "$work"
exit $failed
