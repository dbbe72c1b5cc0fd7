#!/usr/bin/env bash
# Usage: format.sh CLANG_FORMAT SOURCE_DIR
# Fails on any C/C++ file of the project (program, stand-in, tests, benchmark) that
# clang-format would change, or that holds a line longer than the column limit;
# `clang-format -i FILE` applies .clang-format to it.
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
# clang-format leaves comments as they are written (ReflowComments: false): a line past the
# column limit, a comment's included, fails here.
long=$(awk 'length > 120 { print FILENAME ":" FNR ": " length " characters" }' "${files[@]}")
if [ -n "$long" ]; then
    echo "$long"
    echo "lines longer than the column limit (120)" >&2
    exit 1
fi
echo "${#files[@]} files are laid out as .clang-format asks"
