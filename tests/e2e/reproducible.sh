#!/usr/bin/env bash
# Builds the installer a second time, from scratch, in another folder and from
# the same inputs, and fails unless the two executables are byte-identical.
# Usage: reproducible.sh <source> <reference exe> <scratch folder> <pool> <directory> <icon>
set -euo pipefail
source=$1 reference=$2 scratch=$3 pool=$4 directory=$5 icon=$6
rm -rf "$scratch"
cmake -S "$source" -B "$scratch" -DCMAKE_TOOLCHAIN_FILE="$source/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=MinSizeRel -DPAYLOAD_POOL="$pool" -DPAYLOAD_DIRECTORY="$directory" \
    -DINSTALLER_ICON="$icon" > "$scratch.log" 2>&1 || { cat "$scratch.log"; exit 1; }
cmake --build "$scratch" --target quenthalvox-installer -j2 >> "$scratch.log" 2>&1 || { cat "$scratch.log"; exit 1; }
second=$scratch/quenthalvox-installer.exe
if cmp "$reference" "$second"; then
    echo "byte-identical: $(stat -c %s "$reference") bytes, sha256 $(sha256sum < "$reference" | cut -d' ' -f1)"
    rm -rf "$scratch" "$scratch.log"
else
    echo "the second build differs: $second"
    exit 1
fi
