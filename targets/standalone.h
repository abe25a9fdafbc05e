// Removal of the standalone program and its Start-menu shortcut, which this
// installer never installs but an uninstall cleans up.
#pragma once

#include <windows.h>

// Silent in every case; leaves the maker's folder in place (creating it if it
// was absent).
void remove_standalone();
