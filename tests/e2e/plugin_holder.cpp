// Holds a plug-in file as a running host would, until it is ended or the
// driver that started it ends:
//   plugin_holder load <file> <event> <driver pid>   loads it as a host loads a
//                                                    plug-in (a PE image)
//   plugin_holder lock <file> <event> <driver pid>   keeps it open without sharing
// Signals the named event once the file is held.
#include <windows.h>

#include <cwchar>

int wmain(int argc, wchar_t **argv) {
    if (argc != 5) return 2;
    bool load = wcscmp(argv[1], L"load") == 0;
    // Mapped, not run: the image need not be a real plug-in, only a PE file.
    bool held = load ? LoadLibraryExW(argv[2], nullptr, DONT_RESOLVE_DLL_REFERENCES) != nullptr
                     : CreateFileW(argv[2], GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr) != INVALID_HANDLE_VALUE;
    HANDLE driver = OpenProcess(SYNCHRONIZE, FALSE, wcstoul(argv[4], nullptr, 10));
    HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[3]);
    if (!held || !driver || !ready || !SetEvent(ready)) return 1;
    WaitForSingleObject(driver, INFINITE);
    return 0;
}
