#include "payload/packer/engine/later_copies.h"

#include <utility>

#include "payload/packer/engine/rolling_hash.h"

namespace packer {
namespace {

// The sampled windows of every file, and which files hold each.
class sample_table {
  public:
    explicit sample_table(const std::vector<input_file> &inputs) {
        // About one window in 64 is sampled; the table is kept at most 3/4 full.
        uint64_t expected = 16;
        for (const input_file &file : inputs) expected += file.bytes.size() / 64;
        size_t capacity = 1024;
        while (capacity * 3 < expected * 4) capacity <<= 1;
        slots_.assign(capacity, slot{});
    }

    struct sample {
        uint32_t slot, block;
    };

    // The sampled windows are gathered first, so that each one's slot is
    // fetched from memory a few windows before it is needed.
    void collect(size_t k, const std::vector<uint8_t> &bytes, std::vector<sample> &samples) {
        constexpr size_t FETCH_AHEAD = 8;
        std::vector<std::pair<uint64_t, uint32_t>> windows;  // mixed hash, position
        for_each_window(bytes.data(), bytes.size(), [&](size_t at, uint64_t mixed) {
            if (is_sample(mixed)) windows.push_back({mixed, static_cast<uint32_t>(at)});
        });
        for (size_t i = 0; i < windows.size(); ++i) {
            if (i + FETCH_AHEAD < windows.size()) __builtin_prefetch(&slots_[home(windows[i + FETCH_AHEAD].first)]);
            uint32_t s = find(windows[i].first);
            if (!slots_[s].first) slots_[s].first = static_cast<uint32_t>(k + 1);
            samples.push_back({s, windows[i].second / static_cast<uint32_t>(ESTIMATE_BLOCK)});
        }
    }

    // Reads file k's samples against the files after it, then counts it
    // among them.
    void estimate(size_t k, uint64_t size, const std::vector<sample> &samples, std::vector<uint32_t> &first_seen,
                  std::vector<uint32_t> &all_holders) {
        first_seen = weights(k, size, samples, true);
        all_holders = weights(k, size, samples, false);
        for (const sample &s : samples) {
            slot &counted = slots_[s.slot];
            if (counted.last == k + 1) continue;
            counted.last = static_cast<uint32_t>(k + 1);
            ++counted.files;
        }
    }

  private:
    std::vector<uint32_t> weights(size_t k, uint64_t size, const std::vector<sample> &samples, bool first_seen) const {
        size_t blocks = (size + ESTIMATE_BLOCK - 1) / ESTIMATE_BLOCK;
        std::vector<uint64_t> held(blocks), sampled(blocks);
        uint64_t all_held = 0;
        for (const sample &s : samples) {
            const slot &window = slots_[s.slot];
            uint64_t copies = !first_seen || window.first == k + 1 ? window.files : 0;
            held[s.block] += copies;
            all_held += copies;
            ++sampled[s.block];
        }
        std::vector<uint32_t> weights(blocks);
        for (size_t b = 0; b < blocks; ++b) {
            uint64_t copies = sampled[b] ? COST_SCALE * held[b] / sampled[b]
                                         : samples.empty() ? 0 : COST_SCALE * all_held / samples.size();
            weights[b] = static_cast<uint32_t>(COST_SCALE + copies);
        }
        return weights;
    }

    struct slot {
        uint32_t key = 0;    // a fingerprint of the window, never 0
        uint32_t first = 0;  // the first file that holds the window, plus one
        uint32_t files = 0;  // files counted so far that hold it
        uint32_t last = 0;   // the file that counted last, plus one
    };
    std::vector<slot> slots_;

    size_t home(uint64_t mixed) const { return (mixed >> 20) & (slots_.size() - 1); }

    uint32_t find(uint64_t mixed) {
        uint32_t key = static_cast<uint32_t>(mixed) | 1;
        size_t at = home(mixed);
        while (slots_[at].key != 0 && slots_[at].key != key) at = (at + 1) & (slots_.size() - 1);
        slots_[at].key = key;
        return static_cast<uint32_t>(at);
    }
};

}  // namespace

// The table is dropped once the weights are known.
later_copies::later_copies(const std::vector<input_file> &inputs)
    : first_seen_(inputs.size()), all_holders_(inputs.size()) {
    sample_table table(inputs);
    std::vector<std::vector<sample_table::sample>> samples(inputs.size());
    for (size_t k = 0; k < inputs.size(); ++k) table.collect(k, inputs[k].bytes, samples[k]);
    for (size_t k = inputs.size(); k-- > 0;)
        table.estimate(k, inputs[k].bytes.size(), samples[k], first_seen_[k], all_holders_[k]);
}

}  // namespace packer
