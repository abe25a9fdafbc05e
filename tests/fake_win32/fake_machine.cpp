#include "fake.h"

namespace fake {

void reset() {
    reset_kernel();
    reset_embedded();
    reset_user();
    reset_system();
}

}  // namespace fake
