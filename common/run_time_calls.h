// Calls the installer looks up at run time, so that a system without them
// still starts it.
#pragma once

#include <windows.h>

// Through a plain function type first: the found address has a different signature.
template <typename function> function as_call(FARPROC found) {
    return reinterpret_cast<function>(reinterpret_cast<void (*)()>(found));
}
