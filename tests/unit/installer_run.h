// Runs the whole installer on the simulated machine: the licence page agreed
// to, then the selection page driven by a test's script.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "files/run_account.h"
#include "common/control_ids.h"
#include "common/exit_codes.h"
#include "common/report_texts.h"
#include "payload/extract.h"
#include "fake.h"
#include "installer/selection_page.h"
#include "target_test_support.h"

extern "C" void WINAPI installer_entry();

namespace installer_run {

const std::u16string FL_KEY = u"SOFTWARE\\Image-Line\\Shared\\Paths";

// A new process on a new machine: the installer's own process-wide state
// starts at zero too.
inline void fresh_process() {
    fake::reset();
    install_failed = 0;
    account = run_account{};
    available_targets = 0;
    selected_targets = 0;
}

// Every host found, where an administrator installs them: CLAP folders of
// both widths and FL Studio, in the system's Program Files folders.
inline void add_hosts() {
    fake::set_known_folder(FOLDERID_ProgramFiles, u"C:\\Program Files");
    fake::set_known_folder(FOLDERID_ProgramFilesX86, u"C:\\Program Files (x86)");
    target_test::set_common_files();
    fake::registry.set_string(FL_KEY, u"FL Studio", u"C:\\Program Files\\FL\\FL64.exe");
}

// The exit code, or nothing when the installer returned (it never should).
inline std::optional<UINT> run(std::function<void(HWND)> selection_script) {
    fake::set_licence("Terms.\r\n");
    fake::user.scripts.push_back([](HWND page) { fake::click(page, IDOK); });
    fake::user.scripts.push_back(std::move(selection_script));
    return fake::run_process([] { installer_entry(); });
}

inline fake::Dialog &selection_page() { return fake::user.dialogs.at(1); }

inline std::vector<std::u16string> report_texts() {
    std::vector<std::u16string> texts;
    for (const fake::MessageBoxRecord &box : fake::message_boxes) texts.push_back(box.text);
    return texts;
}

}  // namespace installer_run
