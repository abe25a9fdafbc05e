# Run by the build right before packing:
#   cmake -DPAYLOAD_DIR=<folder> -DBUILD_ROOT=<build folder> -P check_payload_builds.cmake
# It checks the payload builds again and rewrites the list of their hashes only
# when a content, size or path changed. Packing depends on that list and not on
# the builds themselves, so the archive follows what the builds hold, not their
# dates: `cp -p`, unzip and `rsync -a` may leave a new build older than the archive.

include(${CMAKE_CURRENT_LIST_DIR}/payload_builds.cmake)

check_payload("${PAYLOAD_DIR}" "${BUILD_ROOT}")
set_build_paths(${BUILD_ROOT})
write_payload_list("${PAYLOAD_DIR}" ${PAYLOAD_LIST})
