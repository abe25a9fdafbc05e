#!/usr/bin/env bash
# Builds a signed installer in a scratch folder with a throwaway certificate. A
# wrong password stops the build with osslsigncode's reason and leaves nothing
# at the installer's path; the right one, from a file or from the environment,
# gives an installer whose signature verifies against the certificate, and is
# kept nowhere in the build folder. The signed installer stays, for the checks
# and the end-to-end run on it.
# Usage: signs_installer.sh <source> <scratch folder> <payload builds folder>
set -euo pipefail
source=$1 scratch=$(realpath -m "$2") builds=$3
keys=$scratch/keys build=$scratch/build log=$scratch/log
installer=$build/windows/quenthalvox-installer.exe
unset QUENTHALVOX_SIGNING_PASSWORD QUENTHALVOX_SIGNING_PASSWORD_FILE

fail() {
    echo "FAIL: $*"
    tail -n 20 "$log"
    exit 1
}
build() { cmake --build "$build" --target windows_build -j2 > "$log" 2>&1; }
verify() {
    osslsigncode verify -CAfile "$keys/certificate.pem" -in "$installer" > "$log" 2>&1 || fail "the signature does not verify"
    for line in "Signature verification: ok" "Message digest algorithm  : SHA256" "Text description: Quenthalvox" \
        "URL description: https://quenthalvox.example/"; do
        grep -qF "$line" "$log" || fail "the signature lacks \"$line\""
    done
}

rm -rf "$scratch"
mkdir -p "$keys"
password=throwaway-$RANDOM-$RANDOM
echo "$password" > "$keys/password"
{ openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Quenthalvox test signer" \
    -addext extendedKeyUsage=codeSigning -keyout "$keys/key.pem" -out "$keys/certificate.pem" &&
    openssl pkcs12 -export -inkey "$keys/key.pem" -in "$keys/certificate.pem" -passout "file:$keys/password" \
        -out "$keys/certificate.p12"; } > "$log" 2>&1 || fail "making the certificate"

cmake -S "$source" -B "$build" -DQUENTHALVOX_PAYLOAD_DIR="$builds" -DQUENTHALVOX_SIGNING_CERTIFICATE="$keys/certificate.p12" \
    -DQUENTHALVOX_SIGNING_URL=https://quenthalvox.example/ > "$log" 2>&1 || fail "configuring"

QUENTHALVOX_SIGNING_PASSWORD=wrong build && fail "a wrong password signed the installer"
grep -qF "Signing the installer with $keys/certificate.p12 failed: Failed to parse PKCS#12 file" "$log" ||
    fail "the build did not say why signing failed"
[ ! -e "$installer" ] && [ ! -e "$installer.partial" ] || fail "a file stands at the installer's path after signing failed"

QUENTHALVOX_SIGNING_PASSWORD_FILE=$keys/password build || fail "signing with the password from a file"
verify
rm "$installer"
QUENTHALVOX_SIGNING_PASSWORD=$password build || fail "signing with the password from the environment"
verify
cat "$log"
if grep -rqF "$password" "$build"; then fail "the password is kept in the build folder"; fi
echo "signed with the password from a file and from the environment; a wrong password stops the build"
