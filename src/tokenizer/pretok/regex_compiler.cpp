// A pattern in the `regex` module's syntax -> a program for the matcher. The parser builds a
// tree whose nodes know their program size, so that a repetition that would write out too
// large a program is refused where it is written, before anything is emitted.
#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <map>
#include <string>
#include <utility>

#include "support/utf8.hpp"
#include "tokenizer/pretok/regex_program.hpp"
#include "tokenizer/pretok/unicode_properties.hpp"

namespace tessaron::pretok {

namespace {

constexpr std::uint32_t kUnbounded = std::numeric_limits<std::uint32_t>::max();
constexpr std::uint32_t kLargestCount = 100'000;  // in {m,n}
constexpr int kDeepestNesting = 200;
// Bounds on the work and memory a hostile pattern can ask for before it is refused.
constexpr std::size_t kLongestPattern = 1 << 20;         // bytes
constexpr std::size_t kMostNodes = 4 * kLongestProgram;  // of the parsed tree
constexpr std::size_t kMostSetRanges = 1 << 21;          // over all distinct sets

enum class Kind : std::uint8_t { kEmpty, kSet, kConcat, kAlt, kRepeat, kAssert, kAhead, kNotAhead };

struct Node {
    Kind kind = Kind::kEmpty;
    std::uint32_t arg = 0;  // a set, or an Assertion
    std::vector<std::uint32_t> children;
    std::uint32_t min = 0;
    std::uint32_t max = 0;
    bool greedy = true;
    bool possessive = false;
    std::uint64_t size = 0;  // instructions it compiles to, at most kLongestProgram + 1
    bool nullable = true;    // can match the empty string
};

struct Flags {
    bool ignore_case = false;
    bool multiline = false;
    bool dotall = false;
};

// Leaves the parser with the first fault; caught in compile_regex and returned as a value.
struct Refusal {
    std::size_t at;  // byte offset in the pattern
    std::string what;
};

constexpr std::uint32_t bit(GeneralCategory c) { return std::uint32_t{1} << c; }
constexpr std::uint32_t kCasedLetters = bit(kLu) | bit(kLl) | bit(kLt);
constexpr std::uint32_t kAllCategories = (std::uint32_t{1} << kCategoryCount) - 1;

struct CategoryName {
    std::string_view name;  // lower case, without spaces, '_' or '-'
    std::uint32_t categories;
};

constexpr std::array kCategoryNames = {
    CategoryName{"l", kCasedLetters | bit(kLm) | bit(kLo)},
    CategoryName{"lu", bit(kLu)},
    CategoryName{"ll", bit(kLl)},
    CategoryName{"lt", bit(kLt)},
    CategoryName{"lm", bit(kLm)},
    CategoryName{"lo", bit(kLo)},
    CategoryName{"l&", kCasedLetters},
    CategoryName{"lc", kCasedLetters},
    CategoryName{"m", bit(kMn) | bit(kMc) | bit(kMe)},
    CategoryName{"mn", bit(kMn)},
    CategoryName{"mc", bit(kMc)},
    CategoryName{"me", bit(kMe)},
    CategoryName{"n", bit(kNd) | bit(kNl) | bit(kNo)},
    CategoryName{"nd", bit(kNd)},
    CategoryName{"nl", bit(kNl)},
    CategoryName{"no", bit(kNo)},
    CategoryName{"p", bit(kPc) | bit(kPd) | bit(kPs) | bit(kPe) | bit(kPi) | bit(kPf) | bit(kPo)},
    CategoryName{"pc", bit(kPc)},
    CategoryName{"pd", bit(kPd)},
    CategoryName{"ps", bit(kPs)},
    CategoryName{"pe", bit(kPe)},
    CategoryName{"pi", bit(kPi)},
    CategoryName{"pf", bit(kPf)},
    CategoryName{"po", bit(kPo)},
    CategoryName{"s", bit(kSm) | bit(kSc) | bit(kSk) | bit(kSo)},
    CategoryName{"sm", bit(kSm)},
    CategoryName{"sc", bit(kSc)},
    CategoryName{"sk", bit(kSk)},
    CategoryName{"so", bit(kSo)},
    CategoryName{"z", bit(kZs) | bit(kZl) | bit(kZp)},
    CategoryName{"zs", bit(kZs)},
    CategoryName{"zl", bit(kZl)},
    CategoryName{"zp", bit(kZp)},
    CategoryName{"c", bit(kCc) | bit(kCf) | bit(kCs) | bit(kCo) | bit(kCn)},
    CategoryName{"cc", bit(kCc)},
    CategoryName{"cf", bit(kCf)},
    CategoryName{"cs", bit(kCs)},
    CategoryName{"co", bit(kCo)},
    CategoryName{"cn", bit(kCn)},
    CategoryName{"any", kAllCategories},
};

std::uint64_t capped(std::uint64_t n) { return std::min<std::uint64_t>(n, kLongestProgram + 1); }

bool ascii_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// Offsets in messages count characters, as the `regex` module does.
std::size_t characters_before(std::string_view text, std::size_t at) {
    std::size_t count = 0;
    for (std::size_t k = 0; k < at && k < text.size(); ++k) {
        if ((static_cast<unsigned char>(text[k]) & 0xC0) != 0x80) ++count;
    }
    return count;
}

class Parser {
public:
    explicit Parser(std::string_view pattern) : p_(pattern) {}

