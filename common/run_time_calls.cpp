#include "common/run_time_calls.h"

bool find_calls(HMODULE module, const char *names, FARPROC *calls, DWORD count) {
    bool found = true;
    for (DWORD i = 0; i < count; ++i) {
        found = (calls[i] = GetProcAddress(module, names)) && found;
        while (*names++) {
        }
    }
    return found;
}
