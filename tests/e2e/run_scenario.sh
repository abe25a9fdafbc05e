#!/usr/bin/env bash
# Runs one end-to-end scenario: the test driver starts the installer under Wine
# and checks it. Whenever the driver wants a screenshot it writes the shot's
# name and the area of the screen its windows cover ("<name> WxH+X+Y") into
# <artefacts>/<scenario>.shot and waits; that area is then kept as
# <artefacts>/<name>.png and the request removed. Exits with the driver's exit
# code; a scenario that passes without a single screenshot fails.
# Usage: run_scenario.sh <prefix> <e2e_driver.exe> <installer.exe> <artefacts> <scenario> [--small-drive]
#            [driver options]
# Driver options that begin with "/" are Unix paths and reach the driver as Z: paths.
# --small-drive mounts a fresh 64 KiB tmpfs as the prefix's drive Q: for the run
# (a full disk on demand; mounting needs root, as in CI).
set -euo pipefail
if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$@"
fi
prefix=$(realpath -m "$1") driver=$2 installer=$3 artefacts=$4 scenario=$5
shift 5
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

windows_path() { local p; p=$(realpath -m "$1"); echo "Z:${p//\//\\}"; }

options=()
small_drive=no
for option in "$@"; do
    case $option in
        --small-drive) small_drive=yes ;;
        /*) options+=("$(windows_path "$option")") ;;
        *) options+=("$option") ;;
    esac
done

mkdir -p "$artefacts"
request=$artefacts/$scenario.shot
rm -f "$request" "$request.tmp"

if [ "$small_drive" = yes ]; then
    drive=$(mktemp -d)
    if ! mount -t tmpfs -o size=64k tmpfs "$drive"; then
        rmdir "$drive"
        echo "FAIL: the small drive Q: could not be mounted (this scenario needs root)"
        exit 1
    fi
    trap 'rm -f "$prefix/dosdevices/q:"; umount "$drive"; rmdir "$drive"' EXIT
    ln -sfn "$drive" "$prefix/dosdevices/q:"
fi

# The server ends as soon as the last Wine process does, not seconds later.
wineserver --persistent=0
wine "$driver" "$(windows_path "$installer")" "$scenario" --shot "$(windows_path "$artefacts")\\$scenario" \
    "${options[@]}" &
driver_pid=$!
shots=()
shot_failed=no
while kill -0 "$driver_pid" 2>/dev/null; do
    if [ -e "$request" ]; then
        wanted=$(cat "$request")
        # Names come from the driver's table; anything else is refused.
        if [[ $wanted =~ ^([A-Za-z0-9._-]+)\ ([1-9][0-9]*x[1-9][0-9]*\+[0-9]+\+[0-9]+)$ ]] &&
            import -window root -crop "${BASH_REMATCH[2]}" +repage "$artefacts/${BASH_REMATCH[1]}.png"; then
            shots+=("$artefacts/${BASH_REMATCH[1]}.png")
        else
            echo "FAIL: no screenshot for the request \"$wanted\""
            shot_failed=yes
        fi
        rm -f "$request"
    fi
    sleep 0.05
done
status=0
wait "$driver_pid" || status=$?
for shot in "${shots[@]}"; do echo "screenshot: $shot"; done
if [ "$status" -eq 0 ] && { [ "$shot_failed" = yes ] || [ "${#shots[@]}" -eq 0 ]; }; then
    [ "${#shots[@]}" -eq 0 ] && echo "FAIL: no screenshot taken"
    status=1
fi
wineserver --wait
rm -f "$request" "$request.tmp"
exit "$status"
