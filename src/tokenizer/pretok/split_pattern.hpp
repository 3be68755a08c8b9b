// The split patterns that run on hand-written scanners, by name or by their expression.
#pragma once

#include <optional>
#include <string_view>

namespace tessaron::pretok {

enum class SplitPattern { kGpt2, kCl100k, kO200k };

// "gpt2", "cl100k", "o200k", or the expression of one of them as model files and the
// libraries that made them write it.
std::optional<SplitPattern> find_split_pattern(std::string_view name_or_expression);

std::string_view name_of(SplitPattern pattern);
// The expression a model file stores.
std::string_view expression_of(SplitPattern pattern);
// The same spelled so that Hugging Face's regex engine splits alike.
std::string_view huggingface_expression_of(SplitPattern pattern);

}  // namespace tessaron::pretok
