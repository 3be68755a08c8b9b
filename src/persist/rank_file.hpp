// tiktoken's rank files: one token a line, its bytes in base64, a space and its rank in
// decimal. The file is untrusted: anything else is refused with the line it is on.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "tokenizer/pretok/rules_from_ranks.hpp"

namespace tessaron::persist {

using pretok::RankedToken;

struct [[nodiscard]] RankFile {
    std::vector<RankedToken> tokens;  // in the file's order
    std::string error;                // empty when the file was read whole
};

RankFile parse_rank_file(std::string_view data);

}  // namespace tessaron::persist
