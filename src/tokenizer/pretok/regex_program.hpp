// A compiled pattern: a small program for the matcher in regex_matcher.hpp. Each instruction
// either consumes one character of a set, tests the position, or forks the thread; the
// first branch of a fork has the higher priority (leftmost-first, as a backtracking engine
// would try them).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "tokenizer/pretok/code_point_set.hpp"

namespace tessaron::pretok {

enum class Op : std::uint8_t {
    kChar,         // consume a character of sets[arg]
    kFork,         // go on at next and at arg, next first
    kJump,         // go on at arg
    kAssert,       // go on when the position passes the test `arg` (an Assertion)
    kAhead,        // go on when the next character is in sets[arg]
    kNotAhead,     // go on unless the next character is in sets[arg]
    kMatch,
};

enum Assertion : std::uint32_t {
    kTextStart,          // \A, and ^ without the m flag
    kTextEnd,            // \z, \Z
    kEndOrFinalNewline,  // $ without the m flag
    kLineStart,          // ^ with the m flag
    kLineEnd,            // $ with the m flag
    kWordBoundary,       // \b
    kNotWordBoundary,    // \B
};

struct Instruction {
    Op op;
    std::uint32_t arg;
    std::uint32_t next;
};

struct RegexProgram {
    std::vector<Instruction> code;  // starts at 0
    std::vector<CodePointSet> sets;
    // The first construct that Hugging Face's regex engine (Oniguruma, Ruby syntax) reads
    // otherwise, and where: `^`, `$` and `\Z` are line anchors there, the flags m and s mean
    // other things, and `{m,n}+` repeats the count. Empty when there is none.
    std::string read_otherwise_by_oniguruma;
};

struct PatternError {
    std::string message;  // what is wrong and where, on one line
};

inline constexpr std::size_t kLongestProgram = 50'000;  // instructions

// The program of a pattern in the `regex` module's syntax, or why it cannot run.
std::variant<RegexProgram, PatternError> compile_regex(std::string_view pattern);

}  // namespace tessaron::pretok
