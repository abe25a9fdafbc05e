#!/usr/bin/env bash
# Runs one end-to-end scenario: the test driver starts the installer under Wine
# and checks it; once the page is up, a screenshot of the screen is kept as
# <artefacts>/<scenario>.png. Exits with the driver's exit code.
# Usage: run_scenario.sh <prefix> <e2e_driver.exe> <installer.exe> <artefacts> <scenario> [driver options]
# Driver options that begin with "/" are Unix paths and reach the driver as Z: paths.
set -euo pipefail
if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$@"
fi
prefix=$(realpath -m "$1") driver=$2 installer=$3 artefacts=$4 scenario=$5
shift 5
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

windows_path() { local p; p=$(realpath "$1"); echo "Z:${p//\//\\}"; }

options=()
for option in "$@"; do
    case $option in
        /*) options+=("$(windows_path "$option")") ;;
        *) options+=("$option") ;;
    esac
done

mkdir -p "$artefacts"
shot=$artefacts/$scenario
rm -f "$shot.ready" "$shot.done" "$shot.png"

# The server ends as soon as the last Wine process does, not seconds later.
wineserver --persistent=0
wine "$driver" "$(windows_path "$installer")" "$scenario" --shot "$(windows_path "$artefacts")\\$scenario" "${options[@]}" &
driver_pid=$!
while kill -0 "$driver_pid" 2>/dev/null && [ ! -e "$shot.ready" ]; do sleep 0.1; done
shot_taken=no
if [ -e "$shot.ready" ]; then
    import -window root "$shot.png" && shot_taken=yes
    touch "$shot.done"
fi
status=0
wait "$driver_pid" || status=$?
if [ "$shot_taken" = yes ]; then
    echo "screenshot: $shot.png"
elif [ "$status" -eq 0 ]; then
    echo "FAIL: no screenshot taken"
    status=1
fi
wineserver --wait
rm -f "$shot.ready" "$shot.done"
exit "$status"
