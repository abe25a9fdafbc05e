// packer [--baseline] --pool <out> --directory <out> name=path ...
// Packs the files into the installer's archive, in the order given, then
// reads its own output back and rebuilds every entry before it succeeds, so a
// broken archive never reaches a build. Prints each entry with its size,
// checksum and source, then a one-line summary.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "payload/packer/packer.h"

namespace {

namespace fs = std::filesystem;

struct options {
    bool baseline = false;
    std::string pool_path;
    std::string directory_path;
    std::vector<std::string> arguments;  // name=path
};

enum class request { pack, help, bad_usage };

const char USAGE[] = "usage: packer [--baseline] --pool <out> --directory <out> name=path ...\n";

request parse_options(int argc, char **argv, options &o) {
    for (int i = 1; i < argc; ++i) {
        std::string argument = argv[i];
        if (argument == "--help") return request::help;
        if (argument == "--baseline") {
            o.baseline = true;
        } else if ((argument == "--pool" || argument == "--directory") && i + 1 < argc) {
            (argument == "--pool" ? o.pool_path : o.directory_path) = argv[++i];
        } else if (argument.compare(0, 2, "--") == 0) {
            return request::bad_usage;
        } else {
            o.arguments.push_back(argument);
        }
    }
    bool complete = !o.pool_path.empty() && !o.directory_path.empty() && !o.arguments.empty();
    return complete ? request::pack : request::bad_usage;
}

std::string in_quotes(const std::string &path) { return "\"" + path + "\""; }

// One line with what failed, on which file, and the system's reason.
std::string failure(const std::string &action, const std::string &path, const std::string &reason) {
    return "cannot " + action + " " + in_quotes(path) + ": " + reason;
}
std::string failure(const std::string &action, const std::string &path, int error_number) {
    return failure(action, path, std::strerror(error_number));
}

bool read_open_file(FILE *in, const std::string &path, std::vector<uint8_t> &bytes, std::string &error) {
    std::error_code code;
    uintmax_t size = fs::file_size(path, code);
    if (code) {
        error = failure("read", path, code.message());
        return false;
    }
    if (size > packer::MAX_FILE_BYTES) {
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

std::string check_outputs(const options &o, const std::vector<std::string> &inputs) {
    if (same_file(o.pool_path, o.directory_path))
        return "--pool and --directory are the same file " + in_quotes(o.pool_path);
    std::string error = check_output(o.pool_path, inputs);
    return error.empty() ? check_output(o.directory_path, inputs) : error;
}

// Splits name=path; the names are checked before any file is read, so a bad
// name fails at once.
bool split_arguments(const std::vector<std::string> &arguments, std::vector<packer::input_file> &inputs,
                     std::vector<std::string> &paths, std::string &error) {
    for (const std::string &argument : arguments) {
        size_t equals = argument.find('=');
        if (equals == std::string::npos) {
            error = in_quotes(argument) + " is not name=path";
            return false;
        }
        inputs.push_back({argument.substr(0, equals), {}});
        paths.push_back(argument.substr(equals + 1));
    }
    error = packer::check_names(inputs);
    return error.empty();
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
                   const std::vector<packer::input_file> &inputs, std::string &error) {
    std::vector<uint8_t> pool, directory;
    if (!read_file(pool_file.staged, pool, error) || !read_file(directory_file.staged, directory, error)) return false;
    if (packer::verify(pool, directory, inputs, error)) return true;
    error = "the written archive fails its check: " + error;
    return false;
}

bool write_archive(const options &o, const packer::archive &archive, const std::vector<packer::input_file> &inputs,
                   std::string &error) {
    staged_output pool{o.pool_path}, directory{o.directory_path};
    bool done = stage(pool, archive.pool, error) && stage(directory, archive.directory, error) &&
                verify_staged(pool, directory, inputs, error) && place(pool, error) && place(directory, error);
    if (!done) {
        discard(pool);
        discard(directory);
    }
    return done;
}

// What the written archive holds, entry by entry: the check has rebuilt each
// entry as its input, so the input's size and checksum are the entry's.
void print_entries(const std::vector<packer::input_file> &inputs, const std::vector<std::string> &paths) {
    std::printf("  %-16s %10s  %-8s  %s\n", "entry", "bytes", "checksum", "source file");
    for (size_t i = 0; i < inputs.size(); ++i) {
        const std::vector<uint8_t> &bytes = inputs[i].bytes;
        std::printf("  %-16s %10zu  %08x  %s\n", inputs[i].name.c_str(), bytes.size(),
                    unsigned(packer::checksum(bytes.data(), bytes.size())), fs::absolute(paths[i]).c_str());
    }
}

bool run(const options &o, std::string &error) {
    std::vector<packer::input_file> inputs;
    std::vector<std::string> paths;
    if (!split_arguments(o.arguments, inputs, paths, error)) return false;
    error = check_outputs(o, paths);
    if (!error.empty()) return false;
    for (size_t i = 0; i < inputs.size(); ++i)
        if (!read_file(paths[i], inputs[i].bytes, error)) return false;
    packer::archive archive;
    packer::layout mode = o.baseline ? packer::layout::baseline : packer::layout::deduplicated;
    if (!packer::pack(inputs, mode, archive, error) || !write_archive(o, archive, inputs, error)) return false;
    print_entries(inputs, paths);
    std::printf("%s\n", packer::summary(archive.stats).c_str());
    return true;
}

}  // namespace

int main(int argc, char **argv) {
    options o;
    switch (parse_options(argc, argv, o)) {
    case request::help: std::fputs(USAGE, stdout); return 0;
    case request::bad_usage: std::fputs(USAGE, stderr); return 2;
    case request::pack: break;
    }
    std::string error;
    if (run(o, error)) return 0;
    std::fprintf(stderr, "packer: %s\n", error.c_str());
    return 1;
}
