// The second page: the three plug-in formats with the folder each would go
// to, offered only where this machine has their host, and the buttons that
// start the install and uninstall runs.
#pragma once

#include <windows.h>

#include "installer/choices.h"

// Detects the hosts, builds the page and runs it until it ends; gives the
// exit code of the run it ended in.
UINT run_selection_page();

INT_PTR CALLBACK selection_page_proc(HWND page, UINT message, WPARAM wparam, LPARAM lparam);
