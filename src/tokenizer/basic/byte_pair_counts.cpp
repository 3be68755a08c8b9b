#include "tokenizer/basic/byte_pair_counts.hpp"

#include <algorithm>
#include <mutex>

#include "parallel/worker_pool.hpp"
#include "support/internal_failure.hpp"

namespace tessaron::basic {

void add_byte_pairs(std::span<const std::uint8_t> bytes, BytePairCounts& counts) {
    for (std::size_t p = 0; p + 1 < bytes.size(); ++p) {
        ++counts[(static_cast<std::size_t>(bytes[p]) << 8) | bytes[p + 1]];
    }
}

BytePairCounts count_pairs_chunked(std::span<const std::uint8_t> ids, std::uint64_t num_threads) {
    const std::size_t len = ids.size();
    if (num_threads == 0 || len < num_threads) {
        fail_internal("chunk_size must not be zero");
    }
    const std::size_t chunk_size = len / num_threads;
    const std::size_t chunks = (len - 1) / chunk_size + 1;

    BytePairCounts shared(kBytePairs, 0);
    std::mutex shared_lock;
    parallel::WorkerPool::global().run(chunks, [&](std::size_t k) {
        const std::size_t begin = k * chunk_size;
        // The pair spanning into the next chunk belongs to this one.
        const std::size_t end = std::min(begin + chunk_size + 1, len);
        const std::uint8_t* data = ids.data();
        if (end - begin < kBytePairs / 4) {
            // A short chunk adds its few pairs directly: a private table would cost more
            // to clear and fold in than the chunk has pairs.
            std::lock_guard<std::mutex> guard(shared_lock);
            for (std::size_t p = begin; p + 1 < end; ++p) {
                ++shared[(static_cast<std::size_t>(data[p]) << 8) | data[p + 1]];
            }
            return;
        }
        BytePairCounts local(kBytePairs, 0);
        for (std::size_t p = begin; p + 1 < end; ++p) {
            ++local[(static_cast<std::size_t>(data[p]) << 8) | data[p + 1]];
        }
        std::lock_guard<std::mutex> guard(shared_lock);
        for (std::size_t pair = 0; pair < kBytePairs; ++pair) {
            shared[pair] += local[pair];
        }
    });
    return shared;
}

}  // namespace tessaron::basic
