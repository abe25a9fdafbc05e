// Rebuilding and verifying the largest entry against the checksum alone over
// the same bytes: the copy should cost little next to the hash.
// Run with --smoke for a quick check on a small entry.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "fake.h"
#include "payload/archive.h"
#include "tests/unit/archive_builder.h"

using namespace archive_builder;

namespace {

const char NAME[] = "bin/target_cl64";
std::string entry_bytes;

// One entry of size bytes: a random pool cut into slices of random lengths,
// listed in shuffled order so that the copy jumps around the pool.
void prepare(size_t size, unsigned slices) {
    std::mt19937_64 random(6304270);
    std::string pool(size, '\0');
    for (char &byte : pool) byte = static_cast<char>(random());
    std::vector<uint32_t> cuts = {0, uint32_t(size)};
    while (cuts.size() < slices + 1) cuts.push_back(uint32_t(random() % size));
    std::sort(cuts.begin(), cuts.end());
    std::vector<Reference> references;
    for (size_t i = 0; i + 1 < cuts.size(); ++i)
        if (cuts[i + 1] > cuts[i]) references.push_back({cuts[i], cuts[i + 1] - cuts[i]});
    std::shuffle(references.begin(), references.end(), random);
    Entry packed = entry(NAME, pool, references);
    entry_bytes = contents(pool, references);
    fake::set_payload(pool, directory({packed}));
}

void load_largest_entry(benchmark::State &state) {
    for (auto _ : state) {
        loaded_entry loaded = load_entry(nullptr, NAME);
        benchmark::DoNotOptimize(loaded.bytes);
        HeapFree(GetProcessHeap(), 0, loaded.bytes);
        fake::calls.clear();  // the fake logs every call; keep the log from growing
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(entry_bytes.size()));
}

void checksum_alone(benchmark::State &state) {
    const BYTE *bytes = reinterpret_cast<const BYTE *>(entry_bytes.data());
    for (auto _ : state) benchmark::DoNotOptimize(archive_format::checksum(bytes, DWORD(entry_bytes.size())));
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(entry_bytes.size()));
}

}  // namespace

int main(int argc, char **argv) {
    bool smoke = false;
    std::vector<char *> arguments;
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--smoke") == 0)
            smoke = true;
        else
            arguments.push_back(argv[i]);
    }
    prepare(smoke ? 4096 : 6304270, smoke ? 8 : 300);
    for (auto *registered : {benchmark::RegisterBenchmark("load_entry", load_largest_entry),
                             benchmark::RegisterBenchmark("checksum", checksum_alone)}) {
        registered->Unit(benchmark::kMillisecond);
        if (smoke) registered->Iterations(1);
    }
    int count = int(arguments.size());
    benchmark::Initialize(&count, arguments.data());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
