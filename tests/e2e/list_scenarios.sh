#!/usr/bin/env bash
# Writes the driver's list of its scenarios (e2e_driver --list) to <list>, for
# CTest to make one test of each; nothing to do while the list is newer than
# the driver. The driver runs under Wine in <prefix>, made first when missing.
# Usage: list_scenarios.sh <prefix> <e2e_driver.exe> <list>
set -euo pipefail
prefix=$(realpath -m "$1") driver=$2 list=$3
[ "$list" -nt "$driver" ] && exit 0
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$prefix/system.reg" ]; then
    echo "Preparing the Wine prefix $prefix (once)"
    "$(dirname "$0")/prefix.sh" "$prefix"
fi
# A console program: no display needed. Its lines end in CR LF.
env -u DISPLAY wine "$driver" --list | tr -d '\r' > "$list.partial"
wineserver --wait
if [ ! -s "$list.partial" ]; then
    rm -f "$list.partial"
    echo "list_scenarios.sh: $driver --list listed no scenario" >&2
    exit 1
fi
mv -f "$list.partial" "$list"
