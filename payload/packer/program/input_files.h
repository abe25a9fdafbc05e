// Reading the files to pack, and the one-line messages of a failed file
// operation that the packer program gives.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace packer {

std::string in_quotes(const std::string &path);

// One line with what failed, on which file, and the system's reason.
std::string failure(const std::string &action, const std::string &path, const std::string &reason);
std::string failure(const std::string &action, const std::string &path, int error_number);

// The whole file; false with a message when it cannot be read, is too large
// for an entry or changes while it is read.
bool read_file(const std::string &path, std::vector<uint8_t> &bytes, std::string &error);

}  // namespace packer
