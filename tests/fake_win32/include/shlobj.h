// Host stand-in for the shell header (see windows.h beside it).
#pragma once

#include <windows.h>

typedef struct _GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
} GUID;
typedef GUID KNOWNFOLDERID;
#define REFKNOWNFOLDERID const KNOWNFOLDERID &

extern const KNOWNFOLDERID FOLDERID_RoamingAppData;
extern const KNOWNFOLDERID FOLDERID_StartMenu;
extern const KNOWNFOLDERID FOLDERID_ProgramFiles;
extern const KNOWNFOLDERID FOLDERID_ProgramFilesX86;

HRESULT WINAPI SHGetKnownFolderPath(REFKNOWNFOLDERID folder, DWORD flags, HANDLE token, PWSTR *path);
