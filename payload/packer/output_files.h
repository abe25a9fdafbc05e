// The packer program's two outputs: which paths may receive them, and how
// they are written so that a failed run leaves whatever stood there as it was.
#pragma once

#include <string>
#include <vector>

#include "payload/packer/packer.h"

namespace packer {

// Empty when the pool and the directory may be written to these paths: two
// different regular files, or none yet, and neither one of the inputs.
std::string check_outputs(const std::string &pool_path, const std::string &directory_path,
                          const std::vector<std::string> &inputs);

// Writes the archive beside its destinations, checks it as read back against
// the inputs, and only then renames it into place. False with a message when
// any step fails; whatever it created is removed.
bool write_archive(const std::string &pool_path, const std::string &directory_path, const archive &archive,
                   const std::vector<input_file> &inputs, std::string &error);

}  // namespace packer
