// The two insertion-ordered maps a model holds: its rules in learning order and its special
// tokens in file order.
#pragma once

#include <string>

#include "support/ordered_map.hpp"
#include "support/types.hpp"

namespace tessaron::basic {

using MergeMap = OrderedMap<TokenPair, TokenId>;
using SpecialTokenMap = OrderedMap<std::string, TokenId>;

}  // namespace tessaron::basic
