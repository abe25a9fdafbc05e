#include "payload/packer/input_files.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "payload/packer/packer.h"

namespace packer {

namespace fs = std::filesystem;

std::string in_quotes(const std::string &path) { return "\"" + path + "\""; }

std::string failure(const std::string &action, const std::string &path, const std::string &reason) {
    return "cannot " + action + " " + in_quotes(path) + ": " + reason;
}
std::string failure(const std::string &action, const std::string &path, int error_number) {
    return failure(action, path, std::strerror(error_number));
}

namespace {

bool read_open_file(FILE *in, const std::string &path, std::vector<uint8_t> &bytes, std::string &error) {
    std::error_code code;
    uintmax_t size = fs::file_size(path, code);
    if (code) {
        error = failure("read", path, code.message());
        return false;
    }
    if (size > MAX_FILE_BYTES) {
        error = in_quotes(path) + " is 4 GiB or larger, too large for an entry";
        return false;
    }
    bytes.resize(size);
    bool whole = std::fread(bytes.data(), 1, bytes.size(), in) == bytes.size();
    if (whole && std::fgetc(in) == EOF) return true;
    bool failed = !whole && std::ferror(in);
    error = failed ? failure("read", path, errno) : failure("read", path, "it changed while it was read");
    return false;
}

}  // namespace

bool read_file(const std::string &path, std::vector<uint8_t> &bytes, std::string &error) {
    FILE *in = std::fopen(path.c_str(), "rb");
    if (!in) {
        error = failure("open", path, errno);
        return false;
    }
    bool read = read_open_file(in, path, bytes, error);
    std::fclose(in);  // read-only: closing cannot lose anything
    return read;
}

}  // namespace packer
