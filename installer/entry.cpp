#include <windows.h>
#include <commctrl.h>

#include "common/error_report.h"
#include "common/exit_codes.h"
#include "common/report_texts.h"
#include "common/run_time_calls.h"
#include "files/link_guard.h"
#include "installer/licence_page.h"
#include "installer/selection_page.h"

namespace {

typedef BOOL(WINAPI *set_default_dll_directories)(DWORD flags);
typedef BOOL(WINAPI *set_dpi_awareness_context)(DPI_AWARENESS_CONTEXT context);

// The installer runs elevated, often from a downloads folder: never load a DLL
// planted beside it. Looked up, not imported, so that a system without the
// call still starts the installer; kernel32 is always loaded, so the lookup
// itself loads nothing.
void restrict_dll_search(HMODULE kernel32) {
    FARPROC found = GetProcAddress(kernel32, "SetDefaultDllDirectories");
    if (found) as_call<set_default_dll_directories>(found)(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

// Neither call can change what the installer does next, so their results are
// not examined; systems older than the DPI call simply go without it.
void prepare_user_interface() {
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
    // user32 is imported, so it is loaded already.
    FARPROC found = GetProcAddress(GetModuleHandleW(L"user32.dll"), "SetProcessDpiAwarenessContext");
    if (found) as_call<set_dpi_awareness_context>(found)(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
}

}  // namespace

extern "C" void WINAPI installer_entry() {
    HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    restrict_dll_search(kernel32);
    guard_links(kernel32);
    prepare_user_interface();
    WCHAR *text = widen_licence_text();
    if (!text) {
        show_error(nullptr, TEXT_NO_MEMORY);
        ExitProcess(EXIT_LICENCE_TEXT_NO_MEMORY);
    }
    INT_PTR agreed = run_licence_page(text);
    if (agreed == 0) ExitProcess(EXIT_DONE);
    // Only Agree goes on; -1 means the page could not be created at all.
    if (agreed != 1) ExitProcess(EXIT_LICENCE_PAGE_FAILED);
    ExitProcess(run_selection_page());
}
