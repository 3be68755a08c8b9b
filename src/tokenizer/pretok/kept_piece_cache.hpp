// The cache of pieces an encoding call leaves for the next call on the same model. Texts
// encoded one call at a time would otherwise each start from an empty cache and look up
// nearly every piece in the model's table: 500-byte texts encoded 2.2 times slower than one
// long text. A call takes the kept cache, or makes its own while another call holds it, and
// when done leaves the larger of its own and the one kept then.
#pragma once

#include <memory>
#include <mutex>
#include <utility>

#include "tokenizer/pretok/piece_cache.hpp"

namespace tessaron::pretok {

class KeptPieceCache {
public:
    KeptPieceCache() = default;
    KeptPieceCache(const KeptPieceCache&) = delete;
    KeptPieceCache& operator=(const KeptPieceCache&) = delete;

    // The kept cache, or null when there is none.
    std::unique_ptr<PieceCache> take() {
        const std::lock_guard<std::mutex> hold(lock_);
        return std::move(kept_);
    }

    void leave(std::unique_ptr<PieceCache> cache) {
        {
            const std::lock_guard<std::mutex> hold(lock_);
            if (kept_ == nullptr || kept_->size() < cache->size()) std::swap(kept_, cache);
        }
        // The one not kept is freed outside the lock.
    }

private:
    std::mutex lock_;
    std::unique_ptr<PieceCache> kept_;
};

}  // namespace tessaron::pretok
