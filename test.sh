#!/usr/bin/env bash
# Runs every test: host unit tests, benchmark smoke runs, checks of the built
# executable and the end-to-end scenarios on it under Wine.
set -euo pipefail
caller_dir=$PWD
# The build reads it from its own folder: absolute, from the caller's.
[ -z "${QUENTHALVOX_SIGNING_PASSWORD_FILE:-}" ] ||
    export QUENTHALVOX_SIGNING_PASSWORD_FILE=$(realpath -m -- "$QUENTHALVOX_SIGNING_PASSWORD_FILE")
cd "$(dirname "$0")"

usage() {
    cat <<'EOF'
Usage: ./test.sh [-D<cmake setting>...]

Installs what is missing, builds everything and runs every test through CTest:
the host unit tests, the benchmarks' smoke runs, the checks of the built
executable and the end-to-end scenarios under Wine. Ends with CTest's summary
and fails when a test fails.

Settings are passed to CMake and kept in the build folder, for example
  ./test.sh -DQUENTHALVOX_PAYLOAD_DIR=/path/to/builds
to test an installer that carries the real plug-in builds (a relative path,
here and in BUILD_DIR, is taken from the folder you run the command in; an
empty one goes back to the samples).

One group of tests, once built: ctest --test-dir build -L unit   (or exe, e2e, bench)

Environment:
  BUILD_DIR   build folder (default: build/ in the project)
EOF
}

for argument; do case $argument in -h | --help) usage; exit 0 ;; esac; done
build=$(tools/configure-build.sh "$0" "$caller_dir" "$@")
cmake --build "$build" -j "$(nproc)"
ctest --test-dir "$build" --output-on-failure -j "$(nproc)"
