#include "fake.h"

#include <cstdio>
#include <cstring>

// GUIDs of the platform's known folders.
const KNOWNFOLDERID FOLDERID_RoamingAppData = {
    0x3EB685DB, 0x65F9, 0x4CF6, {0xA0, 0x3A, 0xE3, 0xEF, 0x65, 0x72, 0x9F, 0x3D}};
const KNOWNFOLDERID FOLDERID_StartMenu = {
    0x625B53C3, 0xAB48, 0x4EC1, {0xBA, 0x1F, 0xA1, 0xEF, 0x41, 0x46, 0xFC, 0x19}};
const KNOWNFOLDERID FOLDERID_ProgramFiles = {
    0x905E63B6, 0xC1BF, 0x494E, {0xB2, 0x9C, 0x65, 0xB7, 0x32, 0xD3, 0xD2, 0x1A}};
const KNOWNFOLDERID FOLDERID_ProgramFilesX86 = {
    0x7C5A40EF, 0xA0FB, 0x4BFC, {0x87, 0x4A, 0xC0, 0xF2, 0xE0, 0xB9, 0xFA, 0x8E}};

namespace fake {

Registry registry;
KnownFolders known_folders;

namespace {

constexpr LSTATUS ERROR_INVALID_HANDLE_STATUS = 6;
constexpr LSTATUS ERROR_INVALID_PARAMETER_STATUS = 87;

struct Variable {
    std::u16string name;  // as set, for a reader of the test's state
    std::u16string value;
};
std::map<std::string, Variable> variables;  // key: name in upper case
uintptr_t next_key = 0x7000;

std::u16string_view view(LPCWSTR text) {
    return text ? std::u16string_view(reinterpret_cast<const char16_t *>(text)) : std::u16string_view();
}

std::string upper(std::u16string_view text) {
    std::string key = narrow(text);
    for (char &c : key)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return key;
}

std::string guid_text(const KNOWNFOLDERID &folder) {
    char text[40];
    std::snprintf(text, sizeof text, "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", folder.Data1, folder.Data2,
                  folder.Data3, folder.Data4[0], folder.Data4[1], folder.Data4[2], folder.Data4[3], folder.Data4[4],
                  folder.Data4[5], folder.Data4[6], folder.Data4[7]);
    return text;
}

std::string folder_name(const KNOWNFOLDERID &folder) {
    std::string text = guid_text(folder);
    if (text == guid_text(FOLDERID_RoamingAppData)) return "RoamingAppData";
    if (text == guid_text(FOLDERID_StartMenu)) return "StartMenu";
    if (text == guid_text(FOLDERID_ProgramFiles)) return "ProgramFiles";
    if (text == guid_text(FOLDERID_ProgramFilesX86)) return "ProgramFilesX86";
    return text;
}

std::string join(const std::string &parent, const std::string &child) {
    if (child.empty()) return parent;
    return parent.empty() ? child : parent + "\\" + child;
}

void create_key(const std::string &path) {
    for (size_t cut = path.find('\\'); cut != std::string::npos; cut = path.find('\\', cut + 1))
        registry.keys[path.substr(0, cut)];
    if (!path.empty()) registry.keys[path];
}

// The key path a handle stands for; nothing for a handle that is not open.
std::optional<std::string> resolve(HKEY key) {
    if (key == HKEY_CURRENT_USER) return std::string();
    auto open = registry.open.find(key);
    if (open == registry.open.end()) return std::nullopt;
    return open->second;
}

// Size a REG_SZ needs in the caller's buffer: RegGetValueW adds a terminator
// when the stored data lacks one.
size_t string_size(const std::string &bytes) {
    bool terminated = bytes.size() >= 2 && bytes[bytes.size() - 1] == 0 && bytes[bytes.size() - 2] == 0;
    return terminated ? bytes.size() : bytes.size() + 2;
}

}  // namespace

void set_variable(std::u16string_view name, std::u16string_view value) {
    variables[upper(name)] = Variable{std::u16string(name), std::u16string(value)};
}

void remove_variable(std::u16string_view name) { variables.erase(upper(name)); }

std::string registry_path(std::u16string_view path) {
    std::string key = upper(path);
    while (!key.empty() && key.front() == '\\') key.erase(0, 1);
    while (!key.empty() && key.back() == '\\') key.pop_back();
    return key;
}

bool Registry::has_key(std::u16string_view path) const { return keys.count(registry_path(path)) != 0; }

bool Registry::key_is_empty(std::u16string_view path) const {
    auto key = keys.find(registry_path(path));
    return key != keys.end() && key->second.values.empty();
}

void Registry::set_string(std::u16string_view path, std::u16string_view name, std::u16string_view text) {
    std::string bytes(reinterpret_cast<const char *>(text.data()), text.size() * 2);
    bytes.append(2, '\0');
    set_value(path, name, REG_SZ, std::move(bytes));
}

void Registry::set_value(std::u16string_view path, std::u16string_view name, DWORD type, std::string bytes) {
    std::string key = registry_path(path);
    create_key(key);
    keys[key].values[upper(name)] = RegistryValue{type, std::move(bytes)};
}

void set_known_folder(const KNOWNFOLDERID &folder, std::u16string_view path) {
    known_folders.paths[guid_text(folder)] = std::u16string(path);
}

void remove_known_folder(const KNOWNFOLDERID &folder) { known_folders.paths.erase(guid_text(folder)); }

void reset_system() {
    variables.clear();
    registry = Registry{};
    known_folders = KnownFolders{};
}

}  // namespace fake

