#!/usr/bin/env bash
# Builds the installer, lists what it carries and shows it under Wine.
set -euo pipefail
cd "$(dirname "$0")"

usage() {
    cat <<'EOF'
Usage: ./run.sh [-D<cmake setting>...]

Builds the installer (the payload archive and the Windows build), lists what
the installer carries (each entry's name, source file, size and checksum, then
the packer's totals) and shows it under Wine: on the desktop when DISPLAY is
set (click through it yourself); otherwise under Xvfb, where its licence page
and selection page are photographed to <build>/licence-page.png and
<build>/selection-page.png before it is closed.

Settings are passed to CMake and kept in the build folder, for example
  ./run.sh -DQUENTHALVOX_PAYLOAD_DIR=/path/to/builds
to pack the real plug-in builds instead of the generated samples.

Environment:
  BUILD_DIR   build folder (default: build)
EOF
}

source tools/configure-build.sh
configure_build "$@"
# The installer and its test driver only: no unit tests, no benchmarks.
cmake --build "$build" --target windows_build -j "$(nproc)"

installer=$build/windows/quenthalvox-installer.exe
directory=$build/archive/payload_directory.bin

# Reads a little-endian 32-bit field of the directory, in decimal (u) or hex (x).
field() { od -An --endian=little -t "$1"4 -j "$2" -N 4 "$directory" | tr -d ' '; }

# Walks the directory that the installer embeds: per entry its name, a NUL,
# checksum, size, then (offset, count) references up to a pair of zeros; a
# zero byte after the last entry ends it.
list_entries() {
    local at=0 first name checksum size pairs source
    printf '  %-16s %10s  %-8s  %s\n' entry bytes checksum "source file"
    while first=$(od -An -tu1 -j "$at" -N 1 "$directory" | tr -d ' ') && [ "${first:-0}" != 0 ]; do
        name=$(dd if="$directory" bs=1 skip="$at" count=256 status=none | tr '\0' '\n' | sed -n 1p)
        at=$((at + ${#name} + 1))
        checksum=$(field x "$at")
        size=$(field u $((at + 4)))
        at=$((at + 8))
        # awk stops reading at the end of the list, so od may die of SIGPIPE.
        pairs=$(set +o pipefail
            od -An -v --endian=little -tu4 -w8 -j "$at" "$directory" | awk '$1 == 0 && $2 == 0 { print NR; exit }')
        at=$((at + 8 * ${pairs:?the directory ends inside an entry}))
        # The build's list of packed files says where each entry came from.
        source=$(awk -F '\t' -v name="$name" '$1 == name { print $2 }' "$build/archive/payload_files.txt")
        printf '  %-16s %10s  %-8s  %s\n' "$name" "$size" "$checksum" "$source"
    done
}

echo
echo "The installer carries:"
list_entries
cat "$build/archive/summary.txt"
echo

export WINEPREFIX=$build/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
[ -f "$WINEPREFIX/system.reg" ] || tests/e2e/prefix.sh "$WINEPREFIX"

if [ -n "${DISPLAY:-}" ]; then
    echo "Starting the installer on $DISPLAY (close it or click through it to finish)."
    status=0
    wine "$installer" || status=$?
    wineserver --wait
    echo "The installer ended with exit code $status."
    exit 0
fi

artefacts=$build/run-artefacts
echo "No display: running the installer under Xvfb and photographing its pages."
tests/e2e/run_scenario.sh "$WINEPREFIX" "$build/windows/e2e_driver.exe" "$installer" "$artefacts" tour
cp "$artefacts/tour-licence.png" "$build/licence-page.png"
cp "$artefacts/tour-selection.png" "$build/selection-page.png"
echo "Licence page: $build/licence-page.png"
echo "Selection page: $build/selection-page.png"
