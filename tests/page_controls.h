// The controls the installer's two pages must have, written down once for the
// tests, independently of the product's own tables: the host tests build the
// template bytes they expect from it, and the end-to-end driver compares the
// windows Wine creates with it. Plain data, for both the native and the
// Windows builds of the tests (wchar_t is 16 bits in both).
#pragma once

#include <windows.h>

namespace page_controls {

const wchar_t TITLE[] = L"Quenthalvox Plugin Installer";
const int WIDTH = 309, HEIGHT = 192;  // dialog units

const int ID_OPTION_CLAP64 = 1000, ID_OPTION_CLAP32 = 1001, ID_OPTION_FL = 1002, ID_UNINSTALL = 2000,
          ID_TITLE = 3000, ID_PROGRESS = 3001, ID_HEADING = 0xFFFF;
const int OPTION_IDS[3] = {ID_OPTION_CLAP64, ID_OPTION_CLAP32, ID_OPTION_FL};

struct control {
    const wchar_t *class_name;  // "Button", "Edit" and "Static" stand in the template as ordinals
    int id;
    const wchar_t *text;  // nullptr: the machine's, filled in by the test (the licence, a target folder)
    DWORD ex_style, style;
    short x, y, cx, cy;  // dialog units
};

// The white banner, the title on it and the etched line that begin every page.
#define PAGE_CONTROLS_HEADER                                           \
    {L"Static", 0, L"", 0, 0x50000006, 0, 0, 309, 19},                 \
        {L"Static", ID_TITLE, TITLE, 0, 0x50020001, 0, 6, 309, 9},     \
        {L"Static", 0, L"", 0, 0x50000010, -5, 19, 319, 1}

inline constexpr control LICENCE_PAGE[] = {
    PAGE_CONTROLS_HEADER,
    {L"Static", 0, L"To install Quenthalvox, you need to agree to the end-user license agreement.", 0, 0x50020000, 13,
     28, 283, 13},
    {L"Edit", 0, nullptr, WS_EX_STATICEDGE, 0x50210844, 19, 46, 271, 115},
    {L"Button", IDCANCEL, L"&Cancel", 0, 0x50010000, 252, 172, 50, 14},
    {L"Button", IDOK, L"&Agree", 0, 0x50010001, 198, 172, 50, 14},
};
constexpr int LICENCE_BOX = 4;

inline constexpr control SELECTION_PAGE[] = {
    PAGE_CONTROLS_HEADER,
    {L"Static", ID_HEADING, L"Select the versions you want to install:", 0, 0x50000000, 13, 28, 283, 13},
    {L"Button", ID_OPTION_CLAP64, L"CLAP (64-bit)", 0, 0x50010003, 27, 41, 255, 14},
    {L"Static", 0, nullptr, 0, 0x50000000, 37, 55, 235, 20},
    {L"Button", ID_OPTION_CLAP32, L"CLAP (32-bit)", 0, 0x50010003, 27, 75, 255, 14},
    {L"Static", 0, nullptr, 0, 0x50000000, 37, 89, 235, 20},
    {L"Button", ID_OPTION_FL, L"FL Studio native", 0, 0x50010003, 27, 109, 255, 14},
    {L"Static", 0, nullptr, 0, 0x50000000, 37, 123, 235, 20},
    {L"Button", ID_UNINSTALL, L"&Uninstall", 0, 0x50030000, 7, 172, 50, 14},
    {L"Button", IDCANCEL, L"&Cancel", 0, 0x50010000, 252, 172, 50, 14},
    {L"Button", IDOK, L"&Install", 0, 0x50010001, 198, 172, 50, 14},
    {L"msctls_progress32", ID_PROGRESS, L"Installation progress", 0, 0x50000008, 67, 173, 121, 12},
};
// Each option's label: "Target: <folder>", or NOT_AVAILABLE.
constexpr int LABEL_ROWS[3] = {5, 7, 9};
const wchar_t NOT_AVAILABLE[] = L"(not available)";

#undef PAGE_CONTROLS_HEADER

static_assert(LICENCE_PAGE[LICENCE_BOX].text == nullptr);
static_assert(SELECTION_PAGE[LABEL_ROWS[0]].text == nullptr && SELECTION_PAGE[LABEL_ROWS[1]].text == nullptr &&
              SELECTION_PAGE[LABEL_ROWS[2]].text == nullptr);

}  // namespace page_controls