using namespace fake;

DWORD WINAPI GetEnvironmentVariableW(LPCWSTR name, LPWSTR buffer, DWORD size) {
    log_call("GetEnvironmentVariableW", view(name));
    auto found = variables.find(upper(view(name)));
    if (found == variables.end()) return 0;
    const std::u16string &value = found->second.value;
    if (value.empty()) return 0;
    // Too small: the size needed with the terminator, and the buffer untouched.
    if (!buffer || size <= value.size()) return DWORD(value.size() + 1);
    std::memcpy(buffer, value.data(), value.size() * 2);
    buffer[value.size()] = 0;
    return DWORD(value.size());
}

LSTATUS WINAPI RegCreateKeyExW(HKEY key, LPCWSTR subkey, DWORD reserved, LPWSTR class_name, DWORD options,
                               REGSAM access, LPSECURITY_ATTRIBUTES security, PHKEY result, LPDWORD disposition) {
    log_call("RegCreateKeyExW", view(subkey));
    registry.creates.push_back(RegistryCreate{key, std::u16string(view(subkey)), reserved, class_name != nullptr,
                                              options, access, security != nullptr, result != nullptr,
                                              disposition != nullptr});
    std::optional<std::string> base = resolve(key);
    if (!base || !result) return ERROR_INVALID_HANDLE_STATUS;
    if (registry.create_fails != ERROR_SUCCESS) return registry.create_fails;
    std::string path = join(*base, registry_path(view(subkey)));
    bool existed = registry.keys.count(path) != 0;
    create_key(path);
    *result = reinterpret_cast<HKEY>(next_key += 4);
    registry.open[*result] = path;
    if (disposition) *disposition = existed ? 2 : 1;  // REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegGetValueW(HKEY key, LPCWSTR subkey, LPCWSTR value, DWORD flags, LPDWORD type, PVOID data,
                            LPDWORD data_size) {
    log_call("RegGetValueW", view(value));
    registry.reads.push_back(RegistryRead{
        key, subkey ? std::optional<std::u16string>(view(subkey)) : std::nullopt, std::u16string(view(value)), flags,
        type != nullptr, data != nullptr, data_size ? std::optional<DWORD>(*data_size) : std::nullopt});
    std::optional<std::string> base = resolve(key);
    if (!base) return ERROR_INVALID_HANDLE_STATUS;
    if (data && !data_size) return ERROR_INVALID_PARAMETER_STATUS;
    auto found_key = registry.keys.find(join(*base, registry_path(view(subkey))));
    if (found_key == registry.keys.end()) return ERROR_FILE_NOT_FOUND;
    auto found = found_key->second.values.find(upper(view(value)));
    if (found == found_key->second.values.end()) return ERROR_FILE_NOT_FOUND;
    const RegistryValue &stored = found->second;
    // Each RRF_RT_ flag admits the type whose number is its bit position.
    if (stored.type > 15 || !((flags & 0xFFFF) >> stored.type & 1)) return ERROR_UNSUPPORTED_TYPE;
    size_t needed = stored.type == REG_SZ ? string_size(stored.bytes) : stored.bytes.size();
    if (type) *type = stored.type;
    if (!data) {
        if (data_size) *data_size = DWORD(needed);
        return ERROR_SUCCESS;
    }
    if (*data_size < needed) {
        *data_size = DWORD(needed);
        return ERROR_MORE_DATA;
    }
    std::memset(data, 0, needed);
    std::memcpy(data, stored.bytes.data(), stored.bytes.size());
    *data_size = DWORD(needed);
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegCloseKey(HKEY key) {
    log_call("RegCloseKey");
    if (!registry.open.erase(key)) {
        ++registry.bad_closes;
        return ERROR_INVALID_HANDLE_STATUS;
    }
    return ERROR_SUCCESS;
}

HRESULT WINAPI SHGetKnownFolderPath(REFKNOWNFOLDERID folder, DWORD flags, HANDLE token, PWSTR *path) {
    log_call("SHGetKnownFolderPath", u16(folder_name(folder)));
    known_folders.lookups.push_back(KnownFolderLookup{folder_name(folder), flags, token != nullptr});
    if (!path) return E_FAIL;
    *path = nullptr;
    auto found = known_folders.paths.find(guid_text(folder));
    if (found == known_folders.paths.end()) return E_FAIL;
    const std::u16string &text = found->second;
    auto copy = std::make_unique<char16_t[]>(text.size() + 1);
    std::memcpy(copy.get(), text.data(), text.size() * 2);
    *path = reinterpret_cast<PWSTR>(copy.get());
    known_folders.handed_out.push_back(std::move(copy));
    return S_OK;
}
