# Host build: the build-time tools (sample generator, packer, icon generator),
# the archive they produce, the Windows build on top of it, and the host tests
# of the product sources against the fake platform under tests/.
#
# The build also runs this file as a script, right before packing:
#   cmake -DPAYLOAD_DIR=<folder> -DBUILD_ROOT=<build folder> -P host_build.cmake
# It checks the payload builds again and rewrites the list of their hashes only
# when a content, size or path changed. Packing depends on that list and not on
# the builds themselves, so the archive follows what the builds hold, not their
# dates: `cp -p`, unzip and `rsync -a` may leave a new build older than the archive.

# Entry names of the archive, in directory order, and the file each comes from.
set(PAYLOAD_FILES target_cl64 target_cl32 target_fl64 target_fl32 target_st64)
set(PAYLOAD_ENTRY_FOLDER bin)

macro(set_build_paths root)
    set(PAYLOAD_POOL ${root}/archive/payload_pool.bin)
    set(PAYLOAD_DIRECTORY ${root}/archive/payload_directory.bin)
    # One line per entry: name, source file, size, SHA-256, separated by tabs.
    set(PAYLOAD_LIST ${root}/archive/payload_files.txt)
    # What the packer printed about the archive it wrote.
    set(PAYLOAD_SUMMARY ${root}/archive/summary.txt)
    set(WINDOWS_BUILD_DIR ${root}/windows)
    set(INSTALLER_EXE ${root}/windows/quenthalvox-installer.exe)
endmacro()

# The last words of a coreutils message are the system's reason.
function(system_reason message result)
    string(STRIP "${message}" message)
    string(REGEX REPLACE "^.*: " "" message "${message}")
    set(${result} "${message}" PARENT_SCOPE)
endfunction()

# Empty when `path` can be packed; otherwise why not, in a few words.
function(payload_file_problem path result)
    set(problem "")
    execute_process(COMMAND stat --dereference --format "%F" -- "${path}"
        OUTPUT_VARIABLE type ERROR_VARIABLE error RESULT_VARIABLE failed OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(failed)
        system_reason("${error}" problem)
    elseif(type STREQUAL "regular empty file")
        set(problem "it is empty")
    elseif(NOT type STREQUAL "regular file")
        set(problem "it is a ${type}, not a regular file")
    else()
        # Permissions alone do not tell: root reads what its mode forbids.
        execute_process(COMMAND head --bytes 1 -- "${path}"
            OUTPUT_QUIET ERROR_VARIABLE error RESULT_VARIABLE failed)
        if(failed)
            system_reason("${error}" problem)
        endif()
    endif()
    set(${result} "${problem}" PARENT_SCOPE)
endfunction()

# Stops with one line per unusable build. Nothing packed or linked from an
# earlier set of builds may stay behind to be taken for this one's.
function(check_payload dir root)
    set(problems "")
    foreach(file ${PAYLOAD_FILES})
        payload_file_problem("${dir}/${file}" problem)
        if(problem)
            # The leading space keeps CMake from wrapping the line.
            string(APPEND problems "\n Cannot pack the payload build \"${dir}/${file}\": ${problem}")
        endif()
    endforeach()
    if(problems)
        set_build_paths(${root})
        file(REMOVE ${PAYLOAD_POOL} ${PAYLOAD_DIRECTORY} ${PAYLOAD_LIST} ${PAYLOAD_SUMMARY} ${INSTALLER_EXE})
        string(SUBSTRING "${problems}" 1 -1 problems)
        message(FATAL_ERROR "${problems}")
    endif()
endfunction()

function(write_payload_list dir list_file)
    set(lines "")
    foreach(file ${PAYLOAD_FILES})
        file(SIZE "${dir}/${file}" size)
        file(SHA256 "${dir}/${file}" hash)
        string(APPEND lines "${PAYLOAD_ENTRY_FOLDER}/${file}\t${dir}/${file}\t${size}\t${hash}\n")
    endforeach()
    set(old "")
    if(EXISTS ${list_file})
        file(READ ${list_file} old)
    endif()
    if(NOT old STREQUAL lines)
        file(WRITE ${list_file} "${lines}")
    endif()
endfunction()

if(CMAKE_SCRIPT_MODE_FILE)
    check_payload("${PAYLOAD_DIR}" "${BUILD_ROOT}")
    set_build_paths(${BUILD_ROOT})
    write_payload_list("${PAYLOAD_DIR}" ${PAYLOAD_LIST})
    return()
endif()

if(NOT CMAKE_BUILD_TYPE)
    set(CMAKE_BUILD_TYPE Release CACHE STRING "" FORCE)
endif()

set(QUENTHALVOX_PAYLOAD_DIR "" CACHE PATH
    "Folder of the real plug-in builds (target_cl64, target_cl32, target_fl64, target_fl32, target_st64); empty: the generated samples")

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
        -P ${CMAKE_CURRENT_LIST_FILE}
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
    COMMAND ${CMAKE_COMMAND} -E rm -f ${INSTALLER_EXE}
    COMMAND packer --pool ${PAYLOAD_POOL} --directory ${PAYLOAD_DIRECTORY} ${packer_arguments} > ${PAYLOAD_SUMMARY}
    COMMAND ${CMAKE_COMMAND} -E cat ${PAYLOAD_SUMMARY}
    DEPENDS packer ${PAYLOAD_LIST}
    COMMENT "Packing the payload archive")
add_custom_target(archive ALL DEPENDS ${PAYLOAD_POOL} ${PAYLOAD_DIRECTORY})
add_dependencies(archive payload_list)

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
    BUILD_ALWAYS ON
    INSTALL_COMMAND ""
    DEPENDS archive installer_icon)

enable_testing()
add_subdirectory(tests)
