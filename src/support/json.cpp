#include "support/json.hpp"

#include <limits>
#include <unordered_set>

#include "support/seeded_hash.hpp"
#include "support/utf8.hpp"

namespace tessaron::json {

namespace {

struct Failure {
    std::size_t offset;
    std::string what;
};

class Reader {
public:
    explicit Reader(std::string_view text) : text_(text) {}

    Value document() {
        Value value = read_value(0);
        skip_space();
        if (at_ < text_.size()) fail("more text after the value");
        return value;
    }

private:
    [[noreturn]] void fail(std::string what) const { throw Failure{at_, std::move(what)}; }

    void skip_space() {
        while (at_ < text_.size()) {
            const char c = text_[at_];
            if (c != ' ' && c != '\t' && c != '\n' && c != '\r') break;
            ++at_;
        }
    }

    void expect_word(std::string_view word) {
        if (text_.substr(at_, word.size()) != word) fail("not a JSON value");
        at_ += word.size();
    }

    Value read_value(std::size_t depth) {
        skip_space();
        if (at_ >= text_.size()) fail("the text ends where a value should be");
        Value value;
        value.offset = at_;
        switch (text_[at_]) {
        case '{':
            if (depth >= kMaxDepth) fail("nested deeper than " + std::to_string(kMaxDepth));
            value.kind = Kind::Object;
            read_object(value, depth + 1);
            break;
        case '[':
            if (depth >= kMaxDepth) fail("nested deeper than " + std::to_string(kMaxDepth));
            value.kind = Kind::Array;
            read_array(value, depth + 1);
            break;
        case '"':
            value.kind = Kind::String;
            value.text = read_string();
            break;
        case 't':
            expect_word("true");
            value.kind = Kind::Bool;
            value.boolean = true;
            break;
        case 'f':
            expect_word("false");
            value.kind = Kind::Bool;
            break;
        case 'n': expect_word("null"); break;
        default: value.kind = Kind::Number; value.text = read_number();
        }
        return value;
    }

    void read_object(Value& value, std::size_t depth) {
        ++at_;
        skip_space();
        if (at_ < text_.size() && text_[at_] == '}') {
            ++at_;
            return;
        }
        std::unordered_set<std::string, SeededHash> keys;
        for (;;) {
            skip_space();
            if (at_ >= text_.size() || text_[at_] != '"') fail("expected a key in quotes");
            const std::size_t key_at = at_;
            std::string key = read_string();
            skip_space();
            if (at_ >= text_.size() || text_[at_] != ':') fail("expected ':' after a key");
            ++at_;
            if (!keys.insert(key).second) {
                at_ = key_at;
                fail("a key given twice in one object");
            }
            value.keys.push_back(std::move(key));
            value.items.push_back(read_value(depth));
            skip_space();
            if (at_ < text_.size() && text_[at_] == ',') {
                ++at_;
                continue;
            }
            if (at_ < text_.size() && text_[at_] == '}') {
                ++at_;
                return;
            }
            fail("expected ',' or '}' in an object");
        }
    }

    void read_array(Value& value, std::size_t depth) {
        ++at_;
        skip_space();
        if (at_ < text_.size() && text_[at_] == ']') {
            ++at_;
            return;
        }
        for (;;) {
            value.items.push_back(read_value(depth));
            skip_space();
            if (at_ < text_.size() && text_[at_] == ',') {
                ++at_;
                continue;
            }
            if (at_ < text_.size() && text_[at_] == ']') {
                ++at_;
                return;
            }
            fail("expected ',' or ']' in an array");
        }
    }

    unsigned hex4() {
        if (text_.size() - at_ < 4) fail("a \\u escape needs four hex digits");
        unsigned value = 0;
        for (int k = 0; k < 4; ++k) {
            const char c = text_[at_++];
            value <<= 4;
            if (c >= '0' && c <= '9') {
                value |= static_cast<unsigned>(c - '0');
            } else if (c >= 'a' && c <= 'f') {
                value |= static_cast<unsigned>(c - 'a' + 10);
            } else if (c >= 'A' && c <= 'F') {
                value |= static_cast<unsigned>(c - 'A' + 10);
            } else {
                --at_;
                fail("a \\u escape needs four hex digits");
            }
        }
        return value;
    }

