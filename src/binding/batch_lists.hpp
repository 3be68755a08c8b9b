// encode_batch's lists of ids, filled on the threads that encoded them. Python objects are made
// and their counts touched only under the interpreter lock: the calling thread takes it back
// once the lengths are known to make the lists empty (untracked, so the collector does not see
// them being filled), the threads write the items and count the references they wrote, and the
// counts are added once the lock is back for good.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "binding/id_ints.hpp"
#include "binding/ref.hpp"
#include "tokenizer/basic/model.hpp"
#include "tokenizer/pretok/known_pieces.hpp"
#include "tokenizer/special_matcher.hpp"

namespace tessaron::py {

// A list per text of its ids, encoded on up to `threads` threads without the lock; called with
// the lock held.
Ref encode_batch_lists(IdInts& ints, const basic::Model& model,
                       std::span<const std::string_view> texts, const SpecialMatcher* specials,
                       pretok::KnownPieces* known, std::size_t threads);

}  // namespace tessaron::py
