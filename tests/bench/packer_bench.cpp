// Packing speed on the five sample builds in both layouts, with the archive
// sizes of each as counters so the two can be read side by side.
// --smoke: a tiny generated input, one iteration each.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "payload/packer/packer.h"

namespace {

std::vector<packer::input_file> inputs;

std::vector<packer::input_file> sample_inputs() {
    std::vector<packer::input_file> files;
    for (const char *name : {"target_cl64", "target_cl32", "target_fl64", "target_fl32", "target_st64"}) {
        std::ifstream in(std::string(SAMPLE_DIR) + "/" + name, std::ios::binary);
        if (!in) return {};
        files.push_back({std::string("bin/") + name, {std::istreambuf_iterator<char>(in), {}}});
    }
    return files;
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

void pack_inputs(benchmark::State &state, packer::layout mode) {
    packer::archive archive;
    std::string error;
    for (auto _ : state) {
        if (!packer::pack(inputs, mode, archive, error)) {
            state.SkipWithError(error.c_str());
            return;
        }
        benchmark::DoNotOptimize(archive.pool.data());
    }
    uint64_t input = archive.stats.input_bytes;
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * input));
    state.counters["input_bytes"] = double(input);
    state.counters["pool_bytes"] = double(archive.pool.size());
    state.counters["directory_bytes"] = double(archive.directory.size());
    state.counters["archive_bytes"] = double(archive.pool.size() + archive.directory.size());
    state.counters["references"] = double(archive.stats.references);
}

}  // namespace

int main(int argc, char **argv) {
    bool smoke = false;
    std::vector<char *> arguments;
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--smoke") == 0) smoke = true;
        else arguments.push_back(argv[i]);
    }
    inputs = smoke ? tiny_inputs() : sample_inputs();
    if (inputs.empty()) {
        std::fprintf(stderr, "packer_bench: the sample builds in %s are missing\n", SAMPLE_DIR);
        return 1;
    }
    auto *dedup = benchmark::RegisterBenchmark("pack/deduplicated", pack_inputs, packer::layout::deduplicated);
    auto *baseline = benchmark::RegisterBenchmark("pack/baseline", pack_inputs, packer::layout::baseline);
    for (auto *b : {dedup, baseline}) {
        b->Unit(benchmark::kMillisecond);
        if (smoke) b->Iterations(1);
    }
    int count = static_cast<int>(arguments.size());
    benchmark::Initialize(&count, arguments.data());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
