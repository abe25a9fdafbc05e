// The table that binds control ids to click handlers while a page runs.
#pragma once

#include <windows.h>

typedef void (*command_handler)(HWND dialog);

struct command_entry {
    DWORD control_id;
    command_handler handler;
};

enum : unsigned { COMMAND_CAPACITY = 100 };

// Entries 0 to command_count - 1 belong to the page begun last; beginning a
// page sets command_count to 0.
extern command_entry command_table[COMMAND_CAPACITY];
extern unsigned long long command_count;

// Checks no bound: a page registers at most a handful of commands.
void register_command(DWORD control_id, command_handler handler);

// Calls the handler of the first entry for id with the dialog; false when no
// entry has that id.
bool run_command(HWND dialog, DWORD id);
