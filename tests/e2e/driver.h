// What every part of the end-to-end driver shares: its command line and the
// scenario it plays.
#pragma once

#include <string>

#include "scenarios.h"

struct options {
    std::wstring installer, scenario, licence_file, builds, pool, directory, shot;
};

extern options opts;
extern const scenario *row;
