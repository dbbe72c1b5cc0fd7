#!/usr/bin/env bash
# Usage: tidy.sh CLANG_TIDY BUILD_DIR SOURCE_DIR [EXTRA-ARG...]
# Runs clang-tidy with the project's .clang-tidy over the program, the check and the Task Scheduler
# stand-in, as the build compiles them for the mingw-w64 target; fails on any finding.
set -euo pipefail
clang_tidy=$1
build=$2
cd "$3"
shift 3
mapfile -d '' files < <(find app check common framework installer kit standin startup storage \
    -type f -name '*.cpp' -print0 | sort -z)
if [ ${#files[@]} -eq 0 ]; then
    echo "no sources found under $PWD" >&2
    exit 1
fi
extra=(--extra-arg=--target=i686-w64-mingw32
       # The GCC-only warnings of the build mean nothing to clang.
       --extra-arg=-Wno-unknown-warning-option)
for arg in "$@"; do
    extra+=("--extra-arg=$arg")
done
# Two files at a time, one per core.
printf '%s\0' "${files[@]}" |
    xargs -0 -n 1 -P 2 "$clang_tidy" -p "$build" --quiet "${extra[@]}"
echo "${#files[@]} files linted without a finding"
