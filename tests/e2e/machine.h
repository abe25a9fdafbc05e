// The machine a scenario starts on: its own folder under C:\Program Files\qx-e2e, the user's
// folders, the installer's environment and FL Studio's registry value, and
// the files a scenario leaves there beforehand.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

const wchar_t FL_KEY[] = L"SOFTWARE\\Image-Line\\Shared\\Paths";
const wchar_t FL_VALUE_NAME[] = L"FL Studio";

// Lays out the machine of the scenario being played; returns the installer to start.
std::wstring prepare();
// The scenario's holds: the plug-in holder started on each file, and ended.
void hold_files();
void release_files();
// A PE image a host can load: the holder program itself.
std::wstring holder_program();
// The environment block for the installer: empty for the driver's own.
std::vector<wchar_t> environment_block();
// A scenario's path with its {S}, {APPDATA}, {STARTMENU}, {CPF} and {CPF86} filled in.
std::wstring expand(const wchar_t *pattern);
bool inside_root(const std::wstring &path);
// Every file and every empty folder (with a trailing backslash) in the scenario's folder.
std::vector<std::wstring> scenario_tree();

// What FL Studio's registry value holds now ("" none).
const std::wstring &fl_value();
// nullptr when the key is missing (and not created).
HKEY open_fl_key(bool create);
void remove_fl_value();
// A prefix taken as it is (the tour) sees no FL Studio of a scenario.
void delete_image_line_key();

std::vector<char> read_file(const std::wstring &path);
void write_file(const std::wstring &path, const char *bytes, size_t size);
bool exists(const std::wstring &path);
bool is_folder(const std::wstring &path);
bool is_link(const std::wstring &path);
