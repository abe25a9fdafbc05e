// The packer program's two outputs: which paths may receive them, and how the
// pair is replaced so that the two paths never hold files of different runs.
#pragma once

#include <string>
#include <vector>

#include "payload/packer/writer/packer.h"

namespace packer {

// Empty when the pool and the directory may be written to these paths: two
// different regular files, or none yet, and neither one of the inputs.
std::string check_outputs(const std::string &pool_path, const std::string &directory_path,
                          const std::vector<std::string> &inputs);

// Finishes what killed runs left beside these outputs: puts back the earlier
// pair that a run had set aside but not yet replaced, and removes its other
// files. Files of a packer still running are left alone.
void clear_interrupted_runs(const std::string &pool_path, const std::string &directory_path);

// Writes the archive beside its destinations and checks it as read back
// against the inputs. Only then does the earlier pair go aside (as
// <out>.previous-<pid>) and the new pair in, the earlier one being put back if
// either step fails. False with a message when any step fails; whatever it
// created is removed.
bool write_archive(const std::string &pool_path, const std::string &directory_path, const archive &archive,
                   const std::vector<input_file> &inputs, std::string &error);

}  // namespace packer
