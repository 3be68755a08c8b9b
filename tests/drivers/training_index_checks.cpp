// Checks of the structures training keeps its index in, which the differential tests reach
// only through the texts that happen to need them: the pair table with its filter, through
// every growth.
// Prints each failed check and exits non-zero.
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "tokenizer/basic/pair_table.hpp"

namespace {

using tessaron::basic::PairTable;

int failures = 0;

void expect(bool condition, const std::string& what) {
    if (!condition) {
        std::fprintf(stderr, "failed: %s\n", what.c_str());
        ++failures;
    }
}

struct KeyOfValue {
    const std::vector<std::uint64_t>* keys;
    std::uint64_t operator()(std::uint32_t value) const { return (*keys)[value]; }
};

// Every key inserted is found after each growth and after clear() and refilling, and keys
// never inserted are not, against a standard map.
void pair_table_finds_what_it_holds(std::mt19937_64& rng) {
    std::vector<std::uint64_t> keys;
    PairTable<KeyOfValue> table(KeyOfValue{&keys});
    for (int round = 0; round < 2; ++round) {
        keys.clear();
        std::unordered_map<std::uint64_t, std::uint32_t> model;
        for (std::uint32_t n = 0; n < 40'000; ++n) {
            // Pairs of small ids, as training forms them, so that keys share their halves.
            const std::uint64_t key = (rng() % 3000) << 32 | rng() % 3000;
            if (model.count(key) != 0) continue;
            const auto value = static_cast<std::uint32_t>(keys.size());
            keys.push_back(key);
            table.insert(key, value);
            model.emplace(key, value);
            if ((n & (n - 1)) != 0) continue;  // a full check at each power of two
            bool all = true;
            for (const auto& [held, index] : model) all = all && table.find(held) == index;
            expect(all, "every key held is found at " + std::to_string(n) + " keys");
        }
        std::uint64_t absent = 0;
        std::uint64_t wrong = 0;
        for (int probe = 0; probe < 200'000; ++probe) {
            const std::uint64_t key = (rng() % 4000) << 32 | rng() % 4000;
            const auto it = model.find(key);
            const std::uint32_t found = table.find(key);
            if (it == model.end()) {
                ++absent;
                wrong += found != PairTable<KeyOfValue>::kMissing;
            } else {
                wrong += found != it->second;
            }
        }
        expect(absent > 100'000 && wrong == 0, "look-ups of held and absent keys");
        table.clear();
        bool empty = true;
        for (const auto& [held, index] : model) {
            empty = empty && table.find(held) == PairTable<KeyOfValue>::kMissing;
        }
        expect(empty, "nothing is found after clear()");
    }
}

}  // namespace

int main() {
    std::mt19937_64 rng(20261209);
    pair_table_finds_what_it_holds(rng);
    return failures == 0 ? 0 : 1;
}
