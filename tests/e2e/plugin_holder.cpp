// Holds a plug-in file as a running host would, until it is ended:
//   plugin_holder load <file> <event>   loads it as a host loads a plug-in
//                                       (the file must be a PE image)
//   plugin_holder lock <file> <event>   keeps it open without sharing
// Signals the named event once the file is held.
#include <windows.h>

int wmain(int argc, wchar_t **argv) {
    if (argc != 4) return 2;
    bool load = lstrcmpW(argv[1], L"load") == 0;
    // Mapped, not run: the image need not be a real plug-in, only a PE file.
    bool held = load ? LoadLibraryExW(argv[2], nullptr, DONT_RESOLVE_DLL_REFERENCES) != nullptr
                     : CreateFileW(argv[2], GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr) != INVALID_HANDLE_VALUE;
    if (!held) return 1;
    HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[3]);
    if (!ready || !SetEvent(ready)) return 1;
    Sleep(INFINITE);
}
