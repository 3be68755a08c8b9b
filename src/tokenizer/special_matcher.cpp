#include "tokenizer/special_matcher.hpp"

#include <algorithm>
#include <cstring>

namespace tessaron {

SpecialMatcher::SpecialMatcher(std::vector<std::pair<std::string, std::uint32_t>> tokens)
    : tokens_(std::move(tokens)) {
    std::sort(tokens_.begin(), tokens_.end(), [](const auto& a, const auto& b) {
        const auto fa = static_cast<unsigned char>(a.first[0]);
        const auto fb = static_cast<unsigned char>(b.first[0]);
        if (fa != fb) return fa < fb;
        return a.first.size() > b.first.size();
    });
    std::size_t t = 0;
    for (std::size_t byte = 0; byte < 256; ++byte) {
        start_[byte] = static_cast<std::uint32_t>(t);
        while (t < tokens_.size() && static_cast<unsigned char>(tokens_[t].first[0]) == byte) ++t;
    }
    start_[256] = static_cast<std::uint32_t>(t);
}

SpecialMatcher::Match SpecialMatcher::find(std::string_view text, std::size_t from) const {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    for (std::size_t i = from; i < text.size(); ++i) {
        const unsigned char b = bytes[i];
        for (std::uint32_t t = start_[b]; t < start_[b + 1]; ++t) {
            const std::string& token = tokens_[t].first;
            if (token.size() <= text.size() - i &&
                std::memcmp(token.data(), text.data() + i, token.size()) == 0) {
                return {i, token.size(), tokens_[t].second};
            }
        }
    }
    return {text.size(), 0, 0};
}

}  // namespace tessaron
