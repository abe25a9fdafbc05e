// Calls the installer looks up at run time, so that a system without them
// still starts it.
#pragma once

#include <windows.h>

// Through a plain function type first: the found address has a different signature.
template <typename function> function as_call(FARPROC found) {
    return reinterpret_cast<function>(reinterpret_cast<void (*)()>(found));
}

// Looks up count calls of module, named one after the other in names, each
// name ended by a NUL; one the system lacks is null. Gives whether all were found.
bool find_calls(HMODULE module, const char *names, FARPROC *calls, DWORD count);
