// The matches that start where a search starts, found by a deterministic automaton built
// lazily from the program: a state is the ordered list of instructions the Pike VM's
// threads would follow at a position, and each (state, kind of character) step is worked
// out once, as the VM would take it, then looked up. The tests a position needs (look-ahead,
// `$`, `\b`) depend on the character after it, so a state holds the instructions before
// their closure, which is taken when that character is read; the kind of a character says
// which sets hold it, whether it is a word character or a line feed, and whether it is a
// line feed that ends the text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "tokenizer/pretok/regex_program.hpp"

namespace tessaron::pretok {

// One per thread: the automaton grows as texts need it.
class RegexDfa {
public:
    explicit RegexDfa(const RegexProgram& program);

    static constexpr std::size_t kGaveUp = static_cast<std::size_t>(-1);

    // The end of the first non-empty match that starts at `from`, `from` when none starts
    // there, or kGaveUp when the automaton grew past its bound (the VM then answers).
    std::size_t match_end(std::string_view text, std::size_t from);

private:
    struct State {
        std::vector<std::uint32_t> pending;  // instructions to follow, in priority order
        bool first;          // the search's start, where an empty match does not count
        std::uint8_t before; // kBefore* bits of the character before
    };
    static constexpr std::uint8_t kBeforeWord = 1;
    static constexpr std::uint8_t kBeforeNewline = 2;
    static constexpr std::uint8_t kAtStart = 4;

    static constexpr std::uint32_t kUnknown = 0xFFFFFFFF;
    static constexpr std::uint32_t kDead = 0x7FFFFFFE;
    static constexpr std::uint32_t kMatchBit = 0x80000000;

    std::uint32_t state_id(State state);
    std::uint32_t kind_of(char32_t c, bool ends_text);
    // The step from `state` over a character of `kind`, or over the end (kind == kEnd):
    // the next state (or kDead), with kMatchBit when a match ends before the character.
    std::uint32_t step(std::uint32_t state, std::uint32_t kind);
    std::uint32_t compute(std::uint32_t state, std::uint32_t kind);

    const RegexProgram& program_;
    std::vector<State> states_;
    std::map<std::string, std::uint32_t> state_of_key_;
    std::vector<std::vector<std::uint32_t>> next_;  // per state, per kind
    // Per kind: which sets hold the character (one byte per set), then its kBefore* bits,
    // then whether it is a line feed that ends the text.
    std::vector<std::string> kinds_;
    std::map<std::string, std::uint32_t> kind_of_members_;
    std::uint32_t ascii_kind_[128];
    std::uint32_t final_newline_kind_ = kUnknown;
    std::unordered_map<char32_t, std::uint32_t> wide_kind_;
    std::uint32_t end_kind_;
    std::uint32_t first_state_[8];
    std::vector<std::uint32_t> seen_;
    std::uint32_t generation_ = 0;
    std::vector<std::uint32_t> stack_;
};

}  // namespace tessaron::pretok
