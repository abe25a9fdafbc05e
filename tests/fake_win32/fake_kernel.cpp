#include "fake.h"

#include <winternl.h>

#include <algorithm>
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

// Another open object of the product's, not shared for deleting, on key or
// inside it: it can then be neither renamed nor deleted.
bool open_by_product(const std::string &key, HANDLE except = nullptr) {
    for (auto &[handle, object] : files.open)
        if (handle != except && !(object.share & FILE_SHARE_DELETE) &&
            (object.key == key || object.key.rfind(key + "\\", 0) == 0))
            return true;
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

HANDLE new_handle(const std::string &key, std::u16string path, DWORD access, DWORD share) {
    HANDLE handle = reinterpret_cast<HANDLE>(next_handle += 4);
    files.open[handle] = OpenObject{key, std::move(path), access, share};
    return handle;
}

// Statuses carry the Win32 error they stand for; the product only passes
// them on to RtlNtStatusToDosError.
NTSTATUS status_of(DWORD error) {
    last_error = error;
    return error ? NTSTATUS(0xC0000000 | error) : 0;
}

// The object at a name inside an open folder, and the path the product means. A folder made a link
// since it was opened holds nothing, and nothing can be made in it.
struct Inside { std::string key; std::u16string path; bool folder_became_link; };

Inside inside(const OpenObject &folder, std::u16string_view name) {
    std::u16string path = folder.path;
    if (!path.empty() && path.back() != u'\\' && path.back() != u'/') path += u'\\';
    auto node = files.nodes.find(folder.key);
    return Inside{(folder.key.empty() ? "" : folder.key + "\\") + normalise_path(name), path + std::u16string(name),
                  node != files.nodes.end() && !node->second.link_to.empty()};
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

FileNode &FileSystem::add_link(std::u16string_view path, std::u16string_view target, DWORD tag, bool vouched) {
    std::string key = normalise_path(path), target_key = normalise_path(target);
    add_folder(u16(parent_of(key)));
    std::u16string names = u"\\??\\" + std::u16string(target);
    std::u16string header = {char16_t(tag), char16_t(tag >> 16), char16_t(8 + 2 * names.size()), 0, 0, char16_t(2 * names.size()), 0, 0};
    return nodes[key] = FileNode{folder_exists(target_key), {}, false, Hold::none, target_key, tag, header + names, vouched, {}, 0};
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

// Opens a folder as itself, the only open by path the product makes; "." is
// the current folder, which always exists and has no name of its own.
HANDLE WINAPI CreateFileW(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES, DWORD disposition,
                          DWORD attributes, HANDLE) {
    log_call("CreateFileW", view(path));
    files.opens.push_back(OpenRecord{std::u16string(view(path)), access, share, disposition, attributes});
    if (view(path) == u".") return new_handle("", u"", access, share);
    std::string key = resolved(path, !(attributes & FILE_FLAG_OPEN_REPARSE_POINT));
    if (!folder_exists(key)) {
        set_error(files.nodes.count(key) ? ERROR_DIRECTORY : parent_exists(key) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    return new_handle(key, std::u16string(view(path)), access, share);
}

NTSTATUS NTAPI NtCreateFile(PHANDLE object, ACCESS_MASK access, POBJECT_ATTRIBUTES name, PIO_STATUS_BLOCK, PLARGE_INTEGER,
                            ULONG, ULONG share, ULONG disposition, ULONG options, PVOID, ULONG) {
    auto folder = files.open.find(name->RootDirectory);
    if (folder == files.open.end()) return status_of(ERROR_INVALID_HANDLE);  // only ever relative to a held folder
    Inside at = inside(folder->second, {reinterpret_cast<const char16_t *>(name->ObjectName->Buffer),
                                        size_t(name->ObjectName->Length / 2)});
    std::string key = resolve(at.key, !(options & FILE_OPEN_REPARSE_POINT));
    bool creates = !files.nodes.count(key) && disposition != FILE_OPEN;
    log_call(creates ? "NtCreateFile(create)" : "NtCreateFile", at.path);
    files.opens.push_back(OpenRecord{at.path, access, share, disposition, options});
    if ((creates || (access & GENERIC_WRITE)) && files.create_fails && files.create_fails(at.path))
        return status_of(ERROR_ACCESS_DENIED);
    bool looks = !creates && !(access & (GENERIC_WRITE | DELETE | FILE_WRITE_ATTRIBUTES));
    if (looks && files.look_fails && files.look_fails(at.path)) return status_of(ERROR_ACCESS_DENIED);
    if (at.folder_became_link) return status_of(ERROR_BAD_PATHNAME);
    auto node = files.nodes.find(key);  // after the hooks, which may change the tree
    auto link = files.nodes.find(at.key);
    if (!(options & FILE_OPEN_REPARSE_POINT) && link != files.nodes.end() && link->second.tag == IO_REPARSE_TAG_MOUNT_POINT &&
        !link->second.vouched && user.redirection_trust == User::Trust::enforced)
        return status_of(ERROR_UNTRUSTED_MOUNT_POINT);
    if (node != files.nodes.end() && node->second.open_error) return status_of(node->second.open_error);
    if (node == files.nodes.end()) {
        if (disposition == FILE_OPEN) return status_of(ERROR_FILE_NOT_FOUND);
        if (!parent_exists(key)) return status_of(ERROR_PATH_NOT_FOUND);
        files.nodes[key].is_folder = options & FILE_DIRECTORY_FILE;
    } else if (disposition == FILE_CREATE) {
        return status_of(ERROR_ALREADY_EXISTS);
    } else if ((options & FILE_DIRECTORY_FILE) && !node->second.is_folder) {
        return status_of(ERROR_DIRECTORY);
    } else if ((options & FILE_NON_DIRECTORY_FILE) && node->second.is_folder) {
        return status_of(ERROR_ACCESS_DENIED);
    } else if (node->second.hold == Hold::locked && (access & ~DWORD(FILE_READ_ATTRIBUTES | SYNCHRONIZE))) {
        return status_of(ERROR_SHARING_VIOLATION);
    }
    *object = new_handle(key, at.path, access, share);
    return 0;
}

namespace {

NTSTATUS dispose(HANDLE object, const OpenObject &open) {
    if (files.delete_error)
        if (DWORD error = files.delete_error(open.path)) return status_of(error);
    const FileNode &node = files.nodes.at(open.key);  // after the hook, which may change the tree
    if (node.is_folder && node.link_to.empty() && has_children(open.key)) return status_of(ERROR_DIR_NOT_EMPTY);
    if (open_by_product(open.key, object)) return status_of(ERROR_SHARING_VIOLATION);
    if (DWORD error = held_error(node)) return status_of(error);
    files.nodes.erase(open.key);
    return 0;
}

NTSTATUS rename(HANDLE object, OpenObject &open, const FILE_RENAME_INFORMATION &renaming) {
    auto folder = files.open.find(renaming.RootDirectory);
    if (folder == files.open.end()) return status_of(ERROR_INVALID_HANDLE);
    Inside to = inside(folder->second, {reinterpret_cast<const char16_t *>(renaming.FileName), renaming.FileNameLength / 2});
    log_call("NtSetInformationFile(rename)", open.path + u" > " + to.path);
    if (files.move_error)
        if (DWORD error = files.move_error(open.path, to.path)) return status_of(error);
    if (open_by_product(open.key, object)) return status_of(ERROR_SHARING_VIOLATION);
    auto target = files.nodes.find(to.key);
    if (target != files.nodes.end() && to.key != open.key) {
        if (!renaming.ReplaceIfExists) return status_of(ERROR_ALREADY_EXISTS);
        if (target->second.is_folder) return status_of(ERROR_ACCESS_DENIED);
        if (DWORD error = held_error(target->second)) return status_of(error);
    }
    FileNode moved = files.nodes.at(open.key);
    files.nodes.erase(open.key);
    files.nodes[to.key] = moved;
    open.key = to.key;
    open.path = to.path;
    return 0;
}

}  // namespace

NTSTATUS NTAPI NtSetInformationFile(HANDLE object, PIO_STATUS_BLOCK, PVOID information, ULONG, FILE_INFORMATION_CLASS kind) {
    auto open = files.open.find(object);
    if (open == files.open.end()) return status_of(ERROR_INVALID_HANDLE);
    auto node = files.nodes.find(open->second.key);
    if (node == files.nodes.end()) return status_of(ERROR_FILE_NOT_FOUND);
    if (kind == FileRenameInformation) return rename(object, open->second, *static_cast<FILE_RENAME_INFORMATION *>(information));
    bool deletes = kind == FileDispositionInformation;
    log_call(deletes ? "NtSetInformationFile(delete)" : "NtSetInformationFile(attributes)", open->second.path);
    if (deletes) return dispose(object, open->second);
    node->second.read_only = static_cast<FILE_BASIC_INFORMATION *>(information)->FileAttributes & FILE_ATTRIBUTE_READONLY;
    if (!node->second.other_name.empty()) files.nodes[node->second.other_name].read_only = node->second.read_only;
    return 0;
}

ULONG NTAPI RtlNtStatusToDosError(NTSTATUS status) { return ULONG(status) & 0xFFFF; }

BOOL WINAPI GetFileInformationByHandleEx(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID information, DWORD) {
    auto open = files.open.find(file);
    if (open == files.open.end()) return set_error(ERROR_INVALID_HANDLE);
    const FileNode &node = files.nodes.at(open->second.key);
    if (kind == FileStandardInfo) return (*static_cast<FILE_STANDARD_INFO *>(information) = {{}, {}, node.other_name.empty() ? 1u : 2u, 0, 0}), TRUE;
    DWORD kind_of = node.is_folder ? FILE_ATTRIBUTE_DIRECTORY : node.read_only ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL;
    *static_cast<FILE_ATTRIBUTE_TAG_INFO *>(information) = {kind_of | (node.tag ? FILE_ATTRIBUTE_REPARSE_POINT : 0), node.tag};
    return TRUE;
}

BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD bytes, LPDWORD written, LPOVERLAPPED overlapped) {
    log_call("WriteFile");
    ++files.writes;
    if (overlapped) ++files.overlapped_writes;
    if (written) *written = 0;
    auto open = files.open.find(file);
    if (open == files.open.end() || !(open->second.access & GENERIC_WRITE)) return set_error(ERROR_ACCESS_DENIED);
    if (files.write_error) return set_error(files.write_error);
    DWORD count = bytes;
    if (files.short_write_limit && *files.short_write_limit < count) count = DWORD(*files.short_write_limit);
    files.nodes[open->second.key].bytes.append(static_cast<const char *>(buffer), count);
    if (written) *written = count;
    return TRUE;
}

BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD bytes, LPDWORD read, LPOVERLAPPED) {
    log_call("ReadFile");
    OpenObject &open = files.open.at(file);
    if (!(open.access & GENERIC_READ)) return set_error(ERROR_ACCESS_DENIED);
    const std::string &content = files.nodes.at(open.key).bytes;
    *read = DWORD(content.copy(static_cast<char *>(buffer), bytes, open.position));
    open.position += *read;
    return TRUE;
}

BOOL WINAPI CloseHandle(HANDLE handle) {
    log_call("CloseHandle");
    auto open = files.open.find(handle);
    if (open == files.open.end()) {
        ++files.bad_closes;
        return FALSE;
    }
    OpenObject closed = open->second;
    files.open.erase(open);
    if ((closed.access & GENERIC_WRITE) && files.on_written && files.nodes.count(closed.key))
        files.on_written(closed.path, files.nodes[closed.key]);
    return TRUE;
}

// Reads a link's reparse data. As many bytes are returned as its header says;
// any it holds past them stand for what an earlier read left in the buffer.
BOOL WINAPI DeviceIoControl(HANDLE device, DWORD, LPVOID, DWORD, LPVOID out, DWORD out_size, LPDWORD returned, LPOVERLAPPED) {
    const std::u16string &data = files.nodes.at(files.open.at(device).key).reparse_data;
    if (data.empty() || out_size < 2 * data.size()) return set_error(ERROR_MORE_DATA);
    return std::memcpy(out, data.data(), 2 * data.size()), *returned = 8 + data[2], TRUE;
}

// Where an open folder really is: every link on its way followed, in the
// system's own spelling of a drive path.
DWORD WINAPI GetFinalPathNameByHandleW(HANDLE file, LPWSTR path, DWORD size, DWORD) {
    std::u16string final_path = u"\\\\?\\" + u16(files.open.at(file).key);
    if (size <= final_path.size()) return DWORD(final_path.size() + 1);
    std::copy_n(final_path.c_str(), final_path.size() + 1, reinterpret_cast<char16_t *>(path));
    return DWORD(final_path.size());
}

int WINAPI CompareStringOrdinal(LPCWSTR one, int one_length, LPCWSTR other, int other_length, BOOL) {
    return normalise_path(view(one).substr(0, one_length)) == normalise_path(view(other).substr(0, other_length)) ? CSTR_EQUAL : 1;
}

// Only arranges a removal at the next restart, the one move the product makes by name.
BOOL WINAPI MoveFileExW(LPCWSTR from, LPCWSTR to, DWORD flags) {
    log_call("MoveFileExW", std::u16string(view(from)) + u" > (restart)");
    if (to || !(flags & MOVEFILE_DELAY_UNTIL_REBOOT)) return set_error(ERROR_INVALID_PARAMETER);
    std::string key = resolved(from, false);
    if (!files.nodes.count(key)) return set_error(ERROR_FILE_NOT_FOUND);
    if (files.restart_removal_fails) return set_error(ERROR_ACCESS_DENIED);
    files.removed_at_restart.push_back(key);
    return TRUE;
}

// The product looks by name only under Wine, which marks a link at its name.
DWORD WINAPI GetFileAttributesW(LPCWSTR path) {
    if (user.redirection_trust != User::Trust::echoed_by_wine) throw std::logic_error("looked at by name: " + narrow(view(path)));
    return files.nodes.at(resolved(path, false)).tag ? FILE_ATTRIBUTE_REPARSE_POINT : FILE_ATTRIBUTE_NORMAL;
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

