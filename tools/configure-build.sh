# Sourced by run.sh and test.sh, which define usage(): takes their arguments
# (-D settings passed on to CMake, --help), installs what is missing and
# configures the build folder, whose absolute path it leaves in $build.
configure_build() {
    local settings=() argument
    for argument in "$@"; do
        case $argument in
            -h | --help) usage; exit 0 ;;
            -D*) settings+=("$argument") ;;
            *) usage >&2; exit 2 ;;
        esac
    done
    build=$(realpath -m "${BUILD_DIR:-build}")
    tools/install-dependencies.sh
    cmake -S . -B "$build" "${settings[@]}"
}
