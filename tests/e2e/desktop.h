// The installer as a person at the screen meets it: its process, its windows
// (pages and message boxes), the texts and states of their controls, clicks,
// key presses and screenshots.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

extern PROCESS_INFORMATION child;
void start_installer(const std::wstring &installer, std::vector<wchar_t> environment);
bool child_exited();
// Ends a run that cannot go on.
void end_installer();

// The pages met so far, and the one the steps act on.
extern HWND licence_page, selection_page, page;

// A visible page of the installer other than those already met, or nullptr.
HWND find_new_page();
HWND wait_for_new_page();
// A visible message box of the installer, or nullptr.
HWND find_message_box();

std::wstring text_of(HWND window);
std::wstring class_of(HWND window);
std::vector<HWND> children_in_order(HWND window);
HWND focus_of(HWND window);
// The pixels of a window as the screen shows them.
std::vector<DWORD> screen_pixels(HWND window);

void click_button(HWND window, int id);
void press_key(HWND window, WORD key_code);
// A real mouse click on the caption's close box.
void click_close_box(HWND window);

// A screenshot named <scenario><suffix> of the current page and any message
// box in front of it; returns once the runner has taken it.
void take_screenshot(const wchar_t *suffix);