    RegexProgram run() {
        if (p_.size() > kLongestPattern) {
            refuse(0, "the pattern is too long (more than " + std::to_string(kLongestPattern) +
                          " bytes)");
        }
        const Flags flags = leading_flags();
        const std::uint32_t root = alternation(flags, 0);
        if (i_ < p_.size()) refuse(i_, "unbalanced parenthesis");
        if (nodes_[root].size + 1 > kLongestProgram) refuse(0, "the pattern is too large");
        emit(root);
        program_.code.push_back({Op::kMatch, 0, 0});
        return std::move(program_);
    }

private:
    [[noreturn]] static void refuse(std::size_t at, std::string what) {
        throw Refusal{at, std::move(what)};
    }

    void read_otherwise(std::size_t at, std::string_view what) {
        std::string& first = program_.read_otherwise_by_oniguruma;
        if (first.empty()) {
            first = std::string(what) + " at position " + std::to_string(characters_before(p_, at));
        }
    }

    bool more() const { return i_ < p_.size(); }
    char peek(std::size_t ahead = 0) const {
        return i_ + ahead < p_.size() ? p_[i_ + ahead] : '\0';
    }
    bool take(char c) {
        if (!more() || peek() != c) return false;
        ++i_;
        return true;
    }

    char32_t code_point() {
        const auto* b = reinterpret_cast<const unsigned char*>(p_.data()) + i_;
        if (b[0] < 0x80) {
            ++i_;
            return b[0];
        }
        const Utf8Step step = utf8_step(b, p_.size() - i_);
        if (!step.valid) refuse(i_, "the pattern is not valid UTF-8");
        char32_t c = b[0] & (0x7F >> step.length);
        for (std::size_t k = 1; k < step.length; ++k) c = (c << 6) | (b[k] & 0x3F);
        i_ += step.length;
        return c;
    }

    std::uint32_t add(Node node) {
        if (nodes_.size() >= kMostNodes) refuse(i_, "the pattern is too large");
        nodes_.push_back(std::move(node));
        return static_cast<std::uint32_t>(nodes_.size() - 1);
    }

    // The set that `make` builds for the pattern text from `at` to here under `flags`: the
    // same text under the same flags is the same set, built once.
    template <class Make>
    std::uint32_t set_node(std::size_t at, const Flags& flags, Make make) {
        std::string key(p_.substr(at, i_ - at));
        key += flags.ignore_case ? 'i' : '-';
        key += flags.dotall ? 's' : '-';
        const auto [found, added] = set_of_text_.try_emplace(std::move(key), 0);
        if (added) {
            CodePointSet set = make();
            set.normalize();
            set_ranges_ += set.range_count();
            if (set_ranges_ > kMostSetRanges) refuse(at, "too many distinct character classes");
            found->second = static_cast<std::uint32_t>(program_.sets.size());
            program_.sets.push_back(std::move(set));
        }
        Node node;
        node.kind = Kind::kSet;
        node.arg = found->second;
        node.size = 1;
        node.nullable = false;
        return add(std::move(node));
    }

    static CodePointSet single(char32_t c, const Flags& flags) {
        CodePointSet set;
        set.add(c, c);
        if (flags.ignore_case) {
            for_each_case_equal(c, [&](char32_t other) { set.add(other, other); });
        }
        return set;
    }

