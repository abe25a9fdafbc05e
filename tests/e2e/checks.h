// What the driver compares with the scenario: the pages' controls and states,
// the message boxes the installer showed, and the disk and the registry it
// left behind.
#pragma once

#include <string>
#include <vector>

// Every control, the opening view, the tab order and the centring.
void check_licence_page();
// Every control and its state, from the scenario's labels.
void check_selection_page();

struct seen_report {
    std::wstring text, caption;
};
void check_reports(const std::vector<seen_report> &seen);

// The builds the scenario expects on disk, in the order they must be written.
std::vector<std::wstring> expected_builds();
// Inside the scenario's folder, exactly the files and folders expected;
// outside, each as stated.
void check_disk();
// `first_seen[i]`: when `files[i]` appeared, in polls of the driver (-1 never).
void check_write_order(const std::vector<std::wstring> &files, const std::vector<int> &first_seen);
void check_registry();
