# Host build: the build-time tools (sample generator, packer, icon generator),
# the archive they produce, the Windows build on top of it, and the host tests
# of the product sources against the fake platform under tests/.

include(${CMAKE_CURRENT_LIST_DIR}/payload_builds.cmake)

if(NOT CMAKE_BUILD_TYPE)
    set(CMAKE_BUILD_TYPE Release CACHE STRING "" FORCE)
endif()

set(QUENTHALVOX_PAYLOAD_DIR "" CACHE PATH
    "Folder of the real plug-in builds (target_cl64, target_cl32, target_fl64, target_fl32, target_st64); empty: the generated samples")

option(QUENTHALVOX_PLAIN_ARCHIVE
    "Carry the builds in the plain archive, every unique byte stored raw, instead of the compressed one (LZMA)" OFF)
set(packer_form --compress)
if(QUENTHALVOX_PLAIN_ARCHIVE)
    set(packer_form)
endif()
# Rewritten only when the form changes, so that the archive is packed again exactly then.
set(archive_form_file ${CMAKE_BINARY_DIR}/archive/form.txt)
file(CONFIGURE OUTPUT ${archive_form_file} CONTENT "${packer_form}\n")

add_subdirectory(tools/shared)
add_subdirectory(samples)
add_subdirectory(payload/packer)
add_subdirectory(resources)

set_build_paths(${CMAKE_BINARY_DIR})
set(payload_samples)
if(QUENTHALVOX_PAYLOAD_DIR)
    set(payload_dir ${QUENTHALVOX_PAYLOAD_DIR})
    check_payload(${payload_dir} ${CMAKE_BINARY_DIR})
else()
    set(payload_dir ${CMAKE_BINARY_DIR}/samples)
    foreach(file ${PAYLOAD_FILES})
        list(APPEND payload_samples ${payload_dir}/${file})
    endforeach()
    add_custom_command(OUTPUT ${payload_samples}
        COMMAND generate_samples ${payload_dir}
        DEPENDS generate_samples
        COMMENT "Generating the sample plug-in builds")
endif()

# Runs on every build; the list it writes changes only with the builds' content.
add_custom_target(payload_list
    COMMAND ${CMAKE_COMMAND} -DPAYLOAD_DIR=${payload_dir} -DBUILD_ROOT=${CMAKE_BINARY_DIR}
        -P ${CMAKE_CURRENT_LIST_DIR}/check_payload_builds.cmake
    BYPRODUCTS ${PAYLOAD_LIST}
    DEPENDS ${payload_samples}
    COMMENT "Checking the payload builds"
    VERBATIM)

set(packer_arguments)
foreach(file ${PAYLOAD_FILES})
    list(APPEND packer_arguments ${PAYLOAD_ENTRY_FOLDER}/${file}=${payload_dir}/${file})
endforeach()
add_custom_command(OUTPUT ${PAYLOAD_POOL} ${PAYLOAD_DIRECTORY} ${PAYLOAD_SUMMARY}
    # The installer linked with the archive being replaced must not survive a
    # failed packing, where it would pass for the new one.
    COMMAND ${CMAKE_COMMAND} -E rm -f ${INSTALLER_EXE} ${UNSIGNED_INSTALLER_EXE}
    COMMAND packer ${packer_form} --pool ${PAYLOAD_POOL} --directory ${PAYLOAD_DIRECTORY} ${packer_arguments} > ${PAYLOAD_SUMMARY}
    COMMAND ${CMAKE_COMMAND} -E cat ${PAYLOAD_SUMMARY}
    DEPENDS packer ${PAYLOAD_LIST} ${archive_form_file}
    COMMENT "Packing the payload archive")
add_custom_target(archive ALL DEPENDS ${PAYLOAD_POOL} ${PAYLOAD_DIRECTORY})
add_dependencies(archive payload_list)

# The signature's two addresses only with a certificate: otherwise CMake warns
# that they are unused.
set(signing_settings -DQUENTHALVOX_SIGNING_CERTIFICATE=${QUENTHALVOX_SIGNING_CERTIFICATE})
if(QUENTHALVOX_SIGNING_CERTIFICATE)
    list(APPEND signing_settings -DQUENTHALVOX_SIGNING_URL=${QUENTHALVOX_SIGNING_URL}
        -DQUENTHALVOX_TIMESTAMP_URL=${QUENTHALVOX_TIMESTAMP_URL})
endif()
include(ExternalProject)
ExternalProject_Add(windows_build
    SOURCE_DIR ${CMAKE_SOURCE_DIR}
    BINARY_DIR ${WINDOWS_BUILD_DIR}
    CMAKE_ARGS
        -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/mingw-w64-x86_64.cmake
        -DCMAKE_BUILD_TYPE=MinSizeRel
        -DPAYLOAD_POOL=${PAYLOAD_POOL}
        -DPAYLOAD_DIRECTORY=${PAYLOAD_DIRECTORY}
        -DINSTALLER_ICON=${INSTALLER_ICON}
        ${signing_settings}
    BUILD_ALWAYS ON
    INSTALL_COMMAND ""
    DEPENDS archive installer_icon)

enable_testing()
add_subdirectory(tests)
