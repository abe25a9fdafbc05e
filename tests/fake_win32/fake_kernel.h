// Simulated kernel: process heap, file system, message boxes, process exit and
// the log of platform calls in the order the product made them.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace fake {

// ExitProcess unwinds to the test with this.
struct ProcessExit {
    UINT code;
};

// Runs product code as a process: gives the exit code if it ended the process,
// nothing if it returned.
std::optional<UINT> run_process(const std::function<void()> &body);

// Text helpers: the product speaks UTF-16 (wchar_t is 16 bits in this build).
std::u16string u16(const wchar_t *text);
std::u16string u16(std::string_view ascii);
std::string narrow(std::u16string_view text);  // ASCII view for messages and logs

// Every platform call the product makes, in order, as "Name" or "Name argument".
extern std::vector<std::string> calls;
void log_call(std::string name, std::u16string_view argument = {});
std::vector<std::string> calls_named(std::string_view name);

struct Heap {
    // 1-based number of the allocation that fails (returns null); 0: none fails.
    unsigned fail_allocation = 0;
    // Requests above this many bytes fail, as on a machine short of memory; 0: no limit.
    size_t largest_block = 0;
    unsigned allocations = 0;
    std::map<void *, size_t> live;  // block -> size
    unsigned bad_frees = 0;         // frees of blocks this heap never gave out
    std::vector<DWORD> allocation_flags;  // flags of every HeapAlloc, in order
    size_t live_blocks() const { return live.size(); }
};
extern Heap heap;

// How another program holds a file: loaded as a host loads a plug-in (mapped:
// it can be renamed but neither overwritten nor deleted), or open without
// sharing (nothing can be done to it).
enum class Hold { none, loaded, locked };

struct FileNode {
    bool is_folder = false;
    std::string bytes;
    bool read_only = false;
    Hold hold = Hold::none;
    std::string link_to;  // a link (junction, mount point or symbolic link) to this normalised path; empty: none
    DWORD tag = 0;        // its reparse point's tag: a link's, or another kind's such as a cloud placeholder's
    // A link's reparse data as the system keeps it: its header's eight words, then a junction's target ("\??\C:\...").
    std::u16string reparse_data;
    bool vouched = false;            // an administrator made the link: the system's guard lets it be followed
    std::string other_name;          // a hard link's other name, whose read-only mark is this one's
    DWORD open_error = 0;            // a virus scanner refuses every open of it with this error
};

// Paths compare without regard to ASCII case, as on Windows; "C:" always
// exists and is the only drive, a path starting with a single backslash lies
// on drive C: and a name without a backslash lies in the current folder.
// The arguments of one open, by CreateFileW or NtCreateFile (path in full).
struct OpenRecord {
    std::u16string path;
    DWORD access, share, disposition, options;
};

// An object the product holds open: its normalised path and the path as the product named it.
struct OpenObject { std::string key; std::u16string path; DWORD access, share; size_t position = 0; };

struct FileSystem {
    std::map<std::string, FileNode> nodes;  // key: normalised path
    std::function<bool(std::u16string_view path)> create_fails;  // an open that creates or writes is refused
    std::function<bool(std::u16string_view path)> look_fails;  // so are a look and an open only to read
    DWORD write_error = 0;                      // nonzero: WriteFile fails with it having written nothing
    // A virus scanner's turn once a file the product wrote is closed.
    std::function<void(std::u16string_view path, FileNode &file)> on_written;
    std::optional<size_t> short_write_limit;    // WriteFile writes at most this many bytes, returns TRUE
    std::map<HANDLE, OpenObject> open;
    unsigned writes = 0;                        // WriteFile calls
    unsigned bad_closes = 0;                    // CloseHandle on a handle that is not open
    std::vector<OpenRecord> opens;              // every open, in order
    unsigned overlapped_writes = 0;             // WriteFile calls given an OVERLAPPED
    // Nonzero: renaming one path to the other fails with this error.
    std::function<DWORD(std::u16string_view from, std::u16string_view to)> move_error;
    std::function<DWORD(std::u16string_view path)> delete_error;  // nonzero: deleting path fails with it
    bool restart_removal_fails = false;         // MoveFileExW cannot arrange a removal at restart
    std::vector<std::string> removed_at_restart;  // normalised paths, in the order arranged

    void add_folder(std::u16string_view path);  // with every missing folder above it
    void add_file(std::u16string_view path, std::string_view bytes);  // folders above created too
    // A link at path to the existing target (a folder link if it is a folder), made by an administrator if vouched.
    FileNode &add_link(std::u16string_view path, std::u16string_view target, DWORD tag = IO_REPARSE_TAG_MOUNT_POINT, bool vouched = false);
    bool is_folder(std::u16string_view path) const;
    bool is_file(std::u16string_view path) const;
    std::optional<std::string> read(std::u16string_view path) const;
    FileNode *node(std::u16string_view path);  // a file or folder, or null
    std::vector<std::string> files_in(std::u16string_view folder) const;  // normalised paths, sorted
    size_t open_handles() const { return open.size(); }
};
extern FileSystem files;
std::string normalise_path(std::u16string_view path);

struct MessageBoxRecord {
    HWND owner;
    std::u16string text;
    std::optional<std::u16string> caption;  // nothing: the null caption
    UINT type;
};
extern std::vector<MessageBoxRecord> message_boxes;
// Runs while a message box is "on screen", before MessageBoxW returns.
extern std::function<void(const MessageBoxRecord &)> on_message_box;
// The buttons the user presses, one per message box in order; once used up,
// IDOK, or IDCANCEL where the box offers Retry and Cancel.
extern std::vector<int> message_box_answers;

// Frees every block still live, so blocks of a process that ended are not
// reported as leaks.
void reset_kernel();

}  // namespace fake
