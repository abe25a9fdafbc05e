// The packer's check of its own output: the directory walked and each name
// looked up as the installer's reader does it, then every entry rebuilt.
#include <cstdlib>
#include <new>

#include "payload/archive_format.h"
#include "payload/pool_decoder.h"
#include "payload/packer/engine/second_thread.h"
#include "payload/packer/writer/packer.h"

namespace packer {
namespace {

using archive_format::walk;

struct walked_entry {
    std::string name;
    archive_format::entry fields;
};

// Why the walk could not read entry i, or empty. The name is known once the
// walk has passed its zero byte.
std::string walk_failure(walk step, const char *name, size_t i) {
    switch (step) {
    case walk::end: return "the directory ends before entry " + std::to_string(i + 1);
    case walk::cut_in_name: return "directory ends inside a name";
    case walk::cut_in_fields: return "directory ends before the checksum and size of \"" + std::string(name) + "\"";
    case walk::cut_in_list: return "directory ends inside the references of \"" + std::string(name) + "\"";
    case walk::entry: break;
    }
    return "";
}

// Reads entry i as the reader's walk does; its name must be the input's.
bool read_entry(const uint8_t *&at, const uint8_t *end, const input_file &input, size_t i, walked_entry &entry,
                std::string &error) {
    const char *name = reinterpret_cast<const char *>(at);
    walk step = archive_format::next_entry(at, end, &entry.fields);
    error = walk_failure(step, name, i);
    if (!error.empty()) return false;
    entry.name = name;
    if (entry.name != input.name) {
        error = "entry " + std::to_string(i + 1) + " is \"" + entry.name + "\", expected \"" + input.name + "\"";
        return false;
    }
    if (entry.fields.checksum == 0 && entry.fields.size == 0) {
        error = "entry \"" + entry.name + "\" has checksum and size both 0";
        return false;
    }
    return true;
}

// The entry's slices laid end to end, once they are found to fit the pool.
bool rebuild(const std::vector<uint8_t> &pool, const walked_entry &entry, std::vector<uint8_t> &bytes,
             std::string &error) {
    const archive_format::entry &fields = entry.fields;
    if (!archive_format::slices_fit(fields.references, fields.size, pool.size())) {
        error = "the references of \"" + entry.name + "\" leave the pool or do not add up to its size";
        return false;
    }
    bytes.clear();
    bytes.reserve(fields.size);
    for (const uint8_t *slice = fields.references; !archive_format::is_end_of_list(slice);
         slice += archive_format::GROUP_BYTES) {
        const uint8_t *start = pool.data() + archive_format::read_u32(slice);
        bytes.insert(bytes.end(), start, start + archive_format::read_u32(slice + 4));
    }
    if (archive_format::checksum(bytes.data(), bytes.size()) != fields.checksum) {
        error = "the checksum of \"" + entry.name + "\" does not match its bytes";
        return false;
    }
    return true;
}

void *allocate(void *, size_t size) { return std::malloc(size); }
void release(void *, void *block) { std::free(block); }

// The pool the slices count in: the block itself, or the pool a compressed
// block decodes to, as the installer's reader decodes it.
bool read_pool(const std::vector<uint8_t> &block, std::vector<uint8_t> &decoded, const std::vector<uint8_t> *&pool,
               std::string &error) {
    using archive_format::decoding;
    archive_format::pool_block found;
    pool = &block;
    if (!archive_format::read_pool_block(block.data(), block.data() + block.size(), &found)) {
        error = "the compressed pool's header does not match its stream";
        return false;
    }
    if (!found.compressed) return true;
    if (!archive_format::stream_intact(found)) {
        error = "the compressed pool's checksum does not match its stream";
        return false;
    }
    decoded.resize(found.size);
    ISzAlloc heap = {allocate, release};
    decoding result = archive_format::decode_pool(found, decoded.data(), &heap);
    if (result == decoding::no_memory) throw std::bad_alloc();
    if (result == decoding::damaged) {
        error = "the compressed pool does not decode to its " + std::to_string(found.size) + " bytes";
        return false;
    }
    pool = &decoded;
    return true;
}

bool verify_pool(const std::vector<uint8_t> &pool, const std::vector<uint8_t> &directory,
                 const std::vector<input_file> &inputs, std::string &error) {
    std::vector<walked_entry> entries(inputs.size());
    const uint8_t *at = directory.data(), *end = at + directory.size();
    for (size_t i = 0; i < inputs.size(); ++i)
        if (!read_entry(at, end, inputs[i], i, entries[i], error)) return false;
    if (end - at != 1 || *at != 0) {
        error = "the directory does not end with exactly one zero byte after its last entry";
        return false;
    }
    // The entries are rebuilt in two halves at once.
    error = each_in_halves(inputs.size(), [&](size_t i, std::string &failure) {
        archive_format::entry selected;
        if (!archive_format::find(directory.data(), end, inputs[i].name.c_str(), &selected) ||
            selected.references != entries[i].fields.references) {
            failure = "a request for \"" + inputs[i].name + "\" selects more than one entry";
            return false;
        }
        std::vector<uint8_t> bytes;
        if (!rebuild(pool, entries[i], bytes, failure)) return false;
        if (bytes == inputs[i].bytes) return true;
        failure = "entry \"" + inputs[i].name + "\" does not rebuild its input";
        return false;
    });
    return error.empty();
}

}  // namespace

bool verify(const std::vector<uint8_t> &pool, const std::vector<uint8_t> &directory,
            const std::vector<input_file> &inputs, std::string &error) {
    std::vector<uint8_t> decoded;
    const std::vector<uint8_t> *bytes;
    return read_pool(pool, decoded, bytes, error) && verify_pool(*bytes, directory, inputs, error);
}

}  // namespace packer
