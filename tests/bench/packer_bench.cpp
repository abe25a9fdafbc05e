// Packing speed, archive sizes and peak memory of both layouts and of the
// compressed archive (against xz -9e of the files laid end to end), on the five
// sample builds and, when QUENTHALVOX_LIBSTDCXX_SET names the folder that
// tools/fetch-libstdcxx-set.sh fills, on real builds: the four libstdc++-6.dll,
// packed under the first four entry names in the order the script gives.
// Counters: pool, directory and total bytes, references, the simple layout's
// total, and the peak memory that packing the set takes, its inputs
// included; the label: the parse rounds each file took. --smoke: a tiny generated input, one iteration each.
#include <benchmark/benchmark.h>
#include <lzma.h>
#include <malloc.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "payload/packer/writer/packer.h"

namespace {

struct input_set {
    std::string name;
    std::vector<packer::input_file> files;
};

std::vector<input_set> sets;

std::vector<packer::input_file> read_files(const std::string &folder, const std::vector<std::string> &files,
                                           const std::vector<std::string> &names) {
    std::vector<packer::input_file> inputs;
    for (size_t i = 0; i < files.size(); ++i) {
        // Read to the exact size, as the packer program does, so that the
        // peak memory counts the inputs as it would.
        std::ifstream in(folder + "/" + files[i], std::ios::binary | std::ios::ate);
        if (!in) return {};
        std::vector<uint8_t> bytes(static_cast<size_t>(in.tellg()));
        in.seekg(0);
        if (!in.read(reinterpret_cast<char *>(bytes.data()), bytes.size())) return {};
        inputs.push_back({names[i], std::move(bytes)});
    }
    return inputs;
}

std::vector<packer::input_file> sample_inputs() {
    std::vector<std::string> files = {"target_cl64", "target_cl32", "target_fl64", "target_fl32", "target_st64"};
    std::vector<std::string> names;
    for (const std::string &file : files) names.push_back("bin/" + file);
    return read_files(SAMPLE_DIR, files, names);
}

// What xz --format=lzma --lzma1=preset=9e,dict=64MiB makes of the files laid
// end to end: the same liblzma encoder and settings, and the .lzma file's 13
// bytes. (Written -9e --lzma1=dict=64MiB, xz takes preset 6 with that window.)
double xz_bytes(const input_set &set) {
    std::vector<uint8_t> files, coded;
    for (const packer::input_file &file : set.files) files.insert(files.end(), file.bytes.begin(), file.bytes.end());
    coded.resize(files.size() + files.size() / 16 + 65536);
    lzma_options_lzma options;
    lzma_lzma_preset(&options, 9 | LZMA_PRESET_EXTREME);
    options.dict_size = 64u << 20;
    lzma_filter filters[] = {{LZMA_FILTER_LZMA1, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
    size_t size = 0;
    lzma_ret result = lzma_raw_buffer_encode(filters, nullptr, files.data(), files.size(), coded.data(), &size, coded.size());
    return result == LZMA_OK ? double(size + 13) : 0;
}

std::vector<packer::input_file> libstdcxx_inputs(const char *folder) {
    return read_files(folder, {"x86_64-win32", "i686-win32", "x86_64-posix", "i686-posix"},
                      {"bin/target_cl64", "bin/target_cl32", "bin/target_fl64", "bin/target_fl32"});
}

// A base block and copies of it with scattered changes, as small builds.
std::vector<packer::input_file> tiny_inputs() {
    std::vector<uint8_t> base(32768);
    uint64_t state = 0x2545F4914F6CDD1Dull;
    for (uint8_t &b : base) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        b = static_cast<uint8_t>(state);
    }
    std::vector<packer::input_file> files = {{"bin/a", base}, {"bin/b", base}, {"bin/c", base}};
    for (size_t at = 50; at < base.size(); at += 97) files[1].bytes[at] ^= 1;
    files[2].bytes.insert(files[2].bytes.begin() + 1001, base.begin(), base.begin() + 77);
    return files;
}

// Resident memory from /proc/self/status (Linux), in bytes: "VmRSS:" now,
// "VmHWM:" the peak since the last reset.
double resident(const char *field) {
    std::ifstream status("/proc/self/status");
    size_t length = std::strlen(field);
    for (std::string line; std::getline(status, line);)
        if (line.compare(0, length, field) == 0) return 1024.0 * std::strtod(line.c_str() + length, nullptr);
    return 0;
}

// Hands the heap's free memory back first, so that what packing takes shows
// as a rise over the resident memory at the reset.
void reset_peak_memory() {
    malloc_trim(0);
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";  // where it cannot be reset, the figure is the whole run's peak
}

// compressed: the compressed archive, which packs the whole and deduplicated layouts.
void pack_set(benchmark::State &state, const input_set *set, packer::layout mode, bool compressed) {
    packer::archive archive;
    std::string error;
    reset_peak_memory();
    double before = resident("VmRSS:");
    for (auto _ : state) {
        if (!(compressed ? packer::pack_compressed(set->files, archive, error)
                         : packer::pack(set->files, mode, archive, error))) {
            state.SkipWithError(error.c_str());
            return;
        }
        benchmark::DoNotOptimize(archive.pool.data());
    }
    const packer::statistics &s = archive.stats;
    uint64_t total = archive.pool.size() + s.directory_bytes;
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * s.input_bytes));
    state.counters["input"] = double(s.input_bytes);
    state.counters["pool"] = double(s.pool_bytes);
    state.counters["directory"] = double(s.directory_bytes);
    state.counters["total"] = double(total);
    state.counters["references"] = double(s.references);
    state.counters["simple_total"] = double(mode == packer::layout::simple ? total : s.simple_layout_bytes);
    state.counters["simple_written"] = s.simple_layout_written;
    // What packing this set takes: its inputs, and the peak above what the
    // process held before (which the other sets' inputs are part of).
    std::string rounds = "parse rounds";
    for (uint32_t r : s.parse_rounds) rounds += " " + std::to_string(r);
    if (!s.parse_rounds.empty()) state.SetLabel(rounds);
    state.counters["peak_memory"] = resident("VmHWM:") - before + double(s.input_bytes);
    if (!compressed) return;
    // Its two encoders run side by side, neither on more than the inputs.
    state.counters["encoders_memory"] = 2.0 * double(packer::encoder_memory(s.input_bytes));
    state.counters["xz_9e"] = xz_bytes(*set);
}

}  // namespace

