# Host build: the build-time tools (sample generator, packer, icon generator),
# the archive they produce, the Windows build on top of it, and the host tests
# of the product sources against the fake platform under tests/.

if(NOT CMAKE_BUILD_TYPE)
    set(CMAKE_BUILD_TYPE Release CACHE STRING "" FORCE)
endif()

set(QUENTHALVOX_PAYLOAD_DIR "" CACHE PATH
    "Folder of the real plug-in builds (target_cl64, target_cl32, target_fl64, target_fl32, target_st64); empty: the generated samples")

# Entry names of the archive, in directory order, and the file each comes from.
set(PAYLOAD_FILES target_cl64 target_cl32 target_fl64 target_fl32 target_st64)

add_subdirectory(samples)
add_subdirectory(payload/packer)
add_subdirectory(resources)

if(QUENTHALVOX_PAYLOAD_DIR)
    set(payload_dir ${QUENTHALVOX_PAYLOAD_DIR})
    set(payload_inputs)
    foreach(file ${PAYLOAD_FILES})
        list(APPEND payload_inputs ${payload_dir}/${file})
    endforeach()
else()
    set(payload_dir ${CMAKE_BINARY_DIR}/samples)
    set(payload_inputs)
    foreach(file ${PAYLOAD_FILES})
        list(APPEND payload_inputs ${payload_dir}/${file})
    endforeach()
    add_custom_command(OUTPUT ${payload_inputs}
        COMMAND generate_samples ${payload_dir}
        DEPENDS generate_samples
        COMMENT "Generating the sample plug-in builds")
endif()

set(PAYLOAD_POOL ${CMAKE_BINARY_DIR}/archive/payload_pool.bin)
set(PAYLOAD_DIRECTORY ${CMAKE_BINARY_DIR}/archive/payload_directory.bin)
set(packer_arguments)
foreach(file ${PAYLOAD_FILES})
    list(APPEND packer_arguments bin/${file}=${payload_dir}/${file})
endforeach()
add_custom_command(OUTPUT ${PAYLOAD_POOL} ${PAYLOAD_DIRECTORY}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/archive
    COMMAND packer --pool ${PAYLOAD_POOL} --directory ${PAYLOAD_DIRECTORY} ${packer_arguments}
    DEPENDS packer ${payload_inputs}
    COMMENT "Packing the payload archive")
add_custom_target(archive ALL DEPENDS ${PAYLOAD_POOL} ${PAYLOAD_DIRECTORY})

include(ExternalProject)
ExternalProject_Add(windows_build
    SOURCE_DIR ${CMAKE_SOURCE_DIR}
    BINARY_DIR ${CMAKE_BINARY_DIR}/windows
    CMAKE_ARGS
        -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/mingw-w64-x86_64.cmake
        -DCMAKE_BUILD_TYPE=MinSizeRel
        -DPAYLOAD_POOL=${PAYLOAD_POOL}
        -DPAYLOAD_DIRECTORY=${PAYLOAD_DIRECTORY}
        -DINSTALLER_ICON=${INSTALLER_ICON}
    BUILD_ALWAYS ON
    INSTALL_COMMAND ""
    DEPENDS archive installer_icon)
set(WINDOWS_BUILD_DIR ${CMAKE_BINARY_DIR}/windows)

enable_testing()
add_subdirectory(tests)
