// The simulated machine behind the host build's platform headers. Tests arrange
// its state, run product code against it and read back what the product did.
// Every area keeps its state in one global record; fake::reset() makes a fresh
// machine and runs before every test (see tests/unit/test_main.cpp).
#pragma once

#include "fake_embedded.h"
#include "fake_kernel.h"
#include "fake_system.h"
#include "fake_user.h"

namespace fake {

void reset();

}  // namespace fake
