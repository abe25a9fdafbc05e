# Windows build: the installer itself, a GUI executable without the C runtime,
# and the test tree's tools that run under Wine.
#
# Inputs (cache variables set by the host build): PAYLOAD_POOL,
# PAYLOAD_DIRECTORY, INSTALLER_ICON.

enable_language(RC)

foreach(input PAYLOAD_POOL PAYLOAD_DIRECTORY INSTALLER_ICON)
    if(NOT EXISTS "${${input}}")
        message(FATAL_ERROR "${input} must name an existing file (got '${${input}}')")
    endif()
endforeach()
set(LICENCE_TEXT ${CMAKE_SOURCE_DIR}/resources/licence.txt)

# The licence page puts the licence text, widened to two bytes a character and
# terminated, into the template buffer: it must fit in the buffer's 16 MiB,
# the 64 KiB beyond them being the room of the page's other controls. Checked
# again whenever the text changes.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${LICENCE_TEXT})
file(STRINGS ${CMAKE_SOURCE_DIR}/dialog/template_writer.h capacity REGEX "TEMPLATE_CAPACITY = ")
if(NOT capacity MATCHES "TEMPLATE_CAPACITY = (0x[0-9A-Fa-f]+)")
    message(FATAL_ERROR "No TEMPLATE_CAPACITY = 0x... found in dialog/template_writer.h")
endif()
math(EXPR licence_limit "(${CMAKE_MATCH_1} - 0x10000 - 2) / 2")
file(SIZE ${LICENCE_TEXT} licence_size)
if(licence_size GREATER licence_limit)
    message(FATAL_ERROR "The licence text ${LICENCE_TEXT} is ${licence_size} bytes: the licence page holds "
        "at most ${licence_limit} (two bytes a character in the template buffer of dialog/template_writer.h)")
endif()

# Keep the generator's default flags (-O2, -DNDEBUG...) out: the flags below are
# the whole story.
foreach(lang C CXX ASM RC)
    set(CMAKE_${lang}_FLAGS "")
    foreach(config DEBUG RELEASE MINSIZEREL RELWITHDEBINFO)
        set(CMAKE_${lang}_FLAGS_${config} "")
    endforeach()
endforeach()

# How the installer's code is generated, its C (the LZMA decoder) included.
set(PRODUCT_CODE_OPTIONS
    -Oz -flto -fno-asynchronous-unwind-tables -fno-stack-protector
    # The program's own globals are reached directly, not through an address
    # table kept for data a DLL might export; and its texts are aligned as the
    # ABI asks, not to 32 bytes. Both keep the executable small.
    -mcmodel=small -malign-data=abi
    # Keeps the compiler from turning copy and fill loops (memory.cpp's own
    # included) into calls to memcpy and memset.
    -fno-tree-loop-distribute-patterns
    # Unused functions are dropped at link time. No -fdata-sections: with it
    # mingw's gcc puts zero-filled globals into file-backed data sections, and
    # the 16 MB template buffer would be written into the executable.
    -ffunction-sections)
set(PRODUCT_COMPILE_OPTIONS ${PRODUCT_CODE_OPTIONS} -fno-exceptions -fno-rtti
    -DUNICODE -D_UNICODE -D_WIN32_WINNT=0x0A00 -DWINVER=0x0A00
    -Wall -Wextra -Werror)

set(PRODUCT_LINK_OPTIONS
    -Oz -flto -nostdlib -nostartfiles -Wl,-e,installer_entry -Wl,--subsystem,windows
    -Wl,--gc-sections -s
    # Nothing refers to the load configuration but the loader: kept by name,
    # and found in the map by set_load_config.sh.
    -Wl,--require-defined=_load_config_used -Wl,-Map=${CMAKE_BINARY_DIR}/quenthalvox-installer.map
    # Reproducible output: no link time stamp, no build id.
    -Wl,--no-insert-timestamp -Wl,--build-id=none
    # Nothing in the image holds an absolute address, so it needs no base
    # relocations and loads anywhere: ASLR with a 64-bit address space, and DEP.
    -Wl,--dynamicbase -Wl,--high-entropy-va -Wl,--nxcompat)

set(installer quenthalvox-installer)
# The archive's reader and extraction, a target of their own, with the LZMA
# decoder: the SDK's C file, generated as the installer's code is, with its
# own warnings.
add_library(payload_reader OBJECT ${PAYLOAD_READER_SOURCES} ${LZMA_DECODER_SOURCES})
target_include_directories(payload_reader SYSTEM PUBLIC ${LZMA_SDK_DIR})
set_source_files_properties(${LZMA_DECODER_SOURCES} PROPERTIES COMPILE_OPTIONS "${PRODUCT_CODE_OPTIONS}")
add_executable(${installer}
    ${PRODUCT_SOURCES}
    ${RUNTIME_SOURCES}
    ${CMAKE_SOURCE_DIR}/resources/embedded_data.S
    ${CMAKE_SOURCE_DIR}/resources/installer.rc)
target_link_libraries(${installer} PRIVATE payload_reader)
foreach(target payload_reader ${installer})
    target_include_directories(${target} PRIVATE ${CMAKE_SOURCE_DIR})
    target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${PRODUCT_COMPILE_OPTIONS}>)
endforeach()
target_link_options(${installer} PRIVATE ${PRODUCT_LINK_OPTIONS})
# uuid is a static library: it only supplies the known-folder GUIDs, no import.
# gcc supplies the stack probe, should a frame ever need one.
target_link_libraries(${installer} PRIVATE kernel32 user32 comctl32 advapi32 shell32 uuid gcc)