    std::uint32_t assertion(Assertion a) {
        Node node;
        node.kind = Kind::kAssert;
        node.arg = a;
        node.size = 1;
        return add(std::move(node));
    }

    // (?imsu) groups at the very start set the flags of the whole pattern.
    Flags leading_flags() {
        Flags flags;
        for (;;) {
            std::size_t k = i_;
            if (p_.substr(k, 2) != "(?") return flags;
            k += 2;
            Flags f = flags;
            while (k < p_.size() && set_flag(p_[k], f, true)) {
                if (p_[k] == 'm' || p_[k] == 's')
                    read_otherwise(k, std::string("the flag ") + p_[k]);
                ++k;
            }
            if (k == i_ + 2 || k >= p_.size() || p_[k] != ')') return flags;
            flags = f;
            i_ = k + 1;
        }
    }

    static bool set_flag(char c, Flags& flags, bool on) {
        switch (c) {
        case 'i': flags.ignore_case = on; return true;
        case 'm': flags.multiline = on; return true;
        case 's': flags.dotall = on; return true;
        case 'u': return on;  // str patterns are Unicode already
        default: return false;
        }
    }

    std::uint32_t alternation(const Flags& flags, int depth) {
        if (depth > kDeepestNesting) refuse(i_, "groups nested too deeply");
        Node node;
        node.kind = Kind::kAlt;
        node.children.push_back(sequence(flags, depth));
        while (take('|')) node.children.push_back(sequence(flags, depth));
        if (node.children.size() == 1) return node.children[0];
        std::uint64_t size = 0;
        node.nullable = false;
        for (const std::uint32_t child : node.children) {
            size = capped(size + nodes_[child].size + 2);
            node.nullable = node.nullable || nodes_[child].nullable;
        }
        node.size = size;
        return add(std::move(node));
    }

    std::uint32_t sequence(const Flags& flags, int depth) {
        Node node;
        node.kind = Kind::kConcat;
        std::uint64_t size = 0;
        while (more() && peek() != '|' && peek() != ')') {
            const std::size_t start = i_;
            const std::uint32_t item = quantified(atom(flags, depth), start);
            if (nodes_[item].kind == Kind::kEmpty) continue;
            size += nodes_[item].size;
            if (size > kLongestProgram) refuse(start, "the pattern is too large");
            node.nullable = node.nullable && nodes_[item].nullable;
            node.children.push_back(item);
        }
        if (node.children.size() == 1) return node.children[0];
        node.size = size;
        return add(std::move(node));
    }

    // A {m}, {m,}, {,n}, {m,n} or {,} at i_, or nothing: then '{' is a literal.
    bool counted(std::uint32_t& min, std::uint32_t& max) {
        std::size_t k = i_ + 1;
        const auto number = [&](std::uint32_t& value) {
            const std::size_t from = k;
            std::uint64_t n = 0;
            while (k < p_.size() && p_[k] >= '0' && p_[k] <= '9') {
                n = std::min<std::uint64_t>(n * 10 + static_cast<std::uint64_t>(p_[k] - '0'),
                                            std::uint64_t{kLargestCount} + 1);
                ++k;
            }
            value = static_cast<std::uint32_t>(n);
            return k > from;
        };
        const bool has_min = number(min);
        if (!has_min) min = 0;
        if (k < p_.size() && p_[k] == '}') {
            if (!has_min) return false;
            max = min;
        } else {
            if (k >= p_.size() || p_[k] != ',') return false;
            ++k;
            if (!number(max)) max = kUnbounded;
            if (k >= p_.size() || p_[k] != '}') return false;
        }
        if (min > kLargestCount || (max != kUnbounded && max > kLargestCount)) {
            refuse(i_, "repeat count too big");
        }
        if (max < min) refuse(i_, "min repeat greater than max repeat");
        i_ = k + 1;
        return true;
    }

    bool quantifier(std::uint32_t& min, std::uint32_t& max) {
        switch (peek()) {
        case '*': min = 0, max = kUnbounded, ++i_; return true;
        case '+': min = 1, max = kUnbounded, ++i_; return true;
        case '?': min = 0, max = 1, ++i_; return true;
        case '{': return counted(min, max);
        default: return false;
        }
    }

