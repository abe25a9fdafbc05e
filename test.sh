#!/usr/bin/env bash
# Runs every test: host unit tests, benchmark smoke runs and the end-to-end
# scenarios on the real installer under Wine. Installs what is missing first.
set -euo pipefail
cd "$(dirname "$0")"
tools/install-dependencies.sh
cmake -S . -B build
cmake --build build -j "$(nproc)"
ctest --test-dir build --output-on-failure -j "$(nproc)"
