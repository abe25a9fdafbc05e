#!/usr/bin/env bash
# Builds the installer in a scratch folder from five small builds of its own,
# then holds the build to its payload: a build replaced by other content with
# an older date (as cp -p, unzip and rsync -a leave it) changes the installer;
# a new date alone repacks nothing; an empty build stops the build and the
# configuration, naming the file, with no installer left behind.
# Usage: follows_payload.sh <source> <scratch folder>
set -euo pipefail
source=$1 scratch=$(realpath -m "$2")
builds=$scratch/builds build=$scratch/build log=$scratch/log
installer=$build/windows/quenthalvox-installer.exe

fail() {
    echo "FAIL: $*"
    tail -n 20 "$log"
    exit 1
}
build() { cmake --build "$build" --target windows_build -j2 > "$log" 2>&1; }
dates() { stat -c %y "$build/archive/payload_pool.bin" "$installer"; }

rm -rf "$scratch"
mkdir -p "$builds"
for file in target_cl64 target_cl32 target_fl64 target_fl32 target_st64; do
    echo "build $file" > "$builds/$file"
done
cmake -S "$source" -B "$build" -DQUENTHALVOX_PAYLOAD_DIR="$builds" > "$log" 2>&1 || fail "configuring"
build || fail "building"
cp "$installer" "$scratch/first.exe"

echo "another build" > "$builds/target_fl32"
touch -d 2001-01-01 "$builds/target_fl32"
build || fail "rebuilding"
cmp -s "$installer" "$scratch/first.exe" && fail "the installer still carries the replaced build"

before=$(dates)
touch "$builds/target_cl64"
build || fail "rebuilding"
[ "$(dates)" = "$before" ] || fail "an unchanged build was packed or linked again"

empty="Cannot pack the payload build \"$builds/target_cl64\": it is empty"
: > "$builds/target_cl64"
build && fail "an empty build was packed"
grep -qF "$empty" "$log" || fail "the build did not name the empty build"
[ ! -e "$installer" ] || fail "the installer of the earlier builds is left after a failed build"

cp "$scratch/first.exe" "$installer"
cmake -S "$source" -B "$build" > "$log" 2>&1 && fail "a folder with an empty build was configured"
grep -qF "$empty" "$log" || fail "configuring did not name the empty build"
[ ! -e "$installer" ] || fail "the installer of the earlier builds is left after a failed configuration"

rm -rf "$scratch"
echo "the installer follows its builds' content, and an empty build stops both configuring and building"
