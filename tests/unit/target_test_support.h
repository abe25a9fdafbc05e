// Shared by the install target tests: a small archive of the four entries the
// targets extract, and readers of what reached the file system and the user.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "archive_builder.h"
#include "error_report.h"
#include "fake.h"

namespace target_test {

inline HWND const PAGE = reinterpret_cast<HWND>(0x5E1EC7);

// Each entry's bytes name the entry, so a written file proves which one it came from.
inline std::string bytes_of(const std::string &entry_name) { return "contents of " + entry_name + "\n"; }

inline void install_payload() {
    std::string pool;
    std::vector<archive_builder::Entry> entries;
    for (const char *name : {"bin/target_cl64", "bin/target_cl32", "bin/target_fl64", "bin/target_fl32"}) {
        uint32_t offset = static_cast<uint32_t>(pool.size());
        pool += bytes_of(name);
        entries.push_back(archive_builder::entry(name, pool, {{offset, static_cast<uint32_t>(pool.size() - offset)}}));
    }
    fake::set_payload(pool, archive_builder::directory(entries));
}

// The calls that change the file system, in order, with their paths.
inline std::vector<std::string> file_system_calls() {
    std::vector<std::string> found;
    for (const std::string &call : fake::calls)
        for (const char *name : {"CreateDirectoryW ", "CreateFileW ", "DeleteFileW ", "RemoveDirectoryW "})
            if (call.rfind(name, 0) == 0) found.push_back(call);
    return found;
}

inline std::string call(const char *name, const std::u16string &path) { return name + (" " + fake::narrow(path)); }

// One error report: owned by the page, system caption, OK only.
inline void expect_one_report(const std::u16string &text) { expect_one_error_report(PAGE, text); }

}  // namespace target_test
