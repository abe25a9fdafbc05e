// Removal of one file of the product by the uninstall run, kept in the run's
// account so that its report tells what could not go at once.
#pragma once

#include <windows.h>

// A missing file is passed over in silence; what an update left beside the
// file goes too.
void remove_product_file(WCHAR *path);

// Creates every missing folder on path's way, up to the folder of its last
// name; never through a link.
void create_product_folders(WCHAR *path);
