#!/usr/bin/env bash
# The reader's benchmark under Wine, then, for a compressed pool, xz -d of the
# same stream on this machine: the stream as an .lzma file (its properties with
# the window rounded up to a power of two, which xz insists on, an unknown
# length, the coded data), decoded as many rounds by xz --format=lzma -d.
# Prints the best time of each and their ratio (nothing is asserted).
# Usage: decode_against_xz.sh <wine prefix> <bench exe> <pool file> [--smoke]
set -euo pipefail
prefix=$1 bench=$2 pool=$3 smoke=${4:-}
rounds=101
[ -z "$smoke" ] || rounds=1
output=$(env --unset=DISPLAY WINEPREFIX="$prefix" WINEDEBUG=-all wine "$bench" $smoke)
echo "$output"
[ "$(head -c 8 "$pool")" = "QVX-LZMA" ] || exit 0

stream=$(mktemp)
trap 'rm -f "$stream"' EXIT
decoded=$(od -An -tu4 -j8 -N4 "$pool")
window=4096
while [ "$window" -lt "$decoded" ]; do window=$((window * 2)); done
{
    head -c 25 "$pool" | tail -c 1
    printf "$(printf '\\x%02x' $((window & 255)) $((window >> 8 & 255)) $((window >> 16 & 255)) $((window >> 24)))"
    printf '\377\377\377\377\377\377\377\377'
    tail -c +30 "$pool"
} > "$stream"
best=
for _ in $(seq "$rounds"); do
    start=$(date +%s%N)
    xz --format=lzma --decompress --stdout "$stream" > /dev/null
    took=$(( ($(date +%s%N) - start) / 1000 ))
    [ -n "$best" ] && [ "$best" -le "$took" ] || best=$took
done
ours=$(awk '/^decoding the pool/ { printf "%d", $4 * 1000 }' <<< "$output")
printf '%-36s%4d.%03d\n' "xz -d, one process a round" $((best / 1000)) $((best % 1000)) \
    "decoding the pool / xz -d" $((ours / best)) $((ours * 1000 / best % 1000))
