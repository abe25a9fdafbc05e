#include "fake_embedded.h"

#include <windows.h>

#include "payload/archive.h"

#include <cstring>
#include <memory>

// The product reads these as constants; only this file, the stand-in for the
// executable's data, writes them: each mark as its distance from its record.
struct embedded_bytes {
    INT_PTR start_offset;
    INT_PTR end_offset;
};
extern "C" {
embedded_bytes payload_pool;
embedded_bytes payload_directory;
embedded_bytes licence_text;
}

namespace fake {
namespace {

// Each block is a heap copy of exactly its length, with nothing after it, so
// AddressSanitizer reports a read one byte past the end as it happens.
std::unique_ptr<BYTE[]> pool_bytes, directory_bytes, licence_bytes;

void point_at(embedded_bytes &block, std::unique_ptr<BYTE[]> &storage, const std::string &bytes) {
    storage.reset(new BYTE[bytes.size()]);
    std::memcpy(storage.get(), bytes.data(), bytes.size());
    block.start_offset = reinterpret_cast<INT_PTR>(storage.get()) - reinterpret_cast<INT_PTR>(&block);
    block.end_offset = block.start_offset + INT_PTR(bytes.size());
}

}  // namespace

void set_payload(std::string pool, std::string directory) {
    decoded_pool = nullptr;  // another executable: nothing of it decoded yet
    point_at(payload_pool, pool_bytes, pool);
    point_at(payload_directory, directory_bytes, directory);
}

void set_licence(std::string text) {
    point_at(licence_text, licence_bytes, text);
}

void reset_embedded() {
    set_payload({}, {});
    set_licence({});
}

}  // namespace fake
