#!/usr/bin/env bash
# Installs what is missing and configures the build folder, for run.sh and
# test.sh. Prints the build folder's absolute path: its only line on standard
# output; what it does goes to standard error.
# Usage: configure-build.sh <caller> <caller's folder> [-D<setting>...]
#   <caller>           the command as it was started (./run.sh), named in the
#                      one-line error about an argument it does not take
#   <caller's folder>  where relative paths are taken from: BUILD_DIR (from
#                      the environment; default: build/ in the project) and
#                      the settings that name a file or a folder
# Exit code 2: an argument that is no -D setting, or a setting that names
# nothing CMake knows (after configuring: CMake tells).
set -euo pipefail
caller=$1 caller_dir=$2
shift 2
cd "$(dirname "$0")/.."

# A relative path names a place from the caller's folder; an empty one stays
# empty, which asks for the default.
from_caller() {
    if [ -n "$1" ] && [[ $1 != /* ]]; then realpath -ms "$caller_dir/$1"; else echo "$1"; fi
}
refuse() {
    echo "$caller: $1 (see $caller --help)" >&2
    exit 2
}

settings=()
for argument in "$@"; do
    case $argument in
        -DQUENTHALVOX_PAYLOAD_DIR[:=]* | -DQUENTHALVOX_SIGNING_CERTIFICATE[:=]*)
            settings+=("${argument%%=*}=$(from_caller "${argument#*=}")") ;;
        -D?*) settings+=("$argument") ;;
        *) refuse "unknown argument \"$argument\"" ;;
    esac
done
build=$(realpath -m "$(from_caller "${BUILD_DIR:-$PWD/build}")")

tools/install-dependencies.sh >&2
mkdir -p "$build"
# Wherever it lies, even inside the project, git leaves the build folder out.
[ -e "$build/.gitignore" ] || echo '*' > "$build/.gitignore"
echo "Configuring the build folder $build" >&2
log=$build/configure.log
if ! cmake -S . -B "$build" "${settings[@]}" > "$log" 2>&1; then
    cat "$log" >&2
    echo "Configuring the build folder failed: see above, or $log." >&2
    exit 1
fi
# CMake only warns about a setting that no part of the build reads.
unused=$(awk '/Manually-specified variables were not used/ { listed = 1; next }
    listed && NF { printf "%s-D%s", sep, $1; sep = ", " } listed && !NF && sep { exit }' "$log")
[ -z "$unused" ] || refuse "unknown setting $unused"
echo "$build"
