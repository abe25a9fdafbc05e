#include "dialog/command_table.h"

command_entry command_table[COMMAND_CAPACITY];
unsigned long long command_count;

void register_command(DWORD control_id, command_handler handler) {
    command_table[command_count].control_id = control_id;
    command_table[command_count].handler = handler;
    ++command_count;
}

bool run_command(HWND dialog, DWORD id) {
    for (unsigned long long i = 0; i < command_count; ++i) {
        if (command_table[i].control_id != id) continue;
        command_table[i].handler(dialog);
        return true;
    }
    return false;
}
