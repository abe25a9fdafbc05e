// The embedded data of the host build: tests choose the archive and the
// licence text the product sees.
#pragma once

#include <string>

namespace fake {

// The product sees copies of exactly these bytes: nothing readable lies past
// either block's end.
void set_payload(std::string pool, std::string directory);
void set_licence(std::string text);
void reset_embedded();

}  // namespace fake
