#!/usr/bin/env bash
# Usage: format.sh CLANG_FORMAT SOURCE_DIR
# Fails on any C/C++ file of the project (program, stand-in, tests, benchmark) that
# clang-format would change; `clang-format -i FILE` applies .clang-format to it.
set -euo pipefail
clang_format=$1
cd "$2"
mapfile -d '' files < <(find . \( -path ./build -o -path ./.git \) -prune -o \
    -type f \( -name '*.cpp' -o -name '*.h' -o -name '*.c' \) -print0 | sort -z)
if [ ${#files[@]} -eq 0 ]; then
    echo "no C/C++ files found under $2" >&2
    exit 1
fi
"$clang_format" --dry-run --Werror "${files[@]}"
echo "${#files[@]} files are laid out as .clang-format asks"
