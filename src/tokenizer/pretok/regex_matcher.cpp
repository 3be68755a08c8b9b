#include "tokenizer/pretok/regex_matcher.hpp"

#include "support/utf8.hpp"
#include "tokenizer/pretok/unicode_properties.hpp"

namespace tessaron::pretok {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

struct Decoded {
    char32_t c;
    std::size_t length;
};

// An ill-formed sequence reads as U+FFFD, as the text decoded with replacement would.
Decoded decode(std::string_view text, std::size_t at) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data()) + at;
    if (p[0] < 0x80) return {p[0], 1};
    const Utf8Step step = utf8_step(p, text.size() - at);
    if (!step.valid) return {kReplacement, step.length};
    char32_t c = p[0] & (0x7F >> step.length);
    for (std::size_t k = 1; k < step.length; ++k) c = (c << 6) | (p[k] & 0x3F);
    return {c, step.length};
}

bool is_word(char32_t c) { return (properties_of(c) & kWordBit) != 0; }

}  // namespace

// What the assertions need to know of a position.
struct RegexMatcher::Position {
    std::size_t at;
    bool at_start;
    bool at_end;
    bool final_newline;  // at the last character, a '\n'
    char32_t before;     // valid unless at_start
    char32_t after;      // valid unless at_end
};

RegexMatcher::RegexMatcher(const RegexProgram& program)
    : program_(program), dfa_(program), seen_(program.code.size(), 0) {}

bool RegexMatcher::passes(Op op, std::uint32_t arg, const Position& here) const {
    switch (op) {
    case Op::kAhead: return !here.at_end && program_.sets[arg].contains(here.after);
    case Op::kNotAhead: return here.at_end || !program_.sets[arg].contains(here.after);
    default: break;
    }
    switch (static_cast<Assertion>(arg)) {
    case kTextStart: return here.at_start;
    case kTextEnd: return here.at_end;
    case kEndOrFinalNewline: return here.at_end || here.final_newline;
    case kLineStart: return here.at_start || here.before == '\n';
    case kLineEnd: return here.at_end || here.after == '\n';
    case kWordBoundary:
    case kNotWordBoundary: {
        const bool word_before = !here.at_start && is_word(here.before);
        const bool word_after = !here.at_end && is_word(here.after);
        return (word_before != word_after) == (arg == kWordBoundary);
    }
    }
    return false;
}

bool RegexMatcher::follow(std::uint32_t pc, std::size_t start, const Position& here,
                          std::vector<Thread>& into) {
    stack_.clear();
    stack_.push_back(pc);
    while (!stack_.empty()) {
        const std::uint32_t at = stack_.back();
        stack_.pop_back();
        if (seen_[at] == generation_) continue;
        seen_[at] = generation_;
        const Instruction& in = program_.code[at];
        switch (in.op) {
        case Op::kChar: into.push_back({at, start}); break;
        case Op::kMatch:
            if (start == here.at) break;  // empty
            return true;
        case Op::kFork:
            stack_.push_back(in.arg);
            stack_.push_back(in.next);
            break;
        case Op::kJump: stack_.push_back(in.arg); break;
        case Op::kAssert:
        case Op::kAhead:
        case Op::kNotAhead:
            if (passes(in.op, in.arg, here)) stack_.push_back(in.next);
            break;
        }
    }
    return false;
}

RegexMatcher::Match RegexMatcher::find(std::string_view text, std::size_t from) {
    const std::size_t n = text.size();
    Match best{from, from};
    bool matched = false;
    current_.clear();
    Position here{from, from == 0, from == n, false, 0, 0};
    if (from > 0) {
        // The character before `from`: back over continuation bytes to its first byte.
        std::size_t k = from - 1;
        while (k > 0 && from - k < 4 && (static_cast<unsigned char>(text[k]) & 0xC0) == 0x80) --k;
        const Decoded d = decode(text, k);
        here.before = k + d.length == from ? d.c : kReplacement;
    }
    Decoded now{0, 0};
    if (!here.at_end) now = decode(text, from);
    here.after = now.c;
    here.final_newline = from + 1 == n && now.c == '\n';
    // Every thread that reaches a position shares that position's generation.
    ++generation_;
    for (;;) {
        if (!matched) follow(0, here.at, here, current_);
        if (here.at_end || (current_.empty() && matched)) break;
        const std::size_t to = here.at + now.length;
        Position there{to, false, to == n, false, now.c, 0};
        Decoded after{0, 0};
        if (!there.at_end) after = decode(text, to);
        there.after = after.c;
        there.final_newline = to + 1 == n && after.c == '\n';
        ++generation_;
        next_.clear();
        for (const Thread& t : current_) {
            const Instruction& in = program_.code[t.pc];
            if (!program_.sets[in.arg].contains(now.c)) continue;
            if (follow(in.next, t.start, there, next_)) {
                matched = true;
                best = {t.start, to};
                break;
            }
        }
        current_.swap(next_);
        here = there;
        now = after;
    }
    return matched ? best : Match{from, from};
}

}  // namespace tessaron::pretok