    std::uint32_t quantified(std::uint32_t item, std::size_t start) {
        const std::size_t at = i_;
        std::uint32_t min, max;
        if (!more() || !quantifier(min, max)) return item;
        const Kind kind = nodes_[item].kind;
        // A group may hold only an assertion, and be repeated.
        const bool group = p_[start] == '(';
        if (!group && (kind == Kind::kEmpty || kind == Kind::kAssert || kind == Kind::kAhead ||
                       kind == Kind::kNotAhead)) {
            refuse(at, "nothing to repeat");
        }
        // A backtracking engine ends a loop at an iteration that matched nothing; threads that
        // advance together cannot see that, and would give other matches.
        if (nodes_[item].nullable && max > 1) {
            refuse(at, "repeating what can match the empty string is not supported");
        }
        Node node;
        node.kind = Kind::kRepeat;
        node.children = {item};
        node.min = min;
        node.max = max;
        node.nullable = min == 0;
        if (take('?')) {
            node.greedy = false;
        } else if (take('+')) {
            if (p_[i_ - 2] == '}') read_otherwise(i_ - 1, "a possessive {m,n}+");
            if (kind != Kind::kSet) {
                refuse(at,
                       "a possessive quantifier is supported only after one character or "
                       "character class");
            }
            node.possessive = true;
        }
        std::uint32_t again_min, again_max;
        const std::size_t again = i_;
        if (more() && quantifier(again_min, again_max)) refuse(again, "multiple repeat");
        const std::uint64_t body = nodes_[item].size;
        const std::uint64_t optional = max == kUnbounded ? 1 : max - min;
        const std::uint64_t size = body * min + optional * (body + 2) + 2;
        if (size > kLongestProgram) {
            refuse(start, "the repetition makes the pattern too large (more than " +
                              std::to_string(kLongestProgram) + " steps)");
        }
        node.size = size;
        return add(std::move(node));
    }

    std::uint32_t atom(const Flags& flags, int depth) {
        const std::size_t at = i_;
        switch (peek()) {
        case '(': return group(flags, depth);
        case '[': {
            CodePointSet set = character_class(flags);
            return set_node(at, flags, [&] { return std::move(set); });
        }
        case '.':
            ++i_;
            return set_node(at, flags, [&] {
                CodePointSet set;
                if (flags.dotall) {
                    set.add(0, kLastCodePoint);
                } else {
                    set.add(0, '\n' - 1);
                    set.add('\n' + 1, kLastCodePoint);
                }
                return set;
            });
        case '^':
            read_otherwise(i_++, "^");
            return assertion(flags.multiline ? kLineStart : kTextStart);
        case '$':
            read_otherwise(i_++, "$");
            return assertion(flags.multiline ? kLineEnd : kEndOrFinalNewline);
        case '*':
        case '+':
        case '?': refuse(at, "nothing to repeat");
        case '{': {
            std::uint32_t min, max;
            if (counted(min, max)) refuse(at, "nothing to repeat");
            ++i_;
            return set_node(at, flags, [&] { return single('{', flags); });
        }
        case '\\': return escape(flags);
        default: {
            const char32_t c = code_point();
            return set_node(at, flags, [&] { return single(c, flags); });
        }
        }
    }

    std::uint32_t group(const Flags& outer, int depth) {
        const std::size_t at = i_;
        ++i_;
        Flags flags = outer;
        Kind kind = Kind::kEmpty;  // kAhead/kNotAhead for look-aheads, else a plain group
        if (take('?')) {
            const char c = peek();
            if (c == ':') {
                ++i_;
            } else if (c == '=' || c == '!') {
                ++i_;
                kind = c == '=' ? Kind::kAhead : Kind::kNotAhead;
            } else if (c == '#') {
                while (more() && peek() != ')') ++i_;
                if (!take(')')) refuse(at, "missing ), unterminated comment");
                return add(Node{});
            } else if (c == 'P' && peek(1) == '<') {
                i_ += 2;
                group_name(at);
            } else if (c == '<' && peek(1) != '=' && peek(1) != '!') {
                ++i_;
                group_name(at);
            } else if (c == '<') {
                refuse(at, "look-behind is not supported");
            } else if (c == '>') {
                refuse(at, "atomic groups are not supported");
            } else if (c == 'P' && peek(1) == '=') {
                refuse(at, "back-references are not supported");
            } else if (c == '(') {
                refuse(at, "conditional groups are not supported");
            } else {
                scoped_flags(flags, at);
            }
        }
        const std::uint32_t body = alternation(flags, depth + 1);
        if (!take(')')) refuse(at, "missing ), unterminated subpattern");
        if (kind == Kind::kEmpty) return body;
        if (nodes_[body].kind != Kind::kSet) {
            refuse(at, "a look-ahead is supported only over one character or character class");
        }
        Node node;
        node.kind = kind;
        node.arg = nodes_[body].arg;
        node.size = 1;
        return add(std::move(node));
    }

