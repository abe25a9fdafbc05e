#!/usr/bin/env bash
# Points the image's load configuration entry at the record _load_config_used,
# with the size the record gives in its first field: this linker (GNU ld
# before 2.41) leaves that entry empty.
#   set_load_config.sh <exe> <link map>
set -euo pipefail
exe=$1 map=$2
address=$(awk '$2 == "_load_config_used" { print $1; exit }' "$map")
[ -n "$address" ] || { echo "$map: no _load_config_used" >&2; exit 1; }
number() { od -An -t "u$2" -j "$1" -N "$2" "$exe" | tr -d ' '; }
header=$(number 60 4)
rva=$((address - $(number $((header + 48)) 8)))
sections=$(number $((header + 6)) 2)
table=$((header + 24 + $(number $((header + 20)) 2)))
size=
for ((i = 0; i < sections; ++i)); do
    entry=$((table + 40 * i))
    start=$(number $((entry + 12)) 4) length=$(number $((entry + 16)) 4)
    if ((rva >= start && rva + 4 <= start + length)); then
        size=$(number $(($(number $((entry + 20)) 4) + rva - start)) 4)
    fi
done
[ -n "$size" ] || { echo "$exe: _load_config_used lies in no section" >&2; exit 1; }
little_endian() { printf "\\\\x%02x\\\\x%02x\\\\x%02x\\\\x%02x" $(($1 & 255)) $(($1 >> 8 & 255)) $(($1 >> 16 & 255)) $(($1 >> 24 & 255)); }
# Data directory 10 of the PE32+ optional header.
printf "$(little_endian $rva)$(little_endian "$size")" | dd of="$exe" bs=1 seek=$((header + 24 + 112 + 80)) conv=notrunc status=none