    static void append_utf8(std::string& out, unsigned cp) {
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }

    std::string read_string() {
        ++at_;
        std::string out;
        for (;;) {
            if (at_ >= text_.size()) fail("the text ends inside a string");
            const auto c = static_cast<unsigned char>(text_[at_]);
            if (c == '"') {
                ++at_;
                return out;
            }
            if (c < 0x20) fail("a control character inside a string");
            if (c >= 0x80) {
                const Utf8Step step = utf8_step(
                    reinterpret_cast<const unsigned char*>(text_.data()) + at_, text_.size() - at_);
                if (!step.valid) fail("a string that is not valid UTF-8");
                out.append(text_.substr(at_, step.length));
                at_ += step.length;
                continue;
            }
            ++at_;
            if (c != '\\') {
                out.push_back(static_cast<char>(c));
                continue;
            }
            if (at_ >= text_.size()) fail("the text ends inside a string");
            const std::size_t escape_at = at_ - 1;
            const char e = text_[at_++];
            switch (e) {
            case '"': out.push_back('"'); break;
            case '\\': out.push_back('\\'); break;
            case '/': out.push_back('/'); break;
            case 'b': out.push_back('\b'); break;
            case 'f': out.push_back('\f'); break;
            case 'n': out.push_back('\n'); break;
            case 'r': out.push_back('\r'); break;
            case 't': out.push_back('\t'); break;
            case 'u': {
                auto lone = [&] {
                    at_ = escape_at;
                    fail("a lone surrogate in a \\u escape");
                };
                unsigned cp = hex4();
                if (cp >= 0xDC00 && cp <= 0xDFFF) lone();
                if (cp >= 0xD800 && cp <= 0xDBFF) {
                    if (text_.substr(at_, 2) != "\\u") lone();
                    at_ += 2;
                    const unsigned low = hex4();
                    if (low < 0xDC00 || low > 0xDFFF) lone();
                    cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                }
                append_utf8(out, cp);
                break;
            }
            default: --at_; fail("an unknown escape in a string");
            }
        }
    }

    std::string read_number() {
        const std::size_t begin = at_;
        auto digits = [&] {
            const std::size_t from = at_;
            while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9') ++at_;
            return at_ - from;
        };
        if (at_ < text_.size() && text_[at_] == '-') ++at_;
        if (at_ < text_.size() && text_[at_] == '0') {
            ++at_;
        } else if (digits() == 0) {
            at_ = begin;
            fail("not a JSON value");
        }
        if (at_ < text_.size() && text_[at_] == '.') {
            ++at_;
            if (digits() == 0) fail("a number needs digits after its '.'");
        }
        if (at_ < text_.size() && (text_[at_] == 'e' || text_[at_] == 'E')) {
            ++at_;
            if (at_ < text_.size() && (text_[at_] == '+' || text_[at_] == '-')) ++at_;
            if (digits() == 0) fail("a number needs digits in its exponent");
        }
        return std::string(text_.substr(begin, at_ - begin));
    }

    std::string_view text_;
    std::size_t at_ = 0;
};

}  // namespace

const Value* Value::find(std::string_view key) const {
    for (std::size_t i = 0; i < keys.size(); ++i) {
        if (keys[i] == key) return &items[i];
    }
    return nullptr;
}

std::optional<std::uint64_t> Value::as_u64() const {
    if (kind != Kind::Number || text.empty() || text.size() > 20) return std::nullopt;
    std::uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (value > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

Parsed parse(std::string_view text) {
    Parsed parsed;
    try {
        parsed.value = Reader(text).document();
    } catch (const Failure& failure) {
        parsed.value = Value{};
        parsed.error = position(text, failure.offset) + ": " + failure.what;
    }
    return parsed;
}

std::string position(std::string_view text, std::size_t offset) {
    std::size_t line = 1;
    std::size_t line_start = 0;
    for (std::size_t i = 0; i < offset && i < text.size(); ++i) {
        if (text[i] == '\n') {
            ++line;
            line_start = i + 1;
        }
    }
    return "line " + std::to_string(line) + ", column " + std::to_string(offset - line_start + 1);
}

}  // namespace tessaron::json
