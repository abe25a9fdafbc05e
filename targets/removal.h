// Removal of one file of the product by the uninstall run, kept in the run's
// account so that its report tells what could not go at once.
#pragma once

#include <windows.h>

// A missing file is passed over in silence.
void remove_product_file(const WCHAR *path);
