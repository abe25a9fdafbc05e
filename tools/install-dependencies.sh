#!/usr/bin/env bash
# Installs what the build and the tests need on Debian 12, when it is missing.
set -euo pipefail

packages=(
    cmake g++ make                      # host build
    liblzma-dev lzma-dev xz-utils       # the compressed archive: encoder, the installer's decoder, the bench's reference
    libgtest-dev libbenchmark-dev       # host tests and benchmarks
    g++-mingw-w64-x86-64                # the installer itself
    osslsigncode openssl                # signing it; the signing test's certificate
    wine wine64 xvfb xauth imagemagick  # end-to-end runs and their screenshots
)

missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q "${missing[@]}"
