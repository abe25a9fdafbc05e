// The dialog procedure that every page hands its messages to, and the two
// handlers that only end a dialog.
#pragma once

#include <windows.h>

// Centres the dialog when it opens and dispatches clicks through the command table.
INT_PTR CALLBACK shared_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
void on_agree(HWND dialog);
void on_cancel(HWND dialog);
