// packer [--simple | --compress] --pool <out> --directory <out> name=path ...
// Packs the files into the installer's archive, in the order given (with
// --compress, the compressed archive: its pool coded with LZMA), then
// reads its own output back and rebuilds every entry before it succeeds, so a
// broken archive never reaches a build. Prints each entry with its size,
// checksum and source, then a one-line summary.
#include <cstdio>
#include <filesystem>
#include <new>
#include <string>
#include <vector>

#include "payload/archive_format.h"
#include "payload/packer/engine/second_thread.h"
#include "payload/packer/program/input_files.h"
#include "payload/packer/program/output_files.h"
#include "payload/packer/writer/packer.h"

namespace {

namespace fs = std::filesystem;
using packer::in_quotes;

struct options {
    bool simple = false;
    bool compress = false;
    std::string pool_path;
    std::string directory_path;
    std::vector<std::string> arguments;  // name=path
};

enum class request { pack, help, bad_usage };

const char USAGE[] = "usage: packer [--simple | --compress] --pool <out> --directory <out> name=path ...\n";

request parse_options(int argc, char **argv, options &o) {
    for (int i = 1; i < argc; ++i) {
        std::string argument = argv[i];
        if (argument == "--help") return request::help;
        if (argument == "--simple" || argument == "--compress") {
            (argument == "--simple" ? o.simple : o.compress) = true;
        } else if ((argument == "--pool" || argument == "--directory") && i + 1 < argc) {
            (argument == "--pool" ? o.pool_path : o.directory_path) = argv[++i];
        } else if (argument.compare(0, 2, "--") == 0) {
            return request::bad_usage;
        } else {
            o.arguments.push_back(argument);
        }
    }
    bool complete = !o.pool_path.empty() && !o.directory_path.empty() && !o.arguments.empty() &&
                    !(o.simple && o.compress);
    return complete ? request::pack : request::bad_usage;
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

// What the written archive holds, entry by entry, as its directory gives
// it: the check has walked every entry and rebuilt each as its input.
void print_entries(const packer::archive &archive, const std::vector<packer::input_file> &inputs,
                   const std::vector<std::string> &paths) {
    std::printf("  %-16s %10s  %-8s  %s\n", "entry", "bytes", "checksum", "source file");
    const uint8_t *at = archive.directory.data(), *end = at + archive.directory.size();
    for (size_t i = 0; i < inputs.size(); ++i) {
        archive_format::entry entry{};
        archive_format::next_entry(at, end, &entry);
        std::printf("  %-16s %10u  %08x  %s\n", inputs[i].name.c_str(), unsigned(entry.size), unsigned(entry.checksum),
                    fs::absolute(paths[i]).c_str());
    }
}

bool run(const options &o, std::string &error) {
    std::vector<packer::input_file> inputs;
    std::vector<std::string> paths;
    if (!split_arguments(o.arguments, inputs, paths, error)) return false;
    error = packer::check_outputs(o.pool_path, o.directory_path, paths);
    if (!error.empty()) return false;
    packer::clear_interrupted_runs(o.pool_path, o.directory_path);
    error = packer::each_in_halves(inputs.size(), [&](size_t i, std::string &failure) {
        return packer::read_file(paths[i], inputs[i].bytes, failure);
    });
    if (!error.empty()) return false;
    packer::archive archive;
    packer::layout mode = o.simple ? packer::layout::simple : packer::layout::deduplicated;
    bool packed = o.compress ? packer::pack_compressed(inputs, archive, error) : packer::pack(inputs, mode, archive, error);
    if (!packed ||
        !packer::write_archive(o.pool_path, o.directory_path, archive, inputs, error))
        return false;
    print_entries(archive, inputs, paths);
    std::printf("%s\n", packer::summary(archive.stats).c_str());
    return true;
}

}  // namespace

int main(int argc, char **argv) {
    packer::set_up_heap();
    options o;
    switch (parse_options(argc, argv, o)) {
    case request::help: std::fputs(USAGE, stdout); return 0;
    case request::bad_usage: std::fputs(USAGE, stderr); return 2;
    case request::pack: break;
    }
    std::string error;
    try {
        if (run(o, error)) return 0;
    } catch (const std::bad_alloc &) {
        // Whatever the run had written is undone on the way out.
        std::fputs("packer: out of memory while packing; the outputs are left as they were\n", stderr);
        return 1;
    } catch (const fs::filesystem_error &failure) {
        // A path call that throws (the current folder gone, say): its own words.
        std::fprintf(stderr, "packer: %s\n", failure.what());
        return 1;
    }
    std::fprintf(stderr, "packer: %s\n", error.c_str());
    return 1;
}
