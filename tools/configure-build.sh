# Sourced by run.sh and test.sh, which define usage(), keep the caller's folder
# in $caller_dir and then change to the project folder: takes their arguments
# (-D settings passed on to CMake, --help), installs what is missing and
# configures the build folder, whose absolute path it leaves in $build.

# A relative path names a place from the caller's folder; an empty one stays
# empty, which asks for the default.
from_caller() {
    if [ -n "$1" ] && [[ $1 != /* ]]; then realpath -ms "$caller_dir/$1"; else echo "$1"; fi
}

configure_build() {
    local settings=() argument
    for argument in "$@"; do
        case $argument in
            -h | --help) usage; exit 0 ;;
            -DQUENTHALVOX_PAYLOAD_DIR[:=]* | -DQUENTHALVOX_SIGNING_CERTIFICATE[:=]*)
                settings+=("${argument%%=*}=$(from_caller "${argument#*=}")") ;;
            -D*) settings+=("$argument") ;;
            *) echo "unknown argument: $argument" >&2; usage >&2; exit 2 ;;
        esac
    done
    if [ -n "${QUENTHALVOX_SIGNING_PASSWORD_FILE:-}" ]; then
        QUENTHALVOX_SIGNING_PASSWORD_FILE=$(from_caller "$QUENTHALVOX_SIGNING_PASSWORD_FILE")
    fi
    build=$(realpath -m "${BUILD_DIR:-build}")
    tools/install-dependencies.sh
    cmake -S . -B "$build" "${settings[@]}"
}
