#include "payload/packer/program/input_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "payload/packer/writer/packer.h"

namespace packer {

std::string in_quotes(const std::string &path) { return "\"" + path + "\""; }

std::string failure(const std::string &action, const std::string &path, const std::string &reason) {
    return "cannot " + action + " " + in_quotes(path) + ": " + reason;
}
std::string failure(const std::string &action, const std::string &path, int error_number) {
    return failure(action, path, std::strerror(error_number));
}

namespace {

// Judged on the opened descriptor, so that nothing can be swapped in between.
bool check_regular(int file, const std::string &path, struct stat &status, std::string &error) {
    if (::fstat(file, &status) != 0) {
        error = failure("read", path, errno);
        return false;
    }
    if (S_ISDIR(status.st_mode)) error = "input " + in_quotes(path) + " is a folder";
    else if (!S_ISREG(status.st_mode)) error = "input " + in_quotes(path) + " is not a regular file";
    else if (uint64_t(status.st_size) > MAX_FILE_BYTES)
        error = in_quotes(path) + " is 4 GiB or larger, too large for an entry";
    return error.empty();
}

bool read_open_file(int file, const std::string &path, std::vector<uint8_t> &bytes, std::string &error) {
    struct stat status;
    if (!check_regular(file, path, status, error)) return false;
    bytes.resize(status.st_size);
    size_t done = 0;
    uint8_t probe;
    // The read past the expected end must find nothing: a file that grew is no
    // longer the one that was measured.
    for (;;) {
        bool full = done == bytes.size();
        ssize_t got = full ? ::read(file, &probe, 1) : ::read(file, bytes.data() + done, bytes.size() - done);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            error = failure("read", path, errno);
            return false;
        }
        if (got == 0 && full) return true;
        if (got == 0 || full) {
            error = failure("read", path, "it changed while it was read");
            return false;
        }
        done += got;
    }
}

}  // namespace

bool read_file(const std::string &path, std::vector<uint8_t> &bytes, std::string &error) {
    // Non-blocking: opening a FIFO must not wait for a writer before the type is checked.
    int file = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (file < 0) {
        error = failure("open", path, errno);
        return false;
    }
    bool read = read_open_file(file, path, bytes, error);
    ::close(file);  // read-only: closing cannot lose anything
    return read;
}

}  // namespace packer
