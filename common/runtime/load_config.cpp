// The image's load configuration, which the loader reads before the entry
// point runs: the DLLs it brings in for the imports' own dependencies come
// from System32 only, never from the folder the installer was started from.
// The record ends after that field; the linker takes its size from the first.
#include <windows.h>

#include <stddef.h>

namespace {

// Built at compile time: no code runs before the entry point to fill it.
constexpr IMAGE_LOAD_CONFIG_DIRECTORY64 restricted_search() {
    IMAGE_LOAD_CONFIG_DIRECTORY64 config = {};
    config.Size = offsetof(IMAGE_LOAD_CONFIG_DIRECTORY64, Reserved1) + sizeof config.Reserved1;
    config.Reserved1 = LOAD_LIBRARY_SEARCH_SYSTEM32;  // DependentLoadFlags in newer headers
    return config;
}

}  // namespace

extern "C" const IMAGE_LOAD_CONFIG_DIRECTORY64 _load_config_used;
__attribute__((used)) constexpr IMAGE_LOAD_CONFIG_DIRECTORY64 _load_config_used = restricted_search();
