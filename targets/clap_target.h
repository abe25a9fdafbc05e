// The CLAP builds in the system-wide CLAP folders of both processor widths.
#pragma once

#include <windows.h>

// remove nonzero deletes both CLAP files; zero installs the 64-bit build when
// build is zero and the 32-bit build otherwise. Both directions need both
// common program files variables to be usable.
void clap_target(HWND owner, int remove, int build);
