#!/usr/bin/env bash
# Creates a fresh, throwaway Wine prefix for one run of the end-to-end tests.
# Usage: prefix.sh <prefix folder>
set -euo pipefail
prefix=$(realpath -m "$1")
rm -rf "$prefix"
mkdir -p "$(dirname "$prefix")"
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# wineboot may open windows: give it a display, and let every Wine process of
# the prefix end while that display still exists.
# No window manager runs under Xvfb: Wine draws the captions and close boxes
# itself, so they show on screenshots and take real clicks.
boot='wineboot --init && wine reg add "HKCU\\Software\\Wine\\X11 Driver" /v Decorated /t REG_SZ /d N /f && wineserver --wait'
if [ -n "${DISPLAY:-}" ]; then
    bash -c "$boot"
else
    xvfb-run -a -s "-screen 0 1280x1024x24" bash -c "$boot"
fi
test -f "$prefix/system.reg"
