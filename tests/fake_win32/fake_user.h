// Simulated user interface: the dialog manager, controls, window placement,
// common controls and the start-up calls (modules, DPI, threads).
#pragma once

#include <windows.h>

namespace fake {

void reset_user();

}  // namespace fake
