// Simulated system settings: environment variables, the current user's
// registry and the known folders. A fresh machine has no variables, an empty
// registry and no known folders (their lookup fails); tests add what they need.
#pragma once

#include <windows.h>
#include <shlobj.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fake {

// Names compare without regard to ASCII case. An empty value is a defined
// variable that GetEnvironmentVariableW still reports as 0.
void set_variable(std::u16string_view name, std::u16string_view value);
void remove_variable(std::u16string_view name);

struct RegistryValue {
    DWORD type;
    std::string bytes;  // as stored: a REG_SZ written with its terminator ends in two zero bytes
};

struct RegistryKey {
    std::map<std::string, RegistryValue> values;  // key: value name, upper case
};

// The arguments of one RegCreateKeyExW call, as the product passed them.
struct RegistryCreate {
    HKEY root;
    std::u16string subkey;
    DWORD reserved;
    bool class_given;
    DWORD options;
    REGSAM access;
    bool security_given;
    bool result_given;
    bool disposition_given;
};

// The arguments of one RegGetValueW call; size is the one given on entry.
struct RegistryRead {
    HKEY key;
    std::optional<std::u16string> subkey;  // nothing: null
    std::u16string value;
    DWORD flags;
    bool type_given;
    bool data_given;
    std::optional<DWORD> size;  // nothing: no size pointer
};

// Keys under HKEY_CURRENT_USER only, by path in upper case without outer
// backslashes ("SOFTWARE\\IMAGE-LINE").
struct Registry {
    std::map<std::string, RegistryKey> keys;
    std::map<HKEY, std::string> open;  // open handle -> key path
    LSTATUS create_fails = ERROR_SUCCESS;  // nonzero: RegCreateKeyExW gives this and creates nothing
    std::vector<RegistryCreate> creates;
    std::vector<RegistryRead> reads;
    unsigned bad_closes = 0;  // RegCloseKey on a handle that is not open

    bool has_key(std::u16string_view path) const;
    bool key_is_empty(std::u16string_view path) const;  // exists, without values (subkeys aside)
    // Stores text with its terminator as REG_SZ, creating the key and those above.
    void set_string(std::u16string_view path, std::u16string_view name, std::u16string_view text);
    void set_value(std::u16string_view path, std::u16string_view name, DWORD type, std::string bytes);
    size_t open_keys() const { return open.size(); }
};
extern Registry registry;
std::string registry_path(std::u16string_view path);

// SHGetKnownFolderPath hands out a new string for every successful lookup; the
// fake keeps each alive until the next reset and counts them.
struct KnownFolderLookup {
    std::string folder;  // "RoamingAppData", "StartMenu" or the GUID as text
    DWORD flags;
    bool token_given;
};
struct KnownFolders {
    std::map<std::string, std::u16string> paths;  // key: the folder's GUID as text
    std::vector<KnownFolderLookup> lookups;
    std::vector<std::unique_ptr<char16_t[]>> handed_out;
};
extern KnownFolders known_folders;
void set_known_folder(const KNOWNFOLDERID &folder, std::u16string_view path);
void remove_known_folder(const KNOWNFOLDERID &folder);  // its lookup fails

void reset_system();

}  // namespace fake
