#!/usr/bin/env bash
# Builds the installer, lists what it carries and shows it under Wine.
set -euo pipefail
caller_dir=$PWD
# The build reads it from its own folder: absolute, from the caller's.
[ -z "${QUENTHALVOX_SIGNING_PASSWORD_FILE:-}" ] ||
    export QUENTHALVOX_SIGNING_PASSWORD_FILE=$(realpath -m -- "$QUENTHALVOX_SIGNING_PASSWORD_FILE")
cd "$(dirname "$0")"

usage() {
    cat <<'EOF'
Usage: ./run.sh [-D<cmake setting>...]

Builds the installer (the payload archive and the Windows build), printing a
line for each step (the whole output goes to <build>/run-build.log), lists
what the installer carries (each entry's name, size and source file, then the
archive's size against the builds') and shows it under Wine: on the desktop
when DISPLAY is set (click through it yourself); otherwise under Xvfb, where
its licence page and selection page are photographed to
<build>/licence-page.png and <build>/selection-page.png before it is closed.

Settings are passed to CMake and kept in the build folder, for example
  ./run.sh -DQUENTHALVOX_PAYLOAD_DIR=/path/to/builds
to pack the real plug-in builds instead of the generated samples (a relative
path, here and in BUILD_DIR, is taken from the folder you run the command in), and
  ./run.sh -DQUENTHALVOX_PAYLOAD_DIR=
to go back to the samples.

Signing (Authenticode, SHA-256, with osslsigncode): name a PKCS#12 certificate
and give its password in the environment, in a file or in a variable:
  QUENTHALVOX_SIGNING_PASSWORD_FILE=/path/to/password ./run.sh \
      -DQUENTHALVOX_SIGNING_CERTIFICATE=/path/to/certificate.p12 \
      -DQUENTHALVOX_TIMESTAMP_URL=<RFC 3161 time-stamping server> \
      -DQUENTHALVOX_SIGNING_URL=<your web page>
  (or QUENTHALVOX_SIGNING_PASSWORD=... in the environment instead of the file).
The two URLs are optional. The password is read at every build that signs and
never kept. <build>/windows/quenthalvox-installer.exe is then the signed
installer, and nothing while signing fails; the linker's output beside it is
quenthalvox-installer-unsigned.exe. The installer is signed again when it or
a signing setting changes, or the certificate file's content; otherwise the
run says that the signature is up to date, and reads no password.
-DQUENTHALVOX_SIGNING_CERTIFICATE= goes back to an unsigned installer.

Environment:
  BUILD_DIR                          build folder (default: build/ in the project)
  QUENTHALVOX_SIGNING_PASSWORD_FILE  file holding the certificate's password
  QUENTHALVOX_SIGNING_PASSWORD       the certificate's password
EOF
}

for argument; do case $argument in -h | --help) usage; exit 0 ;; esac; done
build=$(tools/configure-build.sh "$0" "$caller_dir" "$@")

# One short line for each step of the build: what it compiles, links,
# generates, packs or signs.
steps() {
    sed -u -n -E '
        s/^\[ *[0-9]+%\] Building [A-Z]+ object (.*)CMakeFiles\/[^/]+\.dir\/(.+)\.(o|obj|res)$/  compiling \1\2/p; t
        s/^\[ *[0-9]+%\] Linking [A-Z]+ [a-z ]+ (.*\/)?([^/]+)$/  linking \2/p; t
        s/^\[ *[0-9]+%\] Performing configure step for .windows_build.$/  configuring the Windows build/p; t
        /^\[ *[0-9]+%\] (Built target|No .* step|Creating directories|Completed|Performing|Scanning)/d
        s/^\[ *[0-9]+%\] (.)/  \l\1/p'
}

# The installer and its test driver only: no unit tests, no benchmarks.
log=$build/run-build.log
echo "Building the installer, its test driver and the driver's plug-in holder (whole output: $log)"
if ! cmake --build "$build" --target windows_build -j "$(nproc)" 2>&1 | tee "$log" | steps; then
    grep -v '^\[ *[0-9]*%\]' "$log" >&2 || true
    echo "The build failed: see above, or $log." >&2
    exit 1
fi

installer=$build/windows/quenthalvox-installer.exe
archive=$build/archive
echo
echo "The installer carries:"
awk -F '\t' '{ printf "  %-16s %10d bytes  from %s\n", $1, $3, $2 }' "$archive/payload_files.txt"
certificate=$(sed -n 's/^QUENTHALVOX_SIGNING_CERTIFICATE:FILEPATH=//p' "$build/CMakeCache.txt")
if [ -z "$certificate" ]; then
    signature="unsigned"
elif grep -qxF "Signed $installer" "$log"; then
    signature="signed now with $certificate"
else
    signature="signed with $certificate, up to date: nothing was signed now"
fi
# What the archive gained over the builds, from the files themselves.
awk -F '\t' -v out="$(($(stat -c %s "$archive/payload_pool.bin") + $(stat -c %s "$archive/payload_directory.bin")))" \
    -v installer="$installer" -v signature="$signature" '
    { builds++; bytes += $3 }
    END {
        printf "%d builds of %.1f MB packed into an archive of %.1f MB, %d%% smaller. Installer: %s (%s)\n",
            builds, bytes / 1e6, out / 1e6, int(100 - 100 * out / bytes + 0.5), installer, signature
    }' "$archive/payload_files.txt"
echo

export WINEPREFIX=$build/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "Preparing Wine in $WINEPREFIX (once, about 20 seconds)"
    tests/e2e/prefix.sh "$WINEPREFIX"
fi

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
if ! tests/e2e/run_scenario.sh "$WINEPREFIX" "$build/windows/e2e_driver.exe" "$installer" "$artefacts" tour \
    > "$artefacts.log" 2>&1; then
    cat "$artefacts.log" >&2
    echo "Running the installer under Xvfb failed: see above, or $artefacts.log." >&2
    exit 1
fi
cp "$artefacts/tour-licence.png" "$build/licence-page.png"
cp "$artefacts/tour-selection.png" "$build/selection-page.png"
echo "Licence page: $build/licence-page.png"
echo "Selection page: $build/selection-page.png"
