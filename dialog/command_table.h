// The table that binds control ids to click handlers, the dialog procedure
// that dispatches through it, and the two handlers that only end a dialog.
#pragma once

#include <windows.h>

typedef void (*command_handler)(HWND dialog);

struct command_entry {
    DWORD control_id;
    command_handler handler;
};

enum : unsigned { COMMAND_CAPACITY = 100 };

// Entries 0 to command_count - 1 belong to the page whose template was begun last.
extern command_entry command_table[COMMAND_CAPACITY];
extern unsigned long long command_count;

// Checks no bound: a page registers at most a handful of commands.
void register_command(DWORD control_id, command_handler handler);
INT_PTR CALLBACK shared_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
// Centres the dialog on the primary monitor's work area.
void centre_dialog(HWND dialog);
void on_agree(HWND dialog);
void on_cancel(HWND dialog);
