// The piece that starts at a position under the GPT-2 split:
//   's|'t|'re|'ve|'m|'ll|'d| ?\p{L}+| ?\p{N}+| ?[^\s\p{L}\p{N}]+|\s+(?!\S)|\s+
#pragma once

#include <cstddef>

#include "tokenizer/pretok/scan_text.hpp"

namespace tessaron::pretok {

inline std::size_t gpt2_piece_end(const ScanText& t, std::size_t i) {
    if (const std::size_t e = t.contraction(i, false); e != i) return e;
    // A space joins the run that follows it, whichever of the three it is.
    const std::size_t s = t.byte(i) == ' ' && i + 1 < t.size() ? i + 1 : i;
    const CharAt first = t.at(s);
    for (const ClassSet set : {kLetters, set_of(kNumber), kPunctuation}) {
        if (set_of(first.cls) & set) return t.run(s + first.length, set);
    }
    const ScanText::SpaceRun r = t.space_run(i);
    return t.spaces_before_piece(i, r.last, r.end);
}

}  // namespace tessaron::pretok