int main(int argc, char **argv) {
    packer::set_up_heap();  // as the packer program packs
    bool smoke = false;
    std::vector<char *> arguments;
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--smoke") == 0) smoke = true;
        else arguments.push_back(argv[i]);
    }
    sets.push_back({smoke ? "tiny" : "samples", smoke ? tiny_inputs() : sample_inputs()});
    if (sets[0].files.empty()) {
        std::fprintf(stderr, "packer_bench: the sample builds in %s are missing\n", SAMPLE_DIR);
        return 1;
    }
    const char *libstdcxx = std::getenv("QUENTHALVOX_LIBSTDCXX_SET");
    if (!smoke && libstdcxx) {
        sets.push_back({"libstdc++", libstdcxx_inputs(libstdcxx)});
        if (sets.back().files.empty()) {
            std::fprintf(stderr, "packer_bench: the libstdc++ set in %s is missing\n", libstdcxx);
            return 1;
        }
    }
    for (const input_set &set : sets) {
        for (const char *kind : {"deduplicated", "simple", "compressed"}) {
            packer::layout mode = kind[0] == 's' ? packer::layout::simple : packer::layout::deduplicated;
            std::string name = "pack/" + set.name + "/" + kind;
            auto *b = benchmark::RegisterBenchmark(name.c_str(), pack_set, &set, mode, kind[0] == 'c');
            b->Unit(benchmark::kMillisecond);
            if (smoke) b->Iterations(1);
        }
    }
    int count = static_cast<int>(arguments.size());
    benchmark::Initialize(&count, arguments.data());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
