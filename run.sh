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
echo
echo "The installer carries:"
# The packer's own account of the archive it wrote and checked.
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
