// packer [--baseline] --pool <out> --directory <out> name=path ...
// Packs the files into the installer's archive, in the order given, then
// reads its own output back and rebuilds every entry before it succeeds, so a
// broken archive never reaches a build.
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "payload/packer/packer.h"

namespace {

struct options {
    bool baseline = false;
    std::string pool_path;
    std::string directory_path;
    std::vector<std::string> arguments;  // name=path
};

const char USAGE[] = "usage: packer [--baseline] --pool <out> --directory <out> name=path ...\n";

bool parse_options(int argc, char **argv, options &o) {
    for (int i = 1; i < argc; ++i) {
        std::string argument = argv[i];
        if (argument == "--baseline") {
            o.baseline = true;
        } else if ((argument == "--pool" || argument == "--directory") && i + 1 < argc) {
            (argument == "--pool" ? o.pool_path : o.directory_path) = argv[++i];
        } else if (argument.compare(0, 2, "--") == 0) {
            return false;
        } else {
            o.arguments.push_back(argument);
        }
    }
    return !o.pool_path.empty() && !o.directory_path.empty() && !o.arguments.empty();
}

bool read_file(const std::string &path, std::vector<uint8_t> &bytes, std::string &error) {
    std::error_code code;
    uintmax_t size = std::filesystem::file_size(path, code);
    if (code) {
        error = "cannot read \"" + path + "\": " + code.message();
        return false;
    }
    if (size > packer::MAX_FILE_BYTES) {
        error = "\"" + path + "\" is 4 GiB or larger, too large for an entry";
        return false;
    }
    FILE *in = std::fopen(path.c_str(), "rb");
    if (!in) {
        error = "cannot open \"" + path + "\"";
        return false;
    }
    bytes.resize(size);
    bool complete = std::fread(bytes.data(), 1, bytes.size(), in) == bytes.size() && std::fgetc(in) == EOF;
    std::fclose(in);  // read-only: closing cannot lose anything
    if (!complete) error = "cannot read \"" + path + "\" completely";
    return complete;
}

bool write_file(const std::string &path, const std::vector<uint8_t> &bytes, std::string &error) {
    FILE *out = std::fopen(path.c_str(), "wb");
    bool written = out && std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    if (out && std::fclose(out) != 0) written = false;
    if (!written) error = "cannot write \"" + path + "\"";
    return written;
}

// Names are checked before any file is read, so a bad name fails at once.
bool read_inputs(const std::vector<std::string> &arguments, std::vector<packer::input_file> &inputs,
                 std::string &error) {
    std::vector<std::string> paths;
    for (const std::string &argument : arguments) {
        size_t equals = argument.find('=');
        if (equals == std::string::npos) {
            error = "\"" + argument + "\" is not name=path";
            return false;
        }
        inputs.push_back({argument.substr(0, equals), {}});
        paths.push_back(argument.substr(equals + 1));
    }
    error = packer::check_names(inputs);
    if (!error.empty()) return false;
    for (size_t i = 0; i < inputs.size(); ++i)
        if (!read_file(paths[i], inputs[i].bytes, error)) return false;
    return true;
}

// Reads the written files back so that what is verified is what the build embeds.
bool verify_written(const options &o, const std::vector<packer::input_file> &inputs, std::string &error) {
    std::vector<uint8_t> pool, directory;
    if (!read_file(o.pool_path, pool, error) || !read_file(o.directory_path, directory, error)) return false;
    if (packer::verify(pool, directory, inputs, error)) return true;
    error = "the written archive fails its check: " + error;
    return false;
}

bool run(const options &o, std::string &error) {
    std::vector<packer::input_file> inputs;
    if (!read_inputs(o.arguments, inputs, error)) return false;
    packer::archive archive;
    packer::layout mode = o.baseline ? packer::layout::baseline : packer::layout::deduplicated;
    if (!packer::pack(inputs, mode, archive, error)) return false;
    if (!write_file(o.pool_path, archive.pool, error) || !write_file(o.directory_path, archive.directory, error))
        return false;
    if (!verify_written(o, inputs, error)) return false;
    std::printf("%s\n", packer::summary(archive.stats).c_str());
    return true;
}

}  // namespace

int main(int argc, char **argv) {
    options o;
    if (!parse_options(argc, argv, o)) {
        std::fputs(USAGE, stderr);
        return 2;
    }
    std::string error;
    if (run(o, error)) return 0;
    std::fprintf(stderr, "packer: %s\n", error.c_str());
    // A build must not pick up a half-written or unchecked archive.
    std::error_code ignored;
    std::filesystem::remove(o.pool_path, ignored);
    std::filesystem::remove(o.directory_path, ignored);
    return 1;
}
