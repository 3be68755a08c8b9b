// Conversions of bound arguments into core values. Each throws ErrorAlreadySet with the
// exception set, already rewritten for the parameter's name.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "binding/ref.hpp"
#include "support/types.hpp"

namespace tessaron::py {

// The UTF-8 bytes the interpreter keeps for the str; valid while `object` lives.
std::string_view to_utf8(PyObject* object, const char* param);

// None gives nothing; anything else goes through to_utf8.
std::optional<std::string_view> to_optional_utf8(PyObject* object, const char* param);

std::uint64_t to_u64(PyObject* object, const char* param);

std::vector<TokenId> to_ids(PyObject* object, const char* param);

}  // namespace tessaron::py