    void group_name(std::size_t at) {
        const std::size_t from = i_;
        while (more() && peek() != '>') ++i_;
        if (!take('>') || i_ - 1 == from) refuse(at, "bad group name");
    }

    // (?flags:...) or (?flags-flags:...), i_ past "(?".
    void scoped_flags(Flags& flags, std::size_t at) {
        bool on = true;
        bool any = false;
        while (more()) {
            const char c = peek();
            if (c == ':') {
                ++i_;
                if (!any) break;
                return;
            }
            if (c == ')') {
                refuse(at,
                       "inline flags are supported only at the start of the pattern or "
                       "as (?flags:...)");
            }
            if (c == '-' && on) {
                on = false;
            } else if (set_flag(c, flags, on)) {
                if (c == 'm' || c == 's') read_otherwise(i_, std::string("the flag ") + c);
                any = true;
            } else if (std::string_view("abefLprwxV").find(c) != std::string_view::npos) {
                refuse(i_, std::string("the flag '") + c + "' is not supported");
            } else {
                refuse(at, "this kind of group is not supported");
            }
            ++i_;
        }
        refuse(at, "unknown extension or unterminated group");
    }

    static int hex_digit(char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    }

    char32_t hex_escape(std::size_t at, std::size_t digits, char letter) {
        std::uint32_t value = 0;
        for (std::size_t k = 0; k < digits; ++k) {
            const int d = more() ? hex_digit(peek()) : -1;
            if (d < 0) refuse(at, std::string("incomplete escape \\") + letter);
            value = value * 16 + static_cast<std::uint32_t>(d);
            ++i_;
        }
        if (value > kLastCodePoint) refuse(at, "bad escape: beyond U+10FFFF");
        return value;
    }

    char32_t octal(std::size_t most) {
        std::uint32_t value = 0;
        for (std::size_t k = 0; k < most && more() && peek() >= '0' && peek() <= '7'; ++k) {
            value = value * 8 + static_cast<std::uint32_t>(peek() - '0');
            ++i_;
        }
        return value;
    }

    struct Escaped {
        bool is_set = false;
        char32_t c = 0;
        CodePointSet set;
    };

