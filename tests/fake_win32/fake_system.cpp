#include "fake.h"

namespace fake {

void reset_system() {}

}  // namespace fake
