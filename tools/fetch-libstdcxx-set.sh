#!/usr/bin/env bash
# Rebuilds the packer's benchmark set of real builds: libstdc++-6.dll from
# Debian 12's four mingw-w64 GCC runtime packages, stripped, in the order the
# benchmark packs them. Not part of CI; needs apt-get, dpkg-deb and
# x86_64-w64-mingw32-strip (g++-mingw-w64-x86-64).
#   tools/fetch-libstdcxx-set.sh [folder]    (default: build/libstdcxx-set)
# Then: QUENTHALVOX_LIBSTDCXX_SET=<folder> build/tests/packer_bench
set -euo pipefail

destination=$(realpath -m "${1:-build/libstdcxx-set}")
version=12.2.0-14+deb12u1+25.2+b1
# strip writes the time into the PE header (and so into its checksum); this is
# the time stamp of the set the packer's figures were measured on.
export SOURCE_DATE_EPOCH=1796678482

# Entry name, package, path of the DLL inside it, SHA-256 of the stripped DLL.
set_files=(
    "x86_64-win32 gcc-mingw-w64-x86-64-win32-runtime usr/lib/gcc/x86_64-w64-mingw32/12-win32/libstdc++-6.dll 864f17a92b3b2e6facab00d39985ac944c3876bb6a452e73574ff86ec526ad95"
    "i686-win32   gcc-mingw-w64-i686-win32-runtime   usr/lib/gcc/i686-w64-mingw32/12-win32/libstdc++-6.dll   44d6a42de9f166c9ae52477511b5dff55f737262a3541765379f9eb23f9702b3"
    "x86_64-posix gcc-mingw-w64-x86-64-posix-runtime usr/lib/gcc/x86_64-w64-mingw32/12-posix/libstdc++-6.dll f0043724b5b40975b230611baeb4da5c666d25d21ba6738533923b8ca89e3924"
    "i686-posix   gcc-mingw-w64-i686-posix-runtime   usr/lib/gcc/i686-w64-mingw32/12-posix/libstdc++-6.dll   829fca9b8b7e4b66ade647e92632d048968f7e3cdbb5d6525ebf7041f3945e37"
)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$destination"
cd "$work"

for line in "${set_files[@]}"; do
    read -r name package dll sha256 <<<"$line"
    apt-get download -q "$package=$version"
    dpkg -x "${package}_"*.deb "extracted-$name"
    x86_64-w64-mingw32-strip -o "$destination/$name" "extracted-$name/$dll"
    echo "$sha256  $destination/$name" >>checksums
done
sha256sum --check --quiet checksums
echo "libstdc++ set in $destination:"
ls -l "$destination"
