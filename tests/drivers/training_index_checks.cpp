// Checks of the structures training keeps its index in, which the differential tests reach
// only through the texts that happen to need them: the occurrence lists' wide writes, at
// every width a gap can take, and the pair table with its filter, through every growth.
// Prints each failed check and exits non-zero.
#include <cstdint>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "tokenizer/basic/pair_table.hpp"
#include "tokenizer/basic/position_list.hpp"

#include "expect.hpp"

namespace {

using tessaron::basic::PairTable;
using tessaron::basic::PositionReader;
using tessaron::basic::PositionWriter;
using tessaron::drivers::expect;
using tessaron::drivers::failures;

// A list written with put_ahead wherever three positions follow holds the bytes put alone
// writes, and the bytes after it stay untouched; it reads back.
void wide_writes_match_narrow_ones(std::mt19937_64& rng) {
    for (unsigned bits = 0; bits <= 56; ++bits) {
        for (int trial = 0; trial < 20; ++trial) {
            // Gaps of `bits` bits among gaps of every width, so that each store meets
            // neighbours of every size.
            std::vector<std::uint64_t> positions;
            std::uint64_t at = 0;
            const int count = static_cast<int>(rng() % 24);
            for (int i = 0; i < count; ++i) {
                const unsigned width = i % 2 == 0 ? bits : static_cast<unsigned>(rng() % 50);
                const std::uint64_t top = width == 0 ? 0 : std::uint64_t{1} << (width - 1);
                at += width == 0 ? 0 : top | (rng() & (top - 1));
                positions.push_back(at);
            }
            std::vector<std::uint8_t> narrow(count * 8 + 16, 0xA5);
            std::vector<std::uint8_t> wide(narrow);
            PositionWriter by_byte(narrow.data());
            for (std::uint64_t p : positions) by_byte.put(p);
            PositionWriter by_word(wide.data());
            for (int i = 0; i < count; ++i) {
                if (i + 3 < count) {
                    by_word.put_ahead(positions[i]);
                } else {
                    by_word.put(positions[i]);
                }
            }
            const std::string what = "gaps of " + std::to_string(bits) + " bits";
            expect(by_word.end() - wide.data() == by_byte.end() - narrow.data(), what + ": size");
            expect(wide == narrow, what + ": bytes");
            PositionReader reader(wide.data(), by_word.end());
            bool same = true;
            for (std::uint64_t p : positions) same = same && !reader.done() && reader.next() == p;
            expect(same && reader.done(), what + ": read back");
        }
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
        // The same look-ups in batches, as training makes them: every hash first, then the
        // first slots, then the finds.
        std::uint64_t batched_wrong = 0;
        for (int batch = 0; batch < 2'000; ++batch) {
            std::uint64_t batch_keys[100];
            std::uint64_t hashes[100];
            for (int i = 0; i < 100; ++i) {
                batch_keys[i] = (rng() % 4000) << 32 | rng() % 4000;
                hashes[i] = table.hash_ahead(batch_keys[i]);
            }
            for (int i = 0; i < 100; ++i) {
                // A held key's probe starts at a taken slot.
                batched_wrong += model.count(batch_keys[i]) != 0 &&
                                 table.first_value(hashes[i]) == PairTable<KeyOfValue>::kMissing;
            }
            for (int i = 0; i < 100; ++i) {
                const auto it = model.find(batch_keys[i]);
                const std::uint32_t want =
                    it == model.end() ? PairTable<KeyOfValue>::kMissing : it->second;
                batched_wrong += table.find_hashed(batch_keys[i], hashes[i]) != want;
            }
        }
        expect(batched_wrong == 0, "look-ups in batches");
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
    wide_writes_match_narrow_ones(rng);
    pair_table_finds_what_it_holds(rng);
    return failures == 0 ? 0 : 1;
}
