#include "fake_embedded.h"

#include <windows.h>

// The product reads these as constants; only this file, the stand-in for the
// executable's data, writes them.
struct embedded_bytes {
    const BYTE *start;
    const BYTE *end;
};
extern "C" {
embedded_bytes payload_pool;
embedded_bytes payload_directory;
embedded_bytes licence_text;
}

namespace fake {
namespace {

std::string pool_bytes, directory_bytes, licence_bytes;

void point_at(embedded_bytes &block, const std::string &bytes) {
    block.start = reinterpret_cast<const BYTE *>(bytes.data());
    block.end = block.start + bytes.size();
}

}  // namespace

void set_payload(std::string pool, std::string directory) {
    pool_bytes = std::move(pool);
    directory_bytes = std::move(directory);
    point_at(payload_pool, pool_bytes);
    point_at(payload_directory, directory_bytes);
}

void set_licence(std::string text) {
    licence_bytes = std::move(text);
    point_at(licence_text, licence_bytes);
}

void reset_embedded() {
    set_payload({}, {});
    set_licence({});
}

}  // namespace fake