    // After the backslash; `in_class` for escapes inside [...]. The assertions outside a
    // class are escape()'s.
    Escaped escaped(std::size_t at, bool in_class, const Flags& flags) {
        if (!more()) refuse(at, "bad escape (end of pattern)");
        Escaped e;
        const char c = peek();
        const auto flag_set = [&](std::uint8_t flag, bool with) {
            ++i_;
            e.is_set = true;
            const auto [found, added] = flag_sets_.try_emplace(flag | (with ? 1 : 0));
            if (added) found->second.add_by_flag(flag, with);
            e.set = found->second;
            return e;
        };
        const auto control = [&](char32_t value) {
            ++i_;
            e.c = value;
            return e;
        };
        switch (c) {
        case 'd': return flag_set(kDigitBit, true);
        case 'D': return flag_set(kDigitBit, false);
        case 's': return flag_set(kWhiteSpaceBit, true);
        case 'S': return flag_set(kWhiteSpaceBit, false);
        case 'w': return flag_set(kWordBit, true);
        case 'W': return flag_set(kWordBit, false);
        case 'p':
        case 'P':
            ++i_;
            e.is_set = true;
            e.set = property(at, c == 'P', flags);
            return e;
        case 'n': return control('\n');
        case 'r': return control('\r');
        case 't': return control('\t');
        case 'f': return control('\f');
        case 'v': return control('\v');
        case 'a': return control('\a');
        case 'x':
            ++i_;
            if (take('{')) {
                const std::size_t from = i_;
                std::uint32_t value = 0;
                while (more() && hex_digit(peek()) >= 0 && i_ - from < 8) {
                    value = value * 16 + static_cast<std::uint32_t>(hex_digit(peek()));
                    ++i_;
                }
                if (i_ == from || !take('}')) refuse(at, "incomplete escape \\x{...}");
                if (value > kLastCodePoint) refuse(at, "bad escape: beyond U+10FFFF");
                e.c = value;
                return e;
            }
            e.c = hex_escape(at, 2, 'x');
            return e;
        case 'u':
            ++i_;
            e.c = hex_escape(at, 4, 'u');
            return e;
        case 'U':
            ++i_;
            e.c = hex_escape(at, 8, 'U');
            return e;
        case 'N': refuse(at, "named characters (\\N{...}) are not supported");
        case 'b':
            if (in_class) return control('\b');
            break;
        default: break;
        }
        if (c == '0' || (in_class && c >= '1' && c <= '7')) {
            e.c = octal(3);
            return e;
        }
        if (c >= '1' && c <= '9') {
            // \ddd with three octal digits is a character; any other is a group reference.
            if (c <= '7' && peek(1) >= '0' && peek(1) <= '7' && peek(2) >= '0' && peek(2) <= '7') {
                e.c = octal(3);
                if (e.c > 0377) refuse(at, "octal escape value outside the range 0-0o377");
                return e;
            }
            refuse(at, "back-references are not supported");
        }
        if (ascii_letter(c)) refuse(at, std::string("bad or unsupported escape \\") + c);
        e.c = code_point();
        return e;
    }

    CodePointSet property(std::size_t at, bool negated, const Flags& flags) {
        std::string name;
        if (take('{')) {
            while (more() && peek() != '}') {
                const char c = peek();
                if (c != ' ' && c != '_' && c != '-') {
                    name += static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
                }
                ++i_;
            }
            if (!take('}')) refuse(at, "missing }");
            if (!name.empty() && name[0] == '^') {
                negated = !negated;
                name.erase(0, 1);
            }
        } else {
            if (!ascii_letter(peek())) refuse(at, "bad property");
            const char c = peek();
            name += static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
            ++i_;
        }
        std::uint32_t categories = 0;
        for (const CategoryName& known : kCategoryNames) {
            if (known.name == name) categories = known.categories;
        }
        if (categories == 0) {
            refuse(at, "unknown or unsupported property (general categories only)");
        }
        // Ignoring case, any of the cased-letter categories stands for all three.
        if (flags.ignore_case && (categories & kCasedLetters)) categories |= kCasedLetters;
        if (negated) categories ^= kAllCategories;
        auto [found, added] = category_sets_.try_emplace(categories);
        if (added) found->second.add_by_category(categories);
        return found->second;
    }

    std::uint32_t escape(const Flags& flags) {
        const std::size_t at = i_;
        ++i_;
        switch (peek()) {
        case 'A': ++i_; return assertion(kTextStart);
        case 'Z': read_otherwise(at, "\\Z"); [[fallthrough]];
        case 'z': ++i_; return assertion(kTextEnd);
        case 'b': ++i_; return assertion(kWordBoundary);
        case 'B': ++i_; return assertion(kNotWordBoundary);
        default: break;
        }
        Escaped e = escaped(at, false, flags);
        if (e.is_set) return set_node(at, flags, [&] { return std::move(e.set); });
        return set_node(at, flags, [&] { return single(e.c, flags); });
    }

    CodePointSet character_class(const Flags& flags) {
        const std::size_t at = i_;
        ++i_;
        const bool negated = take('^');
        CodePointSet set;
        CodePointSet literals;  // ranges and single characters, which ignoring case widens
        bool first = true;
        for (;;) {
            if (!more()) refuse(at, "unterminated character set");
            if (peek() == ']' && !first) {
                ++i_;
                break;
            }
            first = false;
            if (peek() == '[' && peek(1) == ':') refuse(i_, "POSIX classes are not supported");
            const std::size_t item_at = i_;
            Escaped low = item(flags);
            if (low.is_set) {
                set.add(low.set);
                continue;
            }
            if (peek() == '-' && i_ + 1 < p_.size() && peek(1) != ']') {
                ++i_;
                const Escaped high = item(flags);
                if (high.is_set || high.c < low.c) refuse(item_at, "bad character range");
                literals.add(low.c, high.c);
            } else {
                literals.add(low.c, low.c);
            }
        }
        if (flags.ignore_case) literals.close_under_case();
        set.add(literals);
        if (negated) set.negate();
        return set;
    }

