// Core results as new Python objects.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "module/py_ref.hpp"
#include "support/types.hpp"

namespace tessaron::py {

// A list made at its final length of the ids that `tokens` index in `id_of`.
Ref ids_to_list(std::span<const std::uint32_t> tokens, std::span<const TokenId> id_of);

// Text known to be valid UTF-8.
Ref utf8_to_str(std::string_view text);

inline Ref none() { return Ref::borrow(Py_None); }

}  // namespace tessaron::py
