// Runs a compiled pattern over a text as a Pike VM: all threads advance together one
// character at a time, in priority order, and a thread that reaches an instruction another
// one of higher priority reached at the same position ends. That gives the match a
// backtracking engine would find first, in time linear in the text the search reads, for
// every pattern: there is no catastrophic backtracking to provoke. Matches that start where
// the last one ended, which are nearly all of them, come from the automaton in regex_dfa.hpp,
// which takes the same steps once and then looks them up.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "tokenizer/pretok/regex_dfa.hpp"
#include "tokenizer/pretok/regex_program.hpp"

namespace tessaron::pretok {

// One per thread; keeps its work space between searches.
class RegexMatcher {
public:
    explicit RegexMatcher(const RegexProgram& program);

    struct Match {
        std::size_t begin;
        std::size_t end;  // begin == end: no match
    };

    // The first non-empty match that starts at `from` or later. An empty match is never
    // one: the `regex` module's findall moves past them and finds the same non-empty ones.
    Match find(std::string_view text, std::size_t from);

    // Calls emit(begin, end) for each piece of the text: each match, and each stretch of
    // text between matches that no match covers (which findall would drop), in order.
    template <class Emit>
    void for_each_piece(std::string_view text, Emit&& emit) {
        std::size_t at = 0;
        while (at < text.size()) {
            // The automaton finds a match where the last one ended; the VM where none does.
            const std::size_t end = dfa_.match_end(text, at);
            if (end != RegexDfa::kGaveUp && end > at) {
                emit(at, end);
                at = end;
                continue;
            }
            const Match m = find(text, at);
            if (m.begin == m.end) break;
            if (m.begin > at) emit(at, m.begin);
            emit(m.begin, m.end);
            at = m.end;
        }
        if (at < text.size()) emit(at, text.size());
    }

private:
    struct Thread {
        std::uint32_t pc;
        std::size_t start;
    };
    struct Position;

    // Adds the threads that `pc` leads to at position `here` without consuming; returns
    // whether one of them matched (which ends the lower-priority ones).
    bool passes(Op op, std::uint32_t arg, const Position& here) const;
    bool follow(std::uint32_t pc, std::size_t start, const Position& here,
                std::vector<Thread>& into);

    const RegexProgram& program_;
    RegexDfa dfa_;
    std::vector<Thread> current_;
    std::vector<Thread> next_;
    std::vector<std::uint32_t> stack_;
    std::vector<std::uint64_t> seen_;  // per instruction, the generation that last reached it
    std::uint64_t generation_ = 0;
};

}  // namespace tessaron::pretok
