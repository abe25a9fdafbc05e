// What the selection page offers and what the user has ticked: the page's
// whole state, shown on the page in one place whenever it is choosing.
#pragma once

#include <windows.h>

// The plug-in formats, as bits of available_targets and selected_targets.
enum : DWORD {
    TARGET_CLAP64 = 1,
    TARGET_CLAP32 = 2,
    TARGET_FL = 4,
};

// Targets found on this machine, and those ticked (read by the install
// worker). Bits are the TARGET_ values.
extern DWORD available_targets;
extern DWORD selected_targets;

// The page opens with every available target ticked.
void offer_targets(DWORD available);

// Puts the page in the choosing state: each option enabled when available and
// ticked when selected, Install enabled while anything is ticked, Uninstall
// and Cancel enabled.
void show_choices(HWND page);

// An automatic check box flips its own mark on every click it announces, so
// flipping the bit keeps mark and selection together.
void toggle_target(HWND page, DWORD target);
