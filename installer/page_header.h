// What every page of the installer begins with: the template with the common
// title and size, then the white banner, the title on it and an etched line;
// and the title's colour while the page runs.
#pragma once

#include <windows.h>

#define PAGE_TITLE "Quenthalvox Plugin Installer"
enum : int {
    PAGE_WIDTH = 309,
    PAGE_HEIGHT = 192,
};

// Empties the command table of the previous page, begins the template with
// the page title and size, then adds the three header controls.
void begin_page();

// Every page's procedure hands its messages on to this one: it paints the
// title on the banner's colour and passes every other message to
// shared_dialog_proc.
INT_PTR page_header_proc(HWND page, UINT message, WPARAM wparam, LPARAM lparam);
