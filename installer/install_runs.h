// The two runs the selection page ends in: Install, on a worker thread behind a
// running marquee, and Uninstall, on the page's own thread.
#pragma once

#include <windows.h>

// Starts the worker and returns; the worker ends the process.
void on_install(HWND page);
// Removes every target whatever is ticked, reports and ends the page.
void on_uninstall(HWND page);
