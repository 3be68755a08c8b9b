// Parameter lists of the constructor and the methods, for the argument binder.
#pragma once

#include <array>
#include <cstddef>

namespace tessaron::py {

// Every parameter is positional-or-keyword; the first `required` have no default.
struct MethodSignature {
    const char* name;
    std::array<const char*, 2> params;
    std::size_t count;
    std::size_t required;
};

inline constexpr MethodSignature kNewSignature{"__new__", {"num_threads"}, 1, 0};
inline constexpr MethodSignature kTrainSignature{"train", {"text", "vocab_size"}, 2, 2};
inline constexpr MethodSignature kEncodeSignature{"encode", {"text"}, 1, 1};
inline constexpr MethodSignature kDecodeSignature{"decode", {"ids"}, 1, 1};
inline constexpr MethodSignature kSaveModelSignature{"save_model", {"file_path"}, 1, 1};
inline constexpr MethodSignature kSaveVocabSignature{"save_vocab", {"vocab_file_path"}, 1, 1};
inline constexpr MethodSignature kSaveSignature{
    "save", {"model_file_path", "vocab_file_path"}, 2, 2};
inline constexpr MethodSignature kLoadSignature{"load", {"model_file_path"}, 1, 1};

}  // namespace tessaron::py
