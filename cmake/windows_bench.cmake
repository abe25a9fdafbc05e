# The Windows build of the archive reader under timing: the installer's own
# reader, block copy and embedded archive, compiled with the installer's flags
# and linked, like it, with no C runtime. Run it under Wine.
# Included at the end of windows_build.cmake, whose flags and sources it reuses.

add_executable(load_entry_wine_bench
    ${CMAKE_SOURCE_DIR}/tests/bench/windows/load_entry_wine_bench.cpp
    ${CMAKE_SOURCE_DIR}/payload/archive.cpp
    ${CMAKE_SOURCE_DIR}/common/runtime/memory.cpp
    ${CMAKE_SOURCE_DIR}/resources/embedded_data.S)
target_include_directories(load_entry_wine_bench PRIVATE ${CMAKE_SOURCE_DIR})
target_compile_options(load_entry_wine_bench PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${PRODUCT_COMPILE_OPTIONS}>)
target_link_options(load_entry_wine_bench PRIVATE
    -nostdlib -nostartfiles -Wl,-e,bench_entry -Wl,--subsystem,console -Wl,--gc-sections -s)
target_link_libraries(load_entry_wine_bench PRIVATE kernel32 user32 gcc)
