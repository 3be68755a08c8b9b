#include "tokenizer/pretok/unicode_properties.hpp"

namespace tessaron::pretok {

char32_t next_case_equal(char32_t code_point) {
    std::size_t lo = 0;
    std::size_t hi = kCaseNextCount;
    while (lo < hi) {
        const std::size_t mid = (lo + hi) / 2;
        if (kCaseNext[2 * mid] < code_point) {
            lo = mid + 1;
        } else {
            hi = mid;
        }
    }
    return lo < kCaseNextCount && kCaseNext[2 * lo] == code_point ? kCaseNext[2 * lo + 1]
                                                                  : code_point;
}

}  // namespace tessaron::pretok
