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

bool open_by_product(const std::string &key) {
    for (auto &open : files.handles)
        if (open.second == key) return true;
    return false;
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
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
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

void FileSystem::add_file(std::u16string_view path, std::string_view bytes) {
    std::string key = normalise_path(path);
    add_folder(u16(parent_of(key)));
    nodes[key] = FileNode{false, std::string(bytes)};
}

bool FileSystem::is_folder(std::u16string_view path) const { return folder_exists(normalise_path(path)); }

bool FileSystem::is_file(std::u16string_view path) const {
    auto node = nodes.find(normalise_path(path));
    return node != nodes.end() && !node->second.is_folder;
}

std::optional<std::string> FileSystem::read(std::u16string_view path) const {
    if (!is_file(path)) return std::nullopt;
    return nodes.at(normalise_path(path)).bytes;
}

FileNode *FileSystem::node(std::u16string_view path) {
    auto found = nodes.find(normalise_path(path));
    return found == nodes.end() ? nullptr : &found->second;
}

std::vector<std::string> FileSystem::files_in(std::u16string_view folder) const {
    std::vector<std::string> found;
    std::string key = normalise_path(folder);
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
    std::string key = normalise_path(view(path));
    if (key.empty()) return set_error(ERROR_PATH_NOT_FOUND);
    if (key == "C:" || files.nodes.count(key)) return set_error(ERROR_ALREADY_EXISTS);
    if (!parent_exists(key)) return set_error(ERROR_PATH_NOT_FOUND);
    files.nodes[key].is_folder = true;
    return TRUE;
}

HANDLE WINAPI CreateFileW(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                          DWORD disposition, DWORD attributes, HANDLE template_file) {
    log_call("CreateFileW", view(path));
    files.opens.push_back(OpenRecord{std::u16string(view(path)), access, share, disposition, attributes,
                                     security != nullptr, template_file != nullptr});
    std::string key = normalise_path(view(path));
    if (files.open_fails && files.open_fails(view(path))) {
        set_error(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    if (access != GENERIC_WRITE || disposition != CREATE_ALWAYS) {
        set_error(ERROR_ACCESS_DENIED);  // the product only ever creates files for writing
        return INVALID_HANDLE_VALUE;
    }
    auto node = files.nodes.find(key);
    if (node != files.nodes.end() && !node->second.is_folder && held_error(node->second)) {
        set_error(node->second.hold == Hold::loaded ? ERROR_USER_MAPPED_FILE : held_error(node->second));
        return INVALID_HANDLE_VALUE;
    }
    bool busy = open_by_product(key);
    if (key.empty() || !parent_exists(key) || busy ||
        (node != files.nodes.end() && node->second.is_folder)) {
        set_error(busy || node != files.nodes.end() ? ERROR_ACCESS_DENIED : ERROR_PATH_NOT_FOUND);
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
    if (!files.handles.erase(handle)) {
        ++files.bad_closes;
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI DeleteFileW(LPCWSTR path) {
    log_call("DeleteFileW", view(path));
    std::string key = normalise_path(view(path));
    auto node = files.nodes.find(key);
    if (node == files.nodes.end()) return set_error(ERROR_FILE_NOT_FOUND);
    if (node->second.is_folder) return set_error(ERROR_ACCESS_DENIED);
    if (open_by_product(key)) return set_error(ERROR_SHARING_VIOLATION);
    if (DWORD error = held_error(node->second)) return set_error(error);
    files.nodes.erase(node);
    return TRUE;
}

// Renames within the simulated disk; a null destination with
// MOVEFILE_DELAY_UNTIL_REBOOT only records the removal.
BOOL WINAPI MoveFileExW(LPCWSTR from, LPCWSTR to, DWORD flags) {
    log_call("MoveFileExW", std::u16string(view(from)) + u" > " + (to ? std::u16string(view(to)) : u"(restart)"));
    std::string key = normalise_path(view(from));
    auto source = files.nodes.find(key);
    if (source == files.nodes.end()) return set_error(ERROR_FILE_NOT_FOUND);
    if (!to) {
        if (!(flags & MOVEFILE_DELAY_UNTIL_REBOOT)) return set_error(ERROR_INVALID_PARAMETER);
        if (files.restart_removal_fails) return set_error(ERROR_ACCESS_DENIED);
        files.removed_at_restart.push_back(key);
        return TRUE;
    }
    std::string target_key = normalise_path(view(to));
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
    auto node = files.nodes.find(normalise_path(view(path)));
    if (node == files.nodes.end()) {
        set_error(ERROR_FILE_NOT_FOUND);
        return INVALID_FILE_ATTRIBUTES;
    }
    if (node->second.is_folder) return FILE_ATTRIBUTE_DIRECTORY;
    return node->second.read_only ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL;
}

BOOL WINAPI RemoveDirectoryW(LPCWSTR path) {
    log_call("RemoveDirectoryW", view(path));
    std::string key = normalise_path(view(path));
    auto node = files.nodes.find(key);
    if (node == files.nodes.end() || !node->second.is_folder) return set_error(ERROR_PATH_NOT_FOUND);
    if (has_children(key)) return set_error(ERROR_DIR_NOT_EMPTY);
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
