// The executable stays within 20 KB beyond its data. A function that the
// compiler would inline where its exits, or the arguments of the calls it
// makes, are then spelt out again is kept out of line.
#pragma once

#define OUT_OF_LINE __attribute__((noinline))
