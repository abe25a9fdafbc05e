// The FL Studio native effect: both DLLs in a plug-in folder of their own under
// the folder FL Studio records in the current user's registry.
#pragma once

#include <windows.h>

// The plug-in's own folder below FL Studio's folder, without a trailing backslash.
constexpr const char *FL_PLUGIN_FOLDER = "\\Plugins\\Fruity\\Effects\\Quenthalvox";

// remove nonzero deletes both DLLs and then the plug-in folder if it is empty;
// zero installs both DLLs. Does nothing while install_failed is set.
void fl_studio_target(HWND owner, int remove);

// FL Studio's folder as the current user's registry records it: the "FL Studio"
// value, read into folder (at least 300 units, cleared first) and cut at its last
// backslash, which cut receives. False when the value cannot be read as a
// plain string of at most 249 units.
bool find_fl_studio_folder(WCHAR *folder, DWORD *cut);

// The 64-bit or the 32-bit DLL in the plug-in folder, in path (at least 304
// units); false when FL Studio is not found.
bool find_fl_studio_file(bool x64, WCHAR *path);
