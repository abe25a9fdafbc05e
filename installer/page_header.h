// What every page of the installer begins with: the template with the common
// title and size, then the white banner, the title on it and an etched line.
#pragma once

#include <windows.h>

#define PAGE_TITLE L"Quenthalvox Plugin Installer"
enum : int {
    PAGE_WIDTH = 309,
    PAGE_HEIGHT = 192,
};

// begin_template with the page title and size (which empties the command
// table), then the three header controls.
void begin_page();
