# The payload builds the archive is packed from: their entry names, where the
# build keeps what it makes of them, and the check of each build. Included by
# host_build.cmake and by check_payload_builds.cmake.

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
    # A signed build's linker output: an installer too, unsigned.
    set(UNSIGNED_INSTALLER_EXE ${root}/windows/quenthalvox-installer-unsigned.exe)
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
        file(REMOVE ${PAYLOAD_POOL} ${PAYLOAD_DIRECTORY} ${PAYLOAD_LIST} ${PAYLOAD_SUMMARY} ${INSTALLER_EXE}
            ${UNSIGNED_INSTALLER_EXE})
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
