#include "fake.h"

#include <cstdlib>
#include <cstring>

namespace fake {

std::vector<std::string> calls;
Heap heap;
FileSystem files;
std::vector<MessageBoxRecord> message_boxes;
std::function<void(const MessageBoxRecord &)> on_message_box;
std::vector<int> message_box_answers;

namespace {

DWORD last_error = 0;
HANDLE const process_heap = reinterpret_cast<HANDLE>(0x4EA9);
uintptr_t next_handle = 0x100;

bool set_error(DWORD error) {
    last_error = error;
    return false;
}

std::u16string_view view(LPCWSTR text) {
    return text ? std::u16string_view(reinterpret_cast<const char16_t *>(text)) : std::u16string_view();
}

std::string parent_of(const std::string &key) {
    size_t cut = key.rfind('\\');
    return cut == std::string::npos ? std::string() : key.substr(0, cut);
}

bool folder_exists(const std::string &key) {
    if (key == "C:") return true;
    auto node = files.nodes.find(key);
    return node != files.nodes.end() && node->second.is_folder;
}

bool is_drive(const std::string &key) { return key.size() == 2 && key[1] == ':'; }

// A name without any folder lies in the current folder, which always exists.
bool parent_exists(const std::string &key) {
    std::string parent = parent_of(key);
    return parent.empty() ? !is_drive(key) : folder_exists(parent);
}

// Written by the product, or held (sharing no delete), which also keeps
// every folder above it from being renamed or deleted.
bool open_by_product(const std::string &key) {
    for (auto &open : files.handles)
        if (open.second == key) return true;
    for (auto &open : files.held)
        if (open.second == key || open.second.rfind(key + "\\", 0) == 0) return true;
    return false;
}

// The path with every link on the way followed, and the last name's too
// when follow_last; as Windows does, links lead on to links.
std::string resolve(const std::string &key, bool follow_last) {
    for (size_t cut = key.find('\\');; cut = key.find('\\', cut + 1)) {
        auto node = files.nodes.find(key.substr(0, cut));
        bool last = cut == std::string::npos;
        if (node != files.nodes.end() && !node->second.link_to.empty() && (!last || follow_last))
            return resolve(node->second.link_to + (last ? "" : key.substr(cut)), follow_last);
        if (last) return key;
    }
}

std::string resolved(LPCWSTR path, bool follow_last) { return resolve(normalise_path(view(path)), follow_last); }

// A self-relative security descriptor with nothing but its owner, at byte 20:
// the user (S-1-5-21-0-0-0-1000) or Administrators (S-1-5-32-544).
std::string owner_descriptor(Owner owner) {
    std::string sid = owner == Owner::user ? std::string("\1\5\0\0\0\0\0\5\25\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\xE8\3\0\0", 28)
                                           : std::string("\1\2\0\0\0\0\0\5\40\0\0\0\40\2\0\0", 16);
    return std::string("\1\0\0\x80\24", 5) + std::string(15, '\0') + sid;
}

// An open of a file or folder only to read its attributes and owner, as the
// product makes to check and hold a path.
HANDLE open_itself(LPCWSTR path, DWORD access, DWORD flags) {
    std::string key = resolved(path, !(flags & FILE_FLAG_OPEN_REPARSE_POINT));
    auto node = files.nodes.find(key);
    if (node == files.nodes.end()) {
        set_error(parent_exists(key) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    if ((node->second.is_folder && !(flags & FILE_FLAG_BACKUP_SEMANTICS)) ||
        (access & ~DWORD(READ_CONTROL | FILE_READ_ATTRIBUTES))) {
        set_error(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    HANDLE handle = reinterpret_cast<HANDLE>(next_handle += 4);
    files.held[handle] = key;
    return handle;
}

// Why another program's hold, or the read-only mark, stops the file from
// being written, replaced or deleted; 0 when nothing does.
DWORD held_error(const FileNode &node) {
    if (node.hold == Hold::locked) return ERROR_SHARING_VIOLATION;
    if (node.hold == Hold::loaded || node.read_only) return ERROR_ACCESS_DENIED;
    return 0;
}

bool has_children(const std::string &key) {
    auto next = files.nodes.lower_bound(key + "\\");
    return next != files.nodes.end() && next->first.compare(0, key.size() + 1, key + "\\") == 0;
}

}  // namespace

std::optional<UINT> run_process(const std::function<void()> &body) {
    try {
        body();
    } catch (const ProcessExit &exit) {
        return exit.code;
    }
    return std::nullopt;
}

std::u16string u16(const wchar_t *text) { return std::u16string(view(text)); }

std::u16string u16(std::string_view ascii) { return std::u16string(ascii.begin(), ascii.end()); }

std::string narrow(std::u16string_view text) {
    std::string out;
    for (char16_t unit : text) out += unit < 0x80 ? static_cast<char>(unit) : '?';
    return out;
}

void log_call(std::string name, std::u16string_view argument) {
    if (!argument.empty()) name += " " + narrow(argument);
    calls.push_back(std::move(name));
}

std::vector<std::string> calls_named(std::string_view name) {
    std::vector<std::string> found;
    for (const std::string &call : calls)
        if (call.compare(0, name.size(), name) == 0 && (call.size() == name.size() || call[name.size()] == ' '))
            found.push_back(call);
    return found;
}

std::string normalise_path(std::u16string_view path) {
    std::string key = narrow(path);
    for (char &c : key)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
        else if (c == '/')
            c = '\\';
    if (!key.empty() && key[0] == '\\' && (key.size() < 2 || key[1] != '\\')) key = "C:" + key;
    while (key.size() > 2 && key.back() == '\\') key.pop_back();
    return key;
}

void FileSystem::add_folder(std::u16string_view path) {
    std::string key = normalise_path(path);
    if (key.empty() || key == "C:") return;
    add_folder(u16(parent_of(key)));
    nodes[key].is_folder = true;
}

void FileSystem::add_link(std::u16string_view path, std::u16string_view target, Owner owner) {
    std::string key = normalise_path(path);
    add_folder(u16(parent_of(key)));
    std::string target_key = normalise_path(target);
    nodes[key] = FileNode{folder_exists(target_key), {}, false, Hold::none, target_key, owner};
}

void FileSystem::add_file(std::u16string_view path, std::string_view bytes) {
    std::string key = normalise_path(path);
    add_folder(u16(parent_of(key)));
    nodes[key] = FileNode{};
    nodes[key].bytes = std::string(bytes);
}

// A test looks at a path as a program would: through every link on it.
bool FileSystem::is_folder(std::u16string_view path) const { return folder_exists(resolve(normalise_path(path), true)); }

bool FileSystem::is_file(std::u16string_view path) const {
    auto node = nodes.find(resolve(normalise_path(path), true));
    return node != nodes.end() && !node->second.is_folder;
}

std::optional<std::string> FileSystem::read(std::u16string_view path) const {
    if (!is_file(path)) return std::nullopt;
    return nodes.at(resolve(normalise_path(path), true)).bytes;
}

FileNode *FileSystem::node(std::u16string_view path) {
    auto found = nodes.find(resolve(normalise_path(path), true));
    return found == nodes.end() ? nullptr : &found->second;
}

std::vector<std::string> FileSystem::files_in(std::u16string_view folder) const {
    std::vector<std::string> found;
    std::string key = resolve(normalise_path(folder), true);
    for (auto &node : nodes)
        if (!node.second.is_folder && parent_of(node.first) == key) found.push_back(node.first);
    return found;
}

void reset_kernel() {
    calls.clear();
    for (auto &block : heap.live) std::free(block.first);
    heap = Heap{};
    files = FileSystem{};
    message_boxes.clear();
    on_message_box = nullptr;
    message_box_answers.clear();
    last_error = 0;
}

}  // namespace fake

using namespace fake;

DWORD WINAPI GetLastError() { return last_error; }

HANDLE WINAPI GetProcessHeap() {
    log_call("GetProcessHeap");
    return process_heap;
}

LPVOID WINAPI HeapAlloc(HANDLE heap_handle, DWORD flags, SIZE_T bytes) {
    log_call("HeapAlloc");
    heap.allocation_flags.push_back(flags);
    if (heap_handle != process_heap) return nullptr;
    if (++heap.allocations == heap.fail_allocation) return nullptr;
    if (heap.largest_block && bytes > heap.largest_block) return nullptr;
    void *block = std::malloc(bytes ? bytes : 1);
    if (!block) return nullptr;
    // A block the caller did not ask to be cleared holds garbage, as it may on Windows.
    std::memset(block, (flags & HEAP_ZERO_MEMORY) ? 0 : 0xBE, bytes);
    heap.live[block] = bytes;
    return block;
}

BOOL WINAPI HeapFree(HANDLE heap_handle, DWORD, LPVOID block) {
    log_call("HeapFree");
    if (heap_handle != process_heap || !heap.live.erase(block)) {
        ++heap.bad_frees;
        return FALSE;
    }
    std::free(block);
    return TRUE;
}

BOOL WINAPI CreateDirectoryW(LPCWSTR path, LPSECURITY_ATTRIBUTES security) {
    log_call("CreateDirectoryW", view(path));
    if (security) ++files.secured_folders;
    std::string key = resolved(path, false);
    if (key.empty()) return set_error(ERROR_PATH_NOT_FOUND);
    if (key == "C:" || files.nodes.count(key)) return set_error(ERROR_ALREADY_EXISTS);
    if (!parent_exists(key)) return set_error(ERROR_PATH_NOT_FOUND);
    files.nodes[key].is_folder = true;
    return TRUE;
}

HANDLE WINAPI CreateFileW(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                          DWORD disposition, DWORD attributes, HANDLE template_file) {
    // An open of what exists only reads it; the log keeps it apart from the
    // opens that create.
    log_call(disposition == OPEN_EXISTING ? "CreateFileW(existing)" : "CreateFileW", view(path));
    files.opens.push_back(OpenRecord{std::u16string(view(path)), access, share, disposition, attributes,
                                     security != nullptr, template_file != nullptr});
    if (files.open_fails && files.open_fails(view(path))) {
        set_error(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    if (disposition == OPEN_EXISTING) return open_itself(path, access, attributes);
    // The product only ever creates new files for writing, never through a link at the name.
    if (access != GENERIC_WRITE || disposition != CREATE_NEW) {
        set_error(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    std::string key = resolved(path, false);
    auto node = files.nodes.find(key);
    if (node != files.nodes.end() || key.empty() || !parent_exists(key)) {
        bool exists = node != files.nodes.end();
        set_error(!exists ? ERROR_PATH_NOT_FOUND : node->second.is_folder ? ERROR_ACCESS_DENIED : ERROR_FILE_EXISTS);
        return INVALID_HANDLE_VALUE;
    }
    files.nodes[key] = FileNode{};
    HANDLE handle = reinterpret_cast<HANDLE>(next_handle += 4);
    files.handles[handle] = key;
    return handle;
}

BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD bytes, LPDWORD written, LPOVERLAPPED overlapped) {
    log_call("WriteFile");
    ++files.writes;
    if (overlapped) ++files.overlapped_writes;
    if (written) *written = 0;
    auto open = files.handles.find(file);
    if (open == files.handles.end()) return set_error(ERROR_ACCESS_DENIED);
    if (files.write_error) return set_error(files.write_error);
    DWORD count = bytes;
    if (files.short_write_limit && *files.short_write_limit < count) count = DWORD(*files.short_write_limit);
    files.nodes[open->second].bytes.append(static_cast<const char *>(buffer), count);
    if (written) *written = count;
    return TRUE;
}

BOOL WINAPI FlushFileBuffers(HANDLE file) {
    log_call("FlushFileBuffers");
    return files.handles.count(file) ? TRUE : set_error(ERROR_INVALID_HANDLE);
}

BOOL WINAPI CloseHandle(HANDLE handle) {
    log_call("CloseHandle");
    if (!files.handles.erase(handle) && !files.held.erase(handle)) {
        ++files.bad_closes;
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI DeleteFileW(LPCWSTR path) {
    log_call("DeleteFileW", view(path));
    std::string key = resolved(path, false);
    auto node = files.nodes.find(key);
    if (node == files.nodes.end()) return set_error(ERROR_FILE_NOT_FOUND);
    if (node->second.is_folder) return set_error(ERROR_ACCESS_DENIED);
    if (open_by_product(key)) return set_error(ERROR_SHARING_VIOLATION);
    if (files.delete_error)
        if (DWORD error = files.delete_error(view(path))) return set_error(error);
    if (DWORD error = held_error(node->second)) return set_error(error);
    files.nodes.erase(node);
    return TRUE;
}

// Renames within the simulated disk; a null destination with
// MOVEFILE_DELAY_UNTIL_REBOOT only records the removal.
BOOL WINAPI MoveFileExW(LPCWSTR from, LPCWSTR to, DWORD flags) {
    log_call("MoveFileExW", std::u16string(view(from)) + u" > " + (to ? std::u16string(view(to)) : u"(restart)"));
    std::string key = resolved(from, false);
    auto source = files.nodes.find(key);
    if (source == files.nodes.end()) return set_error(ERROR_FILE_NOT_FOUND);
    if (!to) {
        if (!(flags & MOVEFILE_DELAY_UNTIL_REBOOT)) return set_error(ERROR_INVALID_PARAMETER);
        if (files.restart_removal_fails) return set_error(ERROR_ACCESS_DENIED);
        files.removed_at_restart.push_back(key);
        return TRUE;
    }
    std::string target_key = resolved(to, false);
    if (!parent_exists(target_key)) return set_error(ERROR_PATH_NOT_FOUND);
    if (files.move_error)
        if (DWORD error = files.move_error(view(from), view(to))) return set_error(error);
    if (open_by_product(key) || source->second.hold == Hold::locked) return set_error(ERROR_SHARING_VIOLATION);
    auto target = files.nodes.find(target_key);
    if (target != files.nodes.end() && target_key != key) {
        if (!(flags & MOVEFILE_REPLACE_EXISTING)) return set_error(ERROR_ALREADY_EXISTS);
        if (target->second.is_folder) return set_error(ERROR_ACCESS_DENIED);
        if (open_by_product(target_key)) return set_error(ERROR_SHARING_VIOLATION);
        if (DWORD error = held_error(target->second)) return set_error(error);
    }
    FileNode moved = source->second;
    files.nodes.erase(source);
    files.nodes[target_key] = moved;
    return TRUE;
}

DWORD WINAPI GetFileAttributesW(LPCWSTR path) {
    log_call("GetFileAttributesW", view(path));
    auto node = files.nodes.find(resolved(path, false));
    if (node == files.nodes.end()) {
        set_error(ERROR_FILE_NOT_FOUND);
        return INVALID_FILE_ATTRIBUTES;
    }
    DWORD link = node->second.link_to.empty() ? 0 : FILE_ATTRIBUTE_REPARSE_POINT;
    if (node->second.is_folder) return FILE_ATTRIBUTE_DIRECTORY | link;
    return (node->second.read_only ? FILE_ATTRIBUTE_READONLY : link ? 0 : FILE_ATTRIBUTE_NORMAL) | link;
}

BOOL WINAPI SetFileAttributesW(LPCWSTR path, DWORD attributes) {
    log_call("SetFileAttributesW", view(path));
    auto node = files.nodes.find(resolved(path, false));
    if (node == files.nodes.end()) return set_error(ERROR_FILE_NOT_FOUND);
    node->second.read_only = attributes & FILE_ATTRIBUTE_READONLY;
    return TRUE;
}

BOOL WINAPI RemoveDirectoryW(LPCWSTR path) {
    log_call("RemoveDirectoryW", view(path));
    std::string key = resolved(path, false);
    auto node = files.nodes.find(key);
    if (node == files.nodes.end() || !node->second.is_folder) return set_error(ERROR_PATH_NOT_FOUND);
    if (open_by_product(key)) return set_error(ERROR_SHARING_VIOLATION);
    if (node->second.link_to.empty() && has_children(key)) return set_error(ERROR_DIR_NOT_EMPTY);
    files.nodes.erase(node);
    return TRUE;
}

void WINAPI ExitProcess(UINT code) {
    log_call("ExitProcess " + std::to_string(code));
    throw ProcessExit{code};
}

int WINAPI MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
    log_call("MessageBoxW", view(text));
    MessageBoxRecord record{owner, std::u16string(view(text)),
                            caption ? std::optional<std::u16string>(view(caption)) : std::nullopt, type};
    message_boxes.push_back(record);
    if (on_message_box) on_message_box(record);
    if (message_box_answers.empty()) return (type & 0xF) == MB_RETRYCANCEL ? IDCANCEL : IDOK;
    int answer = message_box_answers.front();
    message_box_answers.erase(message_box_answers.begin());
    return answer;
}

BOOL WINAPI GetKernelObjectSecurity(HANDLE object, SECURITY_INFORMATION requested, PSECURITY_DESCRIPTOR descriptor,
                                    DWORD size, LPDWORD needed) {
    log_call("GetKernelObjectSecurity");
    auto open = files.held.find(object);
    if (open == files.held.end() || requested != OWNER_SECURITY_INFORMATION) return set_error(ERROR_INVALID_HANDLE);
    std::string bytes = owner_descriptor(files.nodes.at(open->second).owner);
    if (needed) *needed = DWORD(bytes.size());
    if (size < bytes.size()) return set_error(ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(descriptor, bytes.data(), bytes.size());
    return TRUE;
}

BOOL WINAPI GetSecurityDescriptorOwner(PSECURITY_DESCRIPTOR descriptor, PSID *owner, BOOL *defaulted) {
    const unsigned char *bytes = static_cast<const unsigned char *>(descriptor);
    uint32_t offset = bytes[4] | bytes[5] << 8 | bytes[6] << 16 | uint32_t(bytes[7]) << 24;
    *owner = offset ? const_cast<unsigned char *>(bytes + offset) : nullptr;
    *defaulted = FALSE;
    return TRUE;
}

// The path the open object has, links followed, in the "\\?\" form.
DWORD WINAPI GetFinalPathNameByHandleW(HANDLE file, LPWSTR path, DWORD size, DWORD) {
    log_call("GetFinalPathNameByHandleW");
    auto open = files.held.find(file);
    if (open == files.held.end()) return set_error(ERROR_INVALID_HANDLE);
    std::u16string text = u"\\\\?\\" + u16(resolve(open->second, true));
    if (text.size() >= size) return DWORD(text.size() + 1);
    std::memcpy(path, text.c_str(), (text.size() + 1) * 2);
    return DWORD(text.size());
}

int WINAPI CompareStringOrdinal(LPCWSTR first, int first_length, LPCWSTR second, int second_length, BOOL ignore_case) {
    auto text = [ignore_case](LPCWSTR units, int length) {
        std::u16string all = u16(units).substr(0, length < 0 ? std::u16string::npos : size_t(length));
        return ignore_case ? u16(normalise_path(all)) : all;  // ASCII case, as the product's paths have
    };
    int order = text(first, first_length).compare(text(second, second_length));
    return order < 0 ? CSTR_LESS_THAN : order > 0 ? CSTR_GREATER_THAN : CSTR_EQUAL;
}
