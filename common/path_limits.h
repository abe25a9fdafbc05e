// The longest path the installer builds, in UTF-16 units without the
// terminator: a known folder of 260 units with the standalone program's
// 45-unit suffix (the CLAP and FL Studio paths are shorter). Every buffer and
// limit for whole paths derives from it.
#pragma once

#include <windows.h>

const DWORD LONGEST_PATH = 305;
// With a side name's suffix (".new", ".old"): the names an update leaves
// beside a plug-in file, which an uninstall removes like the file itself.
const DWORD LONGEST_SIDE_PATH = LONGEST_PATH + 4;
