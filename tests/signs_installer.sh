#!/usr/bin/env bash
# Builds a signed installer in a scratch folder with a throwaway certificate. A
# wrong password stops the build with osslsigncode's reason and leaves nothing
# at the installer's path; an unusable payload build leaves no installer,
# signed or not; the right password, from a file or from the environment,
# gives a runnable installer whose signature verifies against the certificate,
# and is kept nowhere in the build folder; another certificate put in place
# with an older date signs again. The signed installer stays, for the checks
# and the end-to-end run on it.
# Usage: signs_installer.sh <source> <scratch folder> <payload builds folder>
set -euo pipefail
source=$1 scratch=$(realpath -m "$2") builds=$3
keys=$scratch/keys build=$scratch/build log=$scratch/log links=$scratch/builds
installer=$build/windows/quenthalvox-installer.exe unsigned=$build/windows/quenthalvox-installer-unsigned.exe
unset QUENTHALVOX_SIGNING_PASSWORD QUENTHALVOX_SIGNING_PASSWORD_FILE

fail() {
    echo "FAIL: $*"
    tail -n 20 "$log"
    exit 1
}
build() { cmake --build "$build" --target windows_build -j2 > "$log" 2>&1; }
# make_certificate <name>: <name>.pem and <name>.p12 in the keys' folder, with the password.
make_certificate() {
    { openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Quenthalvox test signer" \
        -addext extendedKeyUsage=codeSigning -keyout "$keys/key.pem" -out "$keys/$1.pem" &&
        openssl pkcs12 -export -inkey "$keys/key.pem" -in "$keys/$1.pem" -passout "file:$keys/password" \
            -out "$keys/$1.p12"; } > "$log" 2>&1 || fail "making the certificate"
}
verify() {
    [ "$(stat -c %a "$installer")" = "$(stat -c %a "$unsigned")" ] || fail "the signed installer's mode differs"
    osslsigncode verify -CAfile "$keys/${1:-certificate}.pem" -in "$installer" > "$log" 2>&1 ||
        fail "the signature does not verify"
    for line in "Signature verification: ok" "Message digest algorithm  : SHA256" "Text description: Quenthalvox" \
        "URL description: https://quenthalvox.example/"; do
        grep -qF "$line" "$log" || fail "the signature lacks \"$line\""
    done
}

rm -rf "$scratch"
mkdir -p "$keys" "$links"
for file in target_cl64 target_cl32 target_fl64 target_fl32 target_st64; do
    ln -s "$builds/$file" "$links/$file"
done
password=throwaway-$RANDOM-$RANDOM
echo "$password" > "$keys/password"
make_certificate certificate

cmake -S "$source" -B "$build" -DQUENTHALVOX_PAYLOAD_DIR="$links" -DQUENTHALVOX_SIGNING_CERTIFICATE="$keys/certificate.p12" \
    -DQUENTHALVOX_SIGNING_URL=https://quenthalvox.example/ > "$log" 2>&1 || fail "configuring"

QUENTHALVOX_SIGNING_PASSWORD=wrong build && fail "a wrong password signed the installer"
grep -qF "Signing the installer with $keys/certificate.p12 failed: Failed to parse PKCS#12 file" "$log" ||
    fail "the build did not say why signing failed"
[ ! -e "$installer" ] && [ ! -e "$installer.partial" ] || fail "a file stands at the installer's path after signing failed"

[ -e "$unsigned" ] || fail "no linker output after signing failed"
rm "$links/target_cl64"
: > "$links/target_cl64"
build && fail "an empty build was packed"
[ ! -e "$unsigned" ] || fail "the unsigned installer of the earlier builds is left after a failed build"
ln -sfn "$builds/target_cl64" "$links/target_cl64"

QUENTHALVOX_SIGNING_PASSWORD_FILE=$keys/password build || fail "signing with the password from a file"
verify
rm "$installer"
QUENTHALVOX_SIGNING_PASSWORD=$password build || fail "signing with the password from the environment"
verify
cat "$log"
if grep -rqF "$password" "$build"; then fail "the password is kept in the build folder"; fi

make_certificate other
cp "$keys/other.p12" "$keys/certificate.p12"
touch -d 2001-01-01 "$keys/certificate.p12"
QUENTHALVOX_SIGNING_PASSWORD=$password build || fail "signing with another certificate"
verify other
echo "signed with the password from a file and from the environment, and again with a certificate replaced by" \
    "an older file; a wrong password stops the build, an unusable payload build leaves no installer"