set_source_files_properties(${CMAKE_SOURCE_DIR}/resources/embedded_data.S PROPERTIES
    COMPILE_DEFINITIONS "PAYLOAD_POOL_FILE=\"${PAYLOAD_POOL}\";PAYLOAD_DIRECTORY_FILE=\"${PAYLOAD_DIRECTORY}\";LICENCE_TEXT_FILE=\"${LICENCE_TEXT}\""
    OBJECT_DEPENDS "${PAYLOAD_POOL};${PAYLOAD_DIRECTORY};${LICENCE_TEXT}")
get_filename_component(icon_folder ${INSTALLER_ICON} DIRECTORY)
get_filename_component(icon_name ${INSTALLER_ICON} NAME)
if(NOT icon_name STREQUAL "installer.ico")
    message(FATAL_ERROR "INSTALLER_ICON must be a file named installer.ico (got ${INSTALLER_ICON})")
endif()
set_source_files_properties(${CMAKE_SOURCE_DIR}/resources/installer.rc PROPERTIES
    INCLUDE_DIRECTORIES "${CMAKE_SOURCE_DIR}/resources;${icon_folder}"
    COMPILE_DEFINITIONS "QUENTHALVOX_VERSION_MAJOR=${PROJECT_VERSION_MAJOR};QUENTHALVOX_VERSION_MINOR=${PROJECT_VERSION_MINOR};QUENTHALVOX_VERSION_PATCH=${PROJECT_VERSION_PATCH}"
    OBJECT_DEPENDS "${CMAKE_SOURCE_DIR}/resources/installer.manifest;${INSTALLER_ICON}")

# The loader's configuration entry, which this linker leaves empty; then an
# import from a DLL outside the allowed few fails the build.
add_custom_command(TARGET ${installer} POST_BUILD
    COMMAND ${CMAKE_SOURCE_DIR}/cmake/set_load_config.sh $<TARGET_FILE:${installer}>
        ${CMAKE_BINARY_DIR}/quenthalvox-installer.map
    COMMAND ${CMAKE_COMMAND} -DEXE=$<TARGET_FILE:${installer}> -DOBJDUMP=${CMAKE_OBJDUMP}
        -P ${CMAKE_SOURCE_DIR}/cmake/check_imports.cmake
    VERBATIM)

# The test tree's Windows-side tools, beside the installer: the end-to-end
# driver and its plug-in holder, and the reader's benchmark (built only on
# request, by the host build's windows_bench).
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
add_subdirectory(tests/e2e)
add_subdirectory(tests/bench/windows EXCLUDE_FROM_ALL)

# Authenticode signing, the build's last step, with the settings the host build
# passes; without a certificate the build is the unsigned one.
if(QUENTHALVOX_SIGNING_CERTIFICATE)
    # Rewritten only when a setting changes, so that the installer is signed
    # again exactly then.
    set(signing_settings ${CMAKE_BINARY_DIR}/signing-settings.txt)
    file(CONFIGURE OUTPUT ${signing_settings}
        CONTENT "${QUENTHALVOX_SIGNING_CERTIFICATE}\n${QUENTHALVOX_SIGNING_URL}\n${QUENTHALVOX_TIMESTAMP_URL}\n")
    find_program(OSSLSIGNCODE osslsigncode REQUIRED)
    # The linker's output is named as unsigned; the installer's own path holds
    # the signed installer, or nothing while signing fails.
    set_target_properties(${installer} PROPERTIES OUTPUT_NAME ${installer}-unsigned)
    set(signed_installer ${CMAKE_BINARY_DIR}/${installer}.exe)
    set(signing_options)
    if(QUENTHALVOX_SIGNING_URL)
        list(APPEND signing_options -i ${QUENTHALVOX_SIGNING_URL})
    endif()
    if(QUENTHALVOX_TIMESTAMP_URL)
        list(APPEND signing_options -ts ${QUENTHALVOX_TIMESTAMP_URL})
    endif()
    # CMake takes a dependency on any file named like the target's output for
    # the target itself, so the build asks for a stamp made with the signed file.
    set(signing_stamp ${CMAKE_BINARY_DIR}/CMakeFiles/signed_installer.stamp)
    # The certificate by its content: one replaced by another of an older date
    # signs again too.
    set(certificate_stamp ${CMAKE_BINARY_DIR}/CMakeFiles/signing_certificate.sha256)
    add_custom_target(signing_certificate
        COMMAND ${CMAKE_COMMAND} -DFILE=${QUENTHALVOX_SIGNING_CERTIFICATE} -DSTAMP=${certificate_stamp}
            -P ${CMAKE_SOURCE_DIR}/cmake/content_stamp.cmake
        BYPRODUCTS ${certificate_stamp}
        VERBATIM)
    add_custom_command(OUTPUT ${signed_installer} ${signing_stamp}
        COMMAND ${CMAKE_SOURCE_DIR}/cmake/sign_installer.sh ${OSSLSIGNCODE} $<TARGET_FILE:${installer}>
            ${signed_installer} ${QUENTHALVOX_SIGNING_CERTIFICATE} ${signing_options}
        COMMAND ${CMAKE_COMMAND} -E touch ${signing_stamp}
        DEPENDS ${installer} ${certificate_stamp} ${signing_settings} ${CMAKE_SOURCE_DIR}/cmake/sign_installer.sh
        COMMENT "Signing the installer"
        VERBATIM)
    add_custom_target(signed_installer ALL DEPENDS ${signing_stamp})
    add_dependencies(signed_installer signing_certificate)
else()
    # A signed build's linker output must not outlive it.
    file(REMOVE ${CMAKE_BINARY_DIR}/${installer}-unsigned.exe)
endif()
