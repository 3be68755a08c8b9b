#include "tokenizer/pretok/regex_dfa.hpp"

#include <algorithm>
#include <iterator>
#include <utility>

#include "support/utf8.hpp"
#include "tokenizer/pretok/unicode_properties.hpp"

namespace tessaron::pretok {

namespace {

// Past these the automaton stops growing and the search falls back to the VM.
constexpr std::size_t kMostStates = 2000;
constexpr std::size_t kMostKinds = 256;

constexpr char32_t kReplacement = 0xFFFD;

}  // namespace

RegexDfa::RegexDfa(const RegexProgram& program) : program_(program), seen_(program.code.size(), 0) {
    // Kinds and first states are made as texts meet them: a short text pays for little.
    end_kind_ = 0;
    kinds_.emplace_back();  // the end of the text: no character
    std::fill(std::begin(ascii_kind_), std::end(ascii_kind_), kUnknown);
    std::fill(std::begin(first_state_), std::end(first_state_), kUnknown);
}

std::uint32_t RegexDfa::kind_of(char32_t c, bool ends_text) {
    std::string members;
    members.reserve(program_.sets.size() + 2);
    for (const CodePointSet& set : program_.sets) members += set.contains(c) ? '\1' : '\0';
    char bits = 0;
    if (properties_of(c) & kWordBit) bits |= kBeforeWord;
    if (c == '\n') bits |= kBeforeNewline;
    members += bits;
    members += ends_text ? '\1' : '\0';
    const auto [found, added] =
        kind_of_members_.try_emplace(members, static_cast<std::uint32_t>(kinds_.size()));
    if (added) kinds_.push_back(std::move(members));
    return found->second;
}

std::uint32_t RegexDfa::state_id(State state) {
    std::string key(reinterpret_cast<const char*>(state.pending.data()),
                    state.pending.size() * sizeof(std::uint32_t));
    key += static_cast<char>(state.first);
    key += static_cast<char>(state.before);
    const auto [found, added] =
        state_of_key_.try_emplace(std::move(key), static_cast<std::uint32_t>(states_.size()));
    if (added) {
        states_.push_back(std::move(state));
        next_.emplace_back();
    }
    return found->second;
}

std::uint32_t RegexDfa::step(std::uint32_t state, std::uint32_t kind) {
    std::vector<std::uint32_t>& row = next_[state];
    if (kind < row.size() && row[kind] != kUnknown) return row[kind];
    const std::uint32_t result = compute(state, kind);
    std::vector<std::uint32_t>& again = next_[state];  // compute() may have grown next_
    if (again.size() <= kind) again.resize(kind + 1, kUnknown);
    again[kind] = result;
    return result;
}

std::uint32_t RegexDfa::compute(std::uint32_t state, std::uint32_t kind) {
    const State from = states_[state];
    const std::string& k = kinds_[kind];
    const bool at_end = kind == end_kind_;
    const std::size_t sets = program_.sets.size();
    const auto holds = [&](std::uint32_t set) { return !at_end && k[set] != 0; };
    const auto after_bits = static_cast<std::uint8_t>(at_end ? 0 : k[sets]);
    const bool final_newline = !at_end && k[sets + 1] != 0;
    const auto passes = [&](const Instruction& in) {
        switch (in.op) {
        case Op::kAhead: return holds(in.arg);
        case Op::kNotAhead: return !holds(in.arg);
        default: break;
        }
        const bool at_start = (from.before & kAtStart) != 0;
        switch (static_cast<Assertion>(in.arg)) {
        case kTextStart: return at_start;
        case kTextEnd: return at_end;
        case kEndOrFinalNewline: return at_end || final_newline;
        case kLineStart: return at_start || (from.before & kBeforeNewline) != 0;
        case kLineEnd: return at_end || (after_bits & kBeforeNewline) != 0;
        case kWordBoundary:
        case kNotWordBoundary: {
            const bool word_before = (from.before & kBeforeWord) != 0;
            const bool word_after = (after_bits & kBeforeWord) != 0;
            return (word_before != word_after) == (in.arg == kWordBoundary);
        }
        }
        return false;
    };
    // Follow every pending instruction as the VM's threads would, in priority order, and
    // step each character instruction over this character.
    ++generation_;
    std::vector<std::uint32_t> pending;
    bool matched = false;
    for (const std::uint32_t start : from.pending) {
        stack_.clear();
        stack_.push_back(start);
        while (!stack_.empty() && !matched) {
            const std::uint32_t pc = stack_.back();
            stack_.pop_back();
            if (seen_[pc] == generation_) continue;
            seen_[pc] = generation_;
            const Instruction& in = program_.code[pc];
            switch (in.op) {
            case Op::kChar:
                if (holds(in.arg)) pending.push_back(in.next);
                break;
            case Op::kMatch:
                if (!from.first) matched = true;
                break;
            case Op::kFork:
                stack_.push_back(in.arg);
                stack_.push_back(in.next);
                break;
            case Op::kJump: stack_.push_back(in.arg); break;
            case Op::kAssert:
            case Op::kAhead:
            case Op::kNotAhead:
                if (passes(in)) stack_.push_back(in.next);
                break;
            }
        }
        if (matched) break;
    }
    const std::uint32_t match = matched ? kMatchBit : 0;
    if (at_end || pending.empty()) return kDead | match;
    // Followed from several threads, one instruction counts once, where it came first.
    ++generation_;
    std::vector<std::uint32_t> unique;
    for (const std::uint32_t pc : pending) {
        if (seen_[pc] == generation_) continue;
        seen_[pc] = generation_;
        unique.push_back(pc);
    }
    if (states_.size() >= kMostStates) return kUnknown;
    return state_id({std::move(unique), false, after_bits}) | match;
}

std::size_t RegexDfa::match_end(std::string_view text, std::size_t from) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    std::uint8_t before = 0;
    if (from == 0) {
        before = kAtStart;
    } else {
        // The character before `from`: back over continuation bytes to its first byte.
        std::size_t k = from - 1;
        while (k > 0 && from - k < 4 && (p[k] & 0xC0) == 0x80) --k;
        char32_t c = kReplacement;
        if (p[k] < 0x80) {
            c = p[k];
        } else if (const Utf8Step s = utf8_step(p + k, n - k); s.valid && k + s.length == from) {
            c = p[k] & (0x7F >> s.length);
            for (std::size_t j = 1; j < s.length; ++j) c = (c << 6) | (p[k + j] & 0x3F);
        }
        if (properties_of(c) & kWordBit) before |= kBeforeWord;
        if (c == '\n') before |= kBeforeNewline;
    }
    if (first_state_[before] == kUnknown) first_state_[before] = state_id({{0}, true, before});
    std::uint32_t state = first_state_[before];
    std::size_t end = from;
    for (std::size_t at = from;;) {
        if (at == n) {
            const std::uint32_t last = step(state, end_kind_);
            if (last == kUnknown) return kGaveUp;
            return last & kMatchBit ? at : end;
        }
        std::uint32_t kind;
        std::size_t length = 1;
        if (p[at] == '\n' && at + 1 == n) {
            if (final_newline_kind_ == kUnknown) final_newline_kind_ = kind_of('\n', true);
            kind = final_newline_kind_;
        } else if (p[at] < 0x80) {
            if (ascii_kind_[p[at]] == kUnknown) ascii_kind_[p[at]] = kind_of(p[at], false);
            kind = ascii_kind_[p[at]];
        } else {
            const Utf8Step s = utf8_step(p + at, n - at);
            length = s.length;
            char32_t c = kReplacement;
            if (s.valid) {
                c = p[at] & (0x7F >> s.length);
                for (std::size_t j = 1; j < s.length; ++j) c = (c << 6) | (p[at + j] & 0x3F);
            }
            const auto found = wide_kind_.find(c);
            if (found != wide_kind_.end()) {
                kind = found->second;
            } else {
                if (kinds_.size() >= kMostKinds) return kGaveUp;
                kind = kind_of(c, false);
                wide_kind_.emplace(c, kind);
            }
        }
        const std::uint32_t next = step(state, kind);
        if (next == kUnknown) return kGaveUp;
        if (next & kMatchBit) end = at;
        if ((next & ~kMatchBit) == kDead) return end;
        state = next & ~kMatchBit;
        at += length;
    }
}

}  // namespace tessaron::pretok
