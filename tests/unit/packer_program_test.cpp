// The packer program as the build runs it: what it says, what it writes, and
// what it leaves at its output paths.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "packer_inputs.h"

#ifdef PACKER_PROGRAM

namespace {

namespace fs = std::filesystem;

// The names of the files the packer keeps beside an output carry its process id.
std::string without_process_id(std::string text) {
    for (std::string kind : {".packing-", ".previous-"})
        for (size_t at = text.find(kind); at != std::string::npos; at = text.find(kind, at + 1)) {
            at += kind.size();
            text.replace(at, text.find_first_not_of("0123456789", at) - at, "N");
        }
    return text;
}

class PackerProgram : public testing::Test {
  protected:
    fs::path folder = fs::temp_directory_path() / ("packer_outputs_" + std::to_string(::getpid()));

    void SetUp() override {
        fs::remove_all(folder);
        fs::create_directories(folder / "in");
    }
    void TearDown() override { fs::remove_all(folder); }

    std::string path(const std::string &name) const { return (folder / name).string(); }
    void write(const std::string &name, const std::string &text) const { std::ofstream(path(name)) << text; }
    std::string read(const std::string &name) const {
        std::ifstream in(path(name), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    // Runs the packer in the folder, after the shell words given; said gets
    // what reaches the pipe through the redirection shown (by default,
    // standard error only).
    int run(const std::string &arguments, std::string &said, const char *shown = " 2>&1 >/dev/null",
            const std::string &before = "") const {
        std::string command = "cd " + folder.string() + " && " + before + PACKER_PROGRAM + " " + arguments + shown;
        FILE *pipe = ::popen(command.c_str(), "r");
        said.clear();
        char buffer[256];
        for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) said.append(buffer, got);
        int status = ::pclose(pipe);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    std::vector<std::string> files() const {
        std::vector<std::string> names;
        for (const auto &item : fs::recursive_directory_iterator(folder)) names.push_back(item.path().string());
        std::sort(names.begin(), names.end());
        return names;
    }
};

TEST_F(PackerProgram, WritesAVerifiedArchiveAndASummary) {
    std::vector<input_file> inputs = shaped_inputs();
    std::string arguments;
    size_t input_bytes = 0;
    for (size_t i = 0; i < inputs.size(); ++i) {
        std::string file = "in/" + std::to_string(i);
        write(file, std::string(inputs[i].bytes.begin(), inputs[i].bytes.end()));
        arguments += " " + inputs[i].name + "=" + file;
        input_bytes += inputs[i].bytes.size();
    }
    for (std::string mode : {"", "--simple "}) {
        std::string said;
        ASSERT_EQ(run(mode + "--pool pool --directory directory" + arguments, said, " 2>&1"), 0) << said;
        std::string pool = read("pool"), directory = read("directory");
        packer::archive written{bytes(pool.begin(), pool.end()), bytes(directory.begin(), directory.end()), {}};
        EXPECT_TRUE(holds_rules(written, inputs));
        EXPECT_NE(said.find("input " + std::to_string(input_bytes) + " bytes"), std::string::npos) << said;
        EXPECT_NE(said.find("pool " + std::to_string(written.pool.size()) + " bytes"), std::string::npos);
        for (const input_file &input : inputs) {
            char listed[80];
            std::snprintf(listed, sizeof listed, "  %-16s %10zu  %08x  ", input.name.c_str(), input.bytes.size(),
                          unsigned(expected_checksum(input.bytes)));
            EXPECT_NE(said.find(listed), std::string::npos) << said;
        }
    }
}

TEST_F(PackerProgram, RefusesInputsItCannotPackWithAClearMessage) {
    write("in/a", "first build");
    std::ofstream(path("huge")).close();
    fs::resize_file(path("huge"), uint64_t(1) << 32);  // sparse: takes no disk
    struct {
        std::string arguments;
        const char *message;
        const char *before = "";
    } cases[] = {
        {"bin/ain/a", "is not name=path"},
        {"=in/a", "empty name"},
        {"bin/a=in/a bin/a=in/a", "duplicate entry name"},
        {"bin/ab=in/a bin/a=in/a", "begins the earlier name \"bin/ab\""},
        {"bin/a=in/a bin/ab=in/a", "begins with the earlier name \"bin/a\""},
        {"bin/a=huge", "4 GiB or larger"},
        // The paths lead out of a removed current folder, which only an absolute path needs.
        {"--pool ../p --directory ../d a=../in/a", "cannot make absolute path", "mkdir g && cd g && rmdir ../g && "},
    };
    for (const auto &c : cases) {
        std::string said;
        EXPECT_EQ(run("--pool pool --directory directory " + c.arguments, said, " 2>&1 >/dev/null", c.before), 1);
        EXPECT_NE(said.find(c.message), std::string::npos) << said;
    }
}

TEST_F(PackerProgram, HelpPrintsTheUsageOnStandardOutput) {
    std::string said;
    EXPECT_EQ(run("--help", said, " 2>/dev/null"), 0);
    EXPECT_EQ(said, "usage: packer [--simple | --compress] --pool <out> --directory <out> name=path ...\n");
}

// A failed run names the file and the reason in one line and destroys nothing
// at its output paths: not a folder, a fifo, an input however it is spelled,
// nor an earlier archive; and it leaves nothing of its own behind. It never
// waits on a fifo, and running out of memory is one of these failures.
TEST_F(PackerProgram, AFailedRunSaysWhyAndLeavesEverythingAsItWas) {
    write("in/a", "first build");
    write("pool", "old pool");
    write("directory", "old directory");
    fs::create_directory(path("empty"));
    ASSERT_EQ(::mkfifo(path("fifo").c_str(), 0600), 0);
    fs::create_hard_link(path("in/a"), path("link"));
    std::ofstream(path("big")).close();
    fs::resize_file(path("big"), uint64_t(1) << 30);  // sparse: takes no disk
    struct {
        std::string pool, directory, input_b, message, before = "";
    } cases[] = {
        {"empty", "directory", "missing", "output \"empty\" is a folder"},
        {"in/a", "directory", "missing", "output \"in/a\" is also the input \"in/a\""},
        {"in/../in/./a", "directory", "missing", "output \"in/../in/./a\" is also the input \"in/a\""},
        {"link", "directory", "missing", "output \"link\" is also the input \"in/a\""},
        {"pool", "fifo", "missing", "output \"fifo\" is not a regular file"},
        {"pool", "in/../pool", "missing", "--pool and --directory are the same file \"pool\""},
        {"pool", "directory", "missing", "cannot open \"missing\": No such file or directory"},
        {"pool", "directory", "empty", "input \"empty\" is a folder"},
        {"pool", "directory", "fifo", "input \"fifo\" is not a regular file", "timeout 10 "},
        {"pool", "directory", "big", "out of memory while packing; the outputs are left as they were",
         "ulimit -v 500000; "},
        {"pool", "none/directory", "in/a", "cannot create \"none/directory.packing-N\": No such file or directory"},
    };
    std::vector<std::string> before = files();
    for (const auto &c : cases) {
        std::string said;
        EXPECT_EQ(run("--pool " + c.pool + " --directory " + c.directory + " bin/a=in/a bin/b=" + c.input_b, said,
                      " 2>&1 >/dev/null", c.before),
                  1);
        EXPECT_EQ(without_process_id(said), "packer: " + c.message + "\n");
    }
    EXPECT_EQ(files(), before);
    EXPECT_TRUE(fs::is_directory(path("empty")));
    EXPECT_TRUE(fs::is_fifo(path("fifo")));
    EXPECT_EQ(read("in/a"), "first build");
    EXPECT_EQ(read("pool"), "old pool");
    EXPECT_EQ(read("directory"), "old directory");

    std::string said;
    EXPECT_EQ(run("--pool pool --directory directory bin/a=in/a", said), 0) << said;
    EXPECT_EQ(read("pool"), "first build");
    EXPECT_EQ(files(), before);
}

// In a sticky folder a run as another user may move its own pool aside but
// not root's directory: the replacement fails half-way, and the earlier pair
// is put back whole.
TEST_F(PackerProgram, AReplacementThatFailsHalfWayPutsTheEarlierPairBack) {
    if (::geteuid() != 0) GTEST_SKIP() << "acting as another user takes root";
    write("in/a", "first build");
    fs::create_directory(path("shared"));
    fs::permissions(path("shared"), fs::perms::all | fs::perms::sticky_bit);
    write("shared/pool", "old pool");
    write("shared/directory", "old directory");
    ASSERT_EQ(::chown(path("shared/pool").c_str(), 65534, 65534), 0);
    std::vector<std::string> before = files();
    std::string said;
    EXPECT_EQ(run("--pool shared/pool --directory shared/directory bin/a=in/a", said, " 2>&1 >/dev/null",
                  "setpriv --reuid=65534 --regid=65534 --clear-groups "),
              1);
    EXPECT_EQ(without_process_id(said), "packer: cannot move the earlier \"shared/directory\" aside to "
                                        "\"shared/directory.previous-N\": Operation not permitted\n");
    EXPECT_EQ(files(), before);
    EXPECT_EQ(read("shared/pool"), "old pool");
    EXPECT_EQ(read("shared/directory"), "old directory");
}

// A run killed between placing its pool and its directory leaves the earlier
// pair set aside; the next run puts it back before anything else, even when
// it fails itself, and clears what the killed run left. A running packer's
// files are not touched.
TEST_F(PackerProgram, TheNextRunFinishesAKilledOne) {
    pid_t killed = ::fork();
    if (killed == 0) ::_exit(0);
    ASSERT_EQ(::waitpid(killed, nullptr, 0), killed);
    std::string dead = std::to_string(killed), running = std::to_string(::getpid());
    write("in/a", "first build");
    write("pool", "new pool");
    write("pool.previous-" + dead, "old pool");
    write("directory.previous-" + dead, "old directory");
    write("directory.packing-" + dead, "new directory");
    write("pool.packing-" + running, "a running packer's");
    std::string said;
    EXPECT_EQ(run("--pool pool --directory directory bin/a=missing", said), 1);
    EXPECT_EQ(read("pool"), "old pool");
    EXPECT_EQ(read("directory"), "old directory");
    std::vector<std::string> left = {path("directory"), path("in"), path("in/a"), path("pool"),
                                     path("pool.packing-" + running)};
    EXPECT_EQ(files(), left);

    EXPECT_EQ(run("--pool pool --directory directory bin/a=in/a", said), 0) << said;
    EXPECT_EQ(read("pool"), "first build");
    EXPECT_EQ(files(), left);
}

}  // namespace

#endif
