#!/usr/bin/env bash
# Creates a fresh, throwaway Wine prefix for one run of the end-to-end tests.
# Quiet when it works; when it fails, shows what Wine said.
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
log=$(mktemp)
trap 'rm -f "$log"' EXIT
status=0
if [ -n "${DISPLAY:-}" ]; then
    bash -c "$boot" > "$log" 2>&1 || status=$?
else
    xvfb-run -a -s "-screen 0 1280x1024x24" bash -c "$boot" > "$log" 2>&1 || status=$?
fi
if [ "$status" -ne 0 ] || [ ! -f "$prefix/system.reg" ]; then
    # A 64-bit-only Wine always fails to open syswow64's rundll32.exe while it
    # sets up a prefix; that line is never the cause.
    grep -v 'syswow64.*rundll32\.exe' "$log" >&2 || true
    echo "prefix.sh: creating the Wine prefix $prefix failed (exit code $status)" >&2
    exit 1
fi
