#!/usr/bin/env bash
# Builds the installer, lists what it carries and shows it under Wine.
set -euo pipefail
caller_dir=$PWD
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
to pack the real plug-in builds instead of the generated samples (a relative
path is taken from the folder you run the command in), and
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
quenthalvox-installer-unsigned.exe. -DQUENTHALVOX_SIGNING_CERTIFICATE= goes
back to an unsigned installer.

Environment:
  BUILD_DIR                          build folder (default: build)
  QUENTHALVOX_SIGNING_PASSWORD_FILE  file holding the certificate's password
  QUENTHALVOX_SIGNING_PASSWORD       the certificate's password
EOF
}

source tools/configure-build.sh
configure_build "$@"
# The installer and its test driver only: no unit tests, no benchmarks. The
# build's output stays in a log unless it fails: packing prints the list of
# entries too, and it is shown once, below, whether packed now or earlier.
log=$build/run-build.log
echo "Building the installer and its test driver (output in $log)"
if ! cmake --build "$build" --target windows_build -j "$(nproc)" > "$log" 2>&1; then
    cat "$log"
    echo "The build failed: see above, or $log." >&2
    exit 1
fi

installer=$build/windows/quenthalvox-installer.exe
echo
echo "The installer carries:"
# The packer's own account of the archive it wrote and checked.
cat "$build/archive/summary.txt"
certificate=$(sed -n 's/^QUENTHALVOX_SIGNING_CERTIFICATE:FILEPATH=//p' "$build/CMakeCache.txt")
if [ -n "$certificate" ]; then
    echo "Installer: $installer, signed with $certificate"
else
    echo "Installer: $installer, unsigned"
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
echo "No display: running the installer under Xvfb and photographing its pages."
tests/e2e/run_scenario.sh "$WINEPREFIX" "$build/windows/e2e_driver.exe" "$installer" "$artefacts" tour
cp "$artefacts/tour-licence.png" "$build/licence-page.png"
cp "$artefacts/tour-selection.png" "$build/selection-page.png"
echo "Licence page: $build/licence-page.png"
echo "Selection page: $build/selection-page.png"
