// Simulated system settings: environment variables, the current user's
// registry and the known folders.
#pragma once

#include <windows.h>

namespace fake {

void reset_system();

}  // namespace fake
