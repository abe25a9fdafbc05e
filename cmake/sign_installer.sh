#!/usr/bin/env bash
# Signs the installer with Authenticode (SHA-256) through osslsigncode.
# The certificate's password is read from the environment when the build signs,
# never from a setting or a command line: QUENTHALVOX_SIGNING_PASSWORD_FILE names
# a file holding it, or QUENTHALVOX_SIGNING_PASSWORD holds it and reaches
# osslsigncode through a pipe. The signature is written beside the output and
# renamed into place only once osslsigncode succeeded: after a failure no file
# stands at the output to be taken for the signed installer.
# Usage: sign_installer.sh <osslsigncode> <unsigned exe> <signed exe> <certificate.p12> [-i <URL>] [-ts <URL>]
set -euo pipefail
osslsigncode=$1 unsigned=$2 signed=$3 certificate=$4
shift 4
partial=$signed.partial
rm -f "$signed" "$partial"

fail() {
    echo "Signing the installer with $certificate failed: $1" >&2
    exit 1
}

if [ -n "${QUENTHALVOX_SIGNING_PASSWORD_FILE:-}" ]; then
    password_file=$QUENTHALVOX_SIGNING_PASSWORD_FILE
    # The build runs this from its own folder, not from where it was started.
    [[ $password_file == /* ]] || fail "QUENTHALVOX_SIGNING_PASSWORD_FILE must be an absolute path (it is $password_file)"
elif [ -n "${QUENTHALVOX_SIGNING_PASSWORD:-}" ]; then
    password_file=/dev/stdin
else
    fail "no password: set QUENTHALVOX_SIGNING_PASSWORD, or QUENTHALVOX_SIGNING_PASSWORD_FILE to a file holding it, in the environment of the build"
fi

command=("$osslsigncode" sign -pkcs12 "$certificate" -readpass "$password_file" -h sha256 -n Quenthalvox "$@"
    -in "$unsigned" -out "$partial")
echo "${command[*]}"
# printf is bash's own: the password appears in no process's arguments.
if ! output=$(printf %s "${QUENTHALVOX_SIGNING_PASSWORD:-}" | "${command[@]}" 2>&1); then
    rm -f "$partial"
    fail "$(grep -v '^Failed$' <<< "$output")"
fi
# Runnable like the linker's output, not with osslsigncode's mode.
chmod --reference="$unsigned" "$partial"
mv -f "$partial" "$signed"
echo "Signed $signed"
