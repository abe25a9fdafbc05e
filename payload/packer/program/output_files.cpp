#include "payload/packer/program/output_files.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <set>
#include <system_error>

#include "payload/packer/program/input_files.h"

namespace packer {
namespace {

namespace fs = std::filesystem;

// Beside each output, named after the run's process: the new file before it
// is renamed into place, and the earlier file while the pair is replaced.
const char STAGED[] = ".packing-";
const char PREVIOUS[] = ".previous-";

std::string beside(const std::string &path, const char *kind, long pid) { return path + kind + std::to_string(pid); }

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

struct output {
    std::string path;
    std::string staged;    // the new file, once created
    std::string previous;  // the earlier file, once set aside
    bool placed = false;   // staged has been renamed to path
};

bool stage(output &out, const std::vector<uint8_t> &bytes, std::string &error) {
    std::string staged = beside(out.path, STAGED, ::getpid());
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

bool set_aside(output &out, std::string &error) {
    std::string previous = beside(out.path, PREVIOUS, ::getpid());
    if (std::rename(out.path.c_str(), previous.c_str()) == 0) {
        out.previous = previous;
        return true;
    }
    if (errno == ENOENT) return true;  // nothing there yet
    error = failure("move the earlier " + in_quotes(out.path) + " aside to", previous, errno);
    return false;
}

bool place(output &out, std::string &error) {
    if (std::rename(out.staged.c_str(), out.path.c_str()) != 0) {
        error = failure("rename " + in_quotes(out.staged) + " to", out.path, errno);
        return false;
    }
    out.placed = true;
    return true;
}

// The earlier file back at its path, or the path emptied of the new one when
// there was none. A previous file already gone has been put back.
bool put_back(output &out) {
    if (!out.previous.empty()) {
        if (std::rename(out.previous.c_str(), out.path.c_str()) != 0 && errno != ENOENT) return false;
        out.previous.clear();
    } else if (out.placed) {
        std::remove(out.path.c_str());
    }
    out.placed = false;
    return true;
}

// The pool first and the directory only once it is back, so that a failure
// leaves a path empty rather than two files of different runs. The
// directory's staged file goes last: while it is there, the next run takes
// the replacement as unfinished and puts the earlier pair back.
bool roll_back(output &pool, output &directory) {
    if (!put_back(pool) || !put_back(directory)) return false;
    for (output *out : {&pool, &directory})
        if (!out->staged.empty()) std::remove(out->staged.c_str());
    return true;
}

// Rolls back whatever is left undone, also when an exception leaves the run.
struct replacement {
    output pool, directory;
    bool ended = false;
    ~replacement() {
        if (!ended) roll_back(pool, directory);
    }
};

// Reads the staged files back so that what is verified is what the build embeds.
bool verify_staged(const output &pool_file, const output &directory_file, const std::vector<input_file> &inputs,
                   std::string &error) {
    std::vector<uint8_t> pool, directory;
    if (!read_file(pool_file.staged, pool, error) || !read_file(directory_file.staged, directory, error)) return false;
    if (verify(pool, directory, inputs, error)) return true;
    error = "the written archive fails its check: " + error;
    return false;
}

// The process ids in the names of the files runs left beside path.
void add_runs(const std::string &path, std::set<long> &pids) {
    fs::path folder = fs::path(path).parent_path();
    std::string name = fs::path(path).filename().string();
    std::error_code code;
    for (fs::directory_iterator it(folder.empty() ? "." : folder, code), end; !code && it != end; it.increment(code)) {
        std::string file = it->path().filename().string();
        for (std::string prefix : {name + STAGED, name + PREVIOUS}) {
            if (file.compare(0, prefix.size(), prefix) != 0) continue;
            std::string digits = file.substr(prefix.size());
            if (!digits.empty() && digits.size() < 10 && digits.find_first_not_of("0123456789") == std::string::npos)
                pids.insert(std::stol(digits));
        }
    }
}

// Gone, or an earlier process that had this one's id.
bool gone(long pid) { return pid == ::getpid() || (::kill(pid, 0) != 0 && errno == ESRCH); }

}  // namespace

std::string check_outputs(const std::string &pool_path, const std::string &directory_path,
                          const std::vector<std::string> &inputs) {
    if (same_file(pool_path, directory_path)) return "--pool and --directory are the same file " + in_quotes(pool_path);
    std::string error = check_output(pool_path, inputs);
    return error.empty() ? check_output(directory_path, inputs) : error;
}

void clear_interrupted_runs(const std::string &pool_path, const std::string &directory_path) {
    std::set<long> pids;
    add_runs(pool_path, pids);
    add_runs(directory_path, pids);
    for (long pid : pids) {
        if (!gone(pid)) continue;
        output pool{pool_path, beside(pool_path, STAGED, pid), beside(pool_path, PREVIOUS, pid)};
        output directory{directory_path, beside(directory_path, STAGED, pid), beside(directory_path, PREVIOUS, pid)};
        // Until the new directory is in place, the earlier pair is the archive.
        std::error_code code;
        if (fs::exists(directory.staged, code)) {
            roll_back(pool, directory);
            continue;
        }
        for (const output &out : {pool, directory}) {
            std::remove(out.staged.c_str());
            std::remove(out.previous.c_str());
        }
    }
}

bool write_archive(const std::string &pool_path, const std::string &directory_path, const archive &archive,
                   const std::vector<input_file> &inputs, std::string &error) {
    replacement pair{{pool_path}, {directory_path}};
    bool done = stage(pair.pool, archive.pool, error) && stage(pair.directory, archive.directory, error) &&
                verify_staged(pair.pool, pair.directory, inputs, error) && set_aside(pair.pool, error) &&
                set_aside(pair.directory, error) && place(pair.pool, error) && place(pair.directory, error);
    pair.ended = true;
    if (done) {
        for (const output *out : {&pair.pool, &pair.directory})
            if (!out->previous.empty()) std::remove(out->previous.c_str());
    } else if (!roll_back(pair.pool, pair.directory)) {
        error += "; the next run of the packer puts the earlier archive back";
    }
    return done;
}

}  // namespace packer
