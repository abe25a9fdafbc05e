#include "fake.h"

namespace fake {

void reset_user() {}

}  // namespace fake
