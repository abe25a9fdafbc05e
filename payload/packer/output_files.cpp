#include "payload/packer/output_files.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "payload/packer/input_files.h"

namespace packer {
namespace {

namespace fs = std::filesystem;

// Both the same file, by identity when they exist (links, other spellings),
// by resolved path when one is yet to be written.
bool same_file(const std::string &a, const std::string &b) {
    std::error_code a_code, b_code;
    if (fs::equivalent(a, b, a_code)) return true;
    fs::path a_path = fs::weakly_canonical(a, a_code), b_path = fs::weakly_canonical(b, b_code);
    return !a_code && !b_code && a_path == b_path;
}

// Empty when path may receive an output: the run replaces only a regular file,
// and never one it reads.
std::string check_output(const std::string &path, const std::vector<std::string> &inputs) {
    std::error_code code;
    fs::file_status status = fs::status(path, code);
    if (fs::is_directory(status)) return "output " + in_quotes(path) + " is a folder";
    if (fs::exists(status) && !fs::is_regular_file(status))
        return "output " + in_quotes(path) + " is not a regular file";
    for (const std::string &input : inputs)
        if (same_file(path, input)) return "output " + in_quotes(path) + " is also the input " + in_quotes(input);
    return "";
}

// An output is written to a new file beside its destination and renamed into
// place only once the whole archive has been checked, so that a failed run
// leaves whatever stood at the destination as it was.
struct staged_output {
    std::string path;
    std::string staged;   // the new file, once created
    bool placed = false;  // staged has been renamed to path
};

bool stage(staged_output &out, const std::vector<uint8_t> &bytes, std::string &error) {
    std::string staged = out.path + ".packing-" + std::to_string(::getpid());
    // "x": create it or fail, never take over a file this run did not create.
    FILE *file = std::fopen(staged.c_str(), "wbx");
    if (!file) {
        error = failure("create", staged, errno);
        return false;
    }
    out.staged = staged;
    bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    int write_error = errno;
    if (std::fclose(file) != 0 && written) {
        written = false;
        write_error = errno;
    }
    if (!written) error = failure("write", staged, write_error);
    return written;
}

bool place(staged_output &out, std::string &error) {
    if (std::rename(out.staged.c_str(), out.path.c_str()) != 0) {
        error = failure("rename " + in_quotes(out.staged) + " to", out.path, errno);
        return false;
    }
    out.placed = true;
    return true;
}

// Removes only what this run created: the staged file, or the output it became.
void discard(const staged_output &out) {
    if (out.placed) std::remove(out.path.c_str());
    else if (!out.staged.empty()) std::remove(out.staged.c_str());
}

// Reads the staged files back so that what is verified is what the build embeds.
bool verify_staged(const staged_output &pool_file, const staged_output &directory_file,
                   const std::vector<input_file> &inputs, std::string &error) {
    std::vector<uint8_t> pool, directory;
    if (!read_file(pool_file.staged, pool, error) || !read_file(directory_file.staged, directory, error)) return false;
    if (verify(pool, directory, inputs, error)) return true;
    error = "the written archive fails its check: " + error;
    return false;
}
}  // namespace

std::string check_outputs(const std::string &pool_path, const std::string &directory_path,
                          const std::vector<std::string> &inputs) {
    if (same_file(pool_path, directory_path)) return "--pool and --directory are the same file " + in_quotes(pool_path);
    std::string error = check_output(pool_path, inputs);
    return error.empty() ? check_output(directory_path, inputs) : error;
}

bool write_archive(const std::string &pool_path, const std::string &directory_path, const archive &archive,
                   const std::vector<input_file> &inputs, std::string &error) {
    staged_output pool{pool_path}, directory{directory_path};
    bool done = stage(pool, archive.pool, error) && stage(directory, archive.directory, error) &&
                verify_staged(pool, directory, inputs, error) && place(pool, error) && place(directory, error);
    if (!done) {
        discard(pool);
        discard(directory);
    }
    return done;
}

}  // namespace packer
