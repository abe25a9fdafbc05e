// The first page: the licence agreement with Agree and Cancel.
#pragma once

#include <windows.h>

// The embedded licence text widened to UTF-16 in a block from the process heap
// that lives until the process ends; null when the heap has no room for it.
WCHAR *widen_licence_text();

// Builds and runs the licence page showing text: 1 when the user agreed, 0 on
// Cancel, Escape or the close box, -1 when the page could not be created.
INT_PTR run_licence_page(const WCHAR *text);