    Escaped item(const Flags& flags) {
        if (peek() == '\\') {
            const std::size_t at = i_;
            ++i_;
            return escaped(at, true, flags);
        }
        Escaped e;
        e.c = code_point();
        return e;
    }

    std::uint32_t emit_here(Op op, std::uint32_t arg) {
        const auto at = static_cast<std::uint32_t>(program_.code.size());
        program_.code.push_back({op, arg, at + 1});
        return at;
    }
    std::uint32_t here() const { return static_cast<std::uint32_t>(program_.code.size()); }

    void emit(std::uint32_t index) {
        const Node& node = nodes_[index];
        switch (node.kind) {
        case Kind::kEmpty: return;
        case Kind::kSet: emit_here(Op::kChar, node.arg); return;
        case Kind::kAssert: emit_here(Op::kAssert, node.arg); return;
        case Kind::kAhead: emit_here(Op::kAhead, node.arg); return;
        case Kind::kNotAhead: emit_here(Op::kNotAhead, node.arg); return;
        case Kind::kConcat:
            for (const std::uint32_t child : node.children) emit(child);
            return;
        case Kind::kAlt: {
            std::vector<std::uint32_t> jumps;
            for (std::size_t k = 0; k + 1 < node.children.size(); ++k) {
                const std::uint32_t fork = emit_here(Op::kFork, 0);
                emit(node.children[k]);
                jumps.push_back(emit_here(Op::kJump, 0));
                program_.code[fork].arg = here();
            }
            emit(node.children.back());
            for (const std::uint32_t jump : jumps) program_.code[jump].arg = here();
            return;
        }
        case Kind::kRepeat: emit_repeat(node); return;
        }
    }

    // A fork whose preferred branch is the body right after it, or (lazy) the exit.
    void aim_fork(std::uint32_t fork, std::uint32_t exit, bool greedy) {
        Instruction& f = program_.code[fork];
        if (greedy) {
            f.arg = exit;
        } else {
            f.arg = f.next;
            f.next = exit;
        }
    }

    void emit_repeat(const Node& node) {
        const std::uint32_t body = node.children[0];
        for (std::uint32_t k = 0; k < node.min; ++k) emit(body);
        // A possessive repetition of one character takes all it can: where it may take more,
        // what follows must not be another such character.
        const std::uint32_t set = nodes_[body].arg;
        if (node.max == kUnbounded) {
            const std::uint32_t loop = emit_here(Op::kFork, 0);
            emit(body);
            emit_here(Op::kJump, loop);
            aim_fork(loop, here(), node.greedy);
            if (node.possessive) emit_here(Op::kNotAhead, set);
            return;
        }
        std::vector<std::uint32_t> forks;
        for (std::uint32_t k = node.min; k < node.max; ++k) {
            forks.push_back(emit_here(Op::kFork, 0));
            emit(body);
        }
        if (node.possessive && !forks.empty()) {
            const std::uint32_t jump = emit_here(Op::kJump, 0);
            const std::uint32_t stop = emit_here(Op::kNotAhead, set);
            program_.code[jump].arg = here();
            for (const std::uint32_t fork : forks) aim_fork(fork, stop, true);
            return;
        }
        for (const std::uint32_t fork : forks) aim_fork(fork, here(), node.greedy);
    }

    std::string_view p_;
    std::size_t i_ = 0;
    std::vector<Node> nodes_;
    RegexProgram program_;
    std::map<std::string, std::uint32_t> set_of_text_;
    std::map<std::uint32_t, CodePointSet> category_sets_;
    std::map<std::uint32_t, CodePointSet> flag_sets_;
    std::size_t set_ranges_ = 0;
};

}  // namespace

std::variant<RegexProgram, PatternError> compile_regex(std::string_view pattern) {
    try {
        return Parser(pattern).run();
    } catch (const Refusal& refusal) {
        return PatternError{refusal.what + " at position " +
                            std::to_string(characters_before(pattern, refusal.at))};
    }
}

}  // namespace tessaron::pretok
