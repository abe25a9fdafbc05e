// The CLAP builds in the system-wide CLAP folders of both processor widths.
#pragma once

#include <windows.h>

// clap_target's remove argument.
enum : int { CLAP_INSTALL = 0, CLAP_REMOVE = 1 };
// clap_target's build argument; a removal takes both builds, whichever is given.
enum : int { CLAP_64_BIT = 0, CLAP_32_BIT = 1, CLAP_BOTH_BUILDS = 0 };

// The longest common program files folder, in units, that the target installs under.
enum : DWORD { LONGEST_CLAP_BASE = 240 };

// remove nonzero deletes both CLAP files; zero installs the 64-bit build when
// build is zero and the 32-bit build otherwise. Both directions need both
// common program files variables to be usable.
void clap_target(HWND owner, int remove, int build);

// The CLAP folder of the build's processor width: the common program files
// folder its environment variable names, followed by "\CLAP", in folder (at
// least 250 units). False when the variable is missing or empty, or its value
// is longer than longest units (at most LONGEST_CLAP_BASE).
bool find_clap_folder(int build, WCHAR *folder, DWORD longest);

// The build's file in its CLAP folder, in path (at least 304 units); false
// when the folder's variable cannot be used.
bool find_clap_file(int build, WCHAR *path);
