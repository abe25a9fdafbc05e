// Shared by the install target tests: a small archive of the four entries the
// targets extract, the common files folders, the reports several of them
// expect, and readers of what reached the file system and the user.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "archive_builder.h"
#include "error_report.h"
#include "fake.h"

namespace target_test {

inline HWND const PAGE = reinterpret_cast<HWND>(0x5E1EC7);

// The common files folders of both widths, where the CLAP folders lie.
inline const std::u16string COMMON = u"C:\\Program Files\\Common Files";
inline const std::u16string COMMON_X86 = u"C:\\Program Files (x86)\\Common Files";
inline void set_common_files() {
    fake::set_variable(u"COMMONPROGRAMFILES", COMMON);
    fake::set_variable(u"COMMONPROGRAMFILES(X86)", COMMON_X86);
}

// Reports expected word for word by the target tests and the runs.
inline const std::u16string INACCESSIBLE =
    u"The installation folder was inaccessible. Quenthalvox could not be installed.";
inline const std::u16string FL_NOT_FOUND =
    u"No FL Studio installation was found. Make sure you have installed the latest version of FL Studio.";

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

// A name the product keeps beside a plug-in: the new file being written, or
// an old one moved aside (checked by the install and uninstall run tables).
inline bool is_side_name(const std::string &call) {
    size_t end = call.size();
    if (call.find(" > ") != std::string::npos) end = call.find(" > ");
    std::string path = call.substr(0, end);
    return (path.size() > 4 && path.compare(path.size() - 4, 4, ".new") == 0) ||
           (path.size() > 4 && path.compare(path.size() - 4, 4, ".old") == 0);
}

// The calls that change the file system, in order, with their paths; calls on
// side names aside.
inline std::vector<std::string> file_system_calls() {
    std::vector<std::string> found;
    for (const std::string &call : fake::calls)
        for (const char *name : {"NtCreateFile(create) ", "NtSetInformationFile(delete) "})
            if (call.rfind(name, 0) == 0 && !is_side_name(call)) found.push_back(call);
    return found;
}

// The files put in place, in order: each new file renamed over its destination.
inline std::vector<std::string> files_put_in_place() {
    std::vector<std::string> found;
    for (const std::string &call : fake::calls_named("NtSetInformationFile(rename)")) {
        size_t arrow = call.find(" > ");
        if (is_side_name(call.substr(0, arrow))) found.push_back(call.substr(arrow + 3));
    }
    return found;
}

// The extraction's report of a file it could not install, with Retry and Cancel.
inline void expect_cannot_install(const std::u16string &path, const std::u16string &cause) {
    ASSERT_EQ(fake::message_boxes.size(), 1u);
    EXPECT_EQ(fake::message_boxes[0].text, path + u"\r\n\r\n" + cause);
    EXPECT_EQ(fake::message_boxes[0].owner, PAGE);
    EXPECT_EQ(fake::message_boxes[0].type, UINT(MB_RETRYCANCEL));
}

inline std::string call(const char *name, const std::u16string &path) { return name + (" " + fake::narrow(path)); }

// One error report: owned by the page, system caption, OK only.
inline void expect_one_report(const std::u16string &text) { expect_one_error_report(PAGE, text); }

}  // namespace target_test
