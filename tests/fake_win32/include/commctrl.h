// Host stand-in for the common-controls header (see windows.h beside it).
#pragma once

#include <windows.h>

#define ICC_WIN95_CLASSES 0x000000FF
#define PBS_MARQUEE 0x08
#define PBM_SETMARQUEE 0x040A
#define PROGRESS_CLASSW L"msctls_progress32"

typedef struct tagINITCOMMONCONTROLSEX {
    DWORD dwSize;
    DWORD dwICC;
} INITCOMMONCONTROLSEX, *LPINITCOMMONCONTROLSEX;

BOOL WINAPI InitCommonControlsEx(const INITCOMMONCONTROLSEX *init);
