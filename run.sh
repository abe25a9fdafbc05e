#!/usr/bin/env bash
# Builds everything and runs the installer under Wine: on the desktop when a
# display is set (click through it yourself), otherwise under Xvfb, where the
# licence page is saved as a screenshot and then closed.
# BUILD_DIR chooses another build folder than build/.
set -euo pipefail
cd "$(dirname "$0")"
build=$(realpath -m "${BUILD_DIR:-build}")
tools/install-dependencies.sh
cmake -S . -B "$build"
cmake --build "$build" -j "$(nproc)"

installer=$build/windows/quenthalvox-installer.exe
echo
# The packer is deterministic: packing the sample builds again into a scratch
# folder prints the summary of the archive that the installer carries.
echo "Payload archive of the sample builds:"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
entries=()
for file in target_cl64 target_cl32 target_fl64 target_fl32 target_st64; do
    entries+=("bin/$file=$build/samples/$file")
done
if "$build/payload/packer/packer" --pool "$scratch/pool" --directory "$scratch/directory" "${entries[@]}"; then
    cmp -s "$scratch/pool" "$build/archive/payload_pool.bin" || echo "(the build packed other plug-in builds than these samples)"
fi
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
echo "No display: running the installer under Xvfb and photographing its licence page."
tests/e2e/run_scenario.sh "$WINEPREFIX" "$build/windows/e2e_driver.exe" "$installer" "$artefacts" cancel
cp "$artefacts/cancel.png" "$build/licence-page.png"
echo "Licence page: $build/licence-page.png"
