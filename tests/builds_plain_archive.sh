#!/usr/bin/env bash
# Builds the installer with the plain archive (-DQUENTHALVOX_PLAIN_ARCHIVE=ON)
# in a scratch folder, from the same payload builds, for the checks and the
# end-to-end runs on it.
# Usage: builds_plain_archive.sh <source> <scratch folder> <payload builds folder>
set -euo pipefail
source=$1 build=$(realpath -m "$2") builds=$3
rm -rf "$build"
mkdir -p "$build"
if ! { cmake -S "$source" -B "$build" -DQUENTHALVOX_PAYLOAD_DIR="$builds" -DQUENTHALVOX_PLAIN_ARCHIVE=ON &&
    cmake --build "$build" --target windows_build -j2; } > "$build/log" 2>&1; then
    tail -n 30 "$build/log"
    exit 1
fi
grep -F "packer: " "$build/log"
[ "$(head -c 8 "$build/archive/payload_pool.bin")" != "QVX-LZMA" ] || { echo "FAIL: the archive is compressed"; exit 1; }
