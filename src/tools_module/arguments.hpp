// Conversions of the second face's arguments. Each throws ErrorAlreadySet with the
// exception set.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "binding/ref.hpp"
#include "support/types.hpp"
#include "tokenizer/basic/model.hpp"
#include "tokenizer/pretok/split_pattern.hpp"
#include "tokenizer/special_matcher.hpp"

namespace tessaron::tools {

using py::Ref;

// The bytes of a str (its UTF-8) or of a bytes-like object, readable without the interpreter
// lock: str and bytes cannot change and are read in place, any other buffer is copied.
class TextBytes {
public:
    TextBytes() = default;
    TextBytes(PyObject* object, const char* what);

    std::string_view view() const { return view_; }

private:
    Ref owner_;
    std::string copy_;
    std::string_view view_;
};

// A path given as str or os.PathLike: the bytes the file system takes, and the str
// (or bytes) that names it in errors.
struct Path {
    std::string bytes;
    Ref name;
};
Path to_path(PyObject* object, const char* what);

// Ids converted up to the first that fits no id; that one, if any, is `out_of_range`.
struct IdList {
    std::vector<TokenId> ids;
    Ref out_of_range;
};
IdList to_id_list(PyObject* object);

// A single id; one that fits no id raises the unknown-id ValueError.
TokenId to_token_id(PyObject* object);

// ValueError "unknown token id: <id>".
[[noreturn]] void unknown_id(PyObject* id);
[[noreturn]] void unknown_id(TokenId id);

// Special tokens to add at training: texts that are non-empty, distinct and free of white
// space (the model file splits its lines at white space).
std::vector<std::string> to_new_special_tokens(PyObject* object);

// "all" or a collection of the model's special tokens; nothing when none are allowed.
std::optional<SpecialMatcher> to_allowed_special(PyObject* object, const basic::Model& model);

// At least 1; None gives `none`.
std::uint64_t to_thread_count(PyObject* object, std::uint64_t none);

// None or a callable.
PyObject* to_callback(PyObject* object, const char* what);

// None, a named split pattern, or an expression the pattern engine runs; else a ValueError.
std::optional<pretok::SplitPattern> to_split_pattern(PyObject* object);

}  // namespace tessaron::tools
