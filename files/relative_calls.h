// Calls on one name inside a folder the run holds open: the name is resolved
// relative to the folder's handle, never by its full path again, and a link
// at the name is acted on itself, never followed. They are the system's own
// (ntdll), looked up at run time like the other calls the installer may lack.
// Each gives 0 or the Win32 error; ERROR_FILE_NOT_FOUND means nothing is there.
#pragma once

#include <windows.h>
#include <winternl.h>

// Opens or creates name in folder, as itself. options are the system's:
// FILE_DIRECTORY_FILE or FILE_NON_DIRECTORY_FILE, or 0 for either.
DWORD open_in(HANDLE folder, const WCHAR *name, ACCESS_MASK access, ULONG share, ULONG disposition, ULONG options,
              HANDLE *object);

// Opens what stands at name to look at it, rename it, delete it or change
// its attributes.
DWORD open_to_change(HANDLE folder, const WCHAR *name, ULONG options, HANDLE *object);

// Opens the folder that a junction at name leads to; the system's own guard
// refuses one that no administrator made.
DWORD open_through_in(HANDLE folder, const WCHAR *name, ACCESS_MASK access, ULONG share, HANDLE *object);

// The attributes of an open object, with its reparse tag.
DWORD tag_of(HANDLE object, FILE_ATTRIBUTE_TAG_INFO *found);

// How many names the open file has; a change to the file shows under each.
DWORD links_of(HANDLE object, DWORD *links);

// The attributes of what stands at name, read from the object itself, with
// its reparse tag.
DWORD look_in(HANDLE folder, const WCHAR *name, FILE_ATTRIBUTE_TAG_INFO *found);

// Renames an open file within folder; with replace, over a file at the new name.
DWORD rename_object(HANDLE object, HANDLE folder, const WCHAR *to, bool replace);
DWORD rename_in(HANDLE folder, const WCHAR *from, const WCHAR *to, bool replace);

// Deletes an open file, or one at name; with FILE_DIRECTORY_FILE, an empty folder.
DWORD delete_object(HANDLE object);
DWORD delete_in(HANDLE folder, const WCHAR *name, ULONG options);

DWORD set_attributes_of(HANDLE object, DWORD attributes);
