// A callable's parameter list, written once: the argument binder reads it, and the docstring's
// signature line, which the interpreter turns into __text_signature__, is built from it at
// compile time.
#pragma once

#include <array>
#include <cstddef>
#include <initializer_list>
#include <string_view>

namespace tessaron::py {

inline constexpr std::size_t kMaxParams = 8;

struct Param {
    const char* name = nullptr;
    const char* default_text = nullptr;  // as the signature shows it; none: required
    bool keyword_only = false;
};

// What the first parameter of the signature line stands for: the instance or the class.
enum class Receiver { Self, Type };

// The required parameters come first; keyword-only ones (all optional) come last, the others
// are positional-or-keyword. The record of "__new__" documents the class, "Owner(params)"; any
// other documents a method, "name($self, params)" or, for a class method, "name($type, ...)".
// A signature line longer than the room for it does not compile.
class MethodSignature {
public:
    consteval MethodSignature(const char* class_name, const char* callable,
                              std::initializer_list<Param> list, Receiver receiver = Receiver::Self)
        : owner(class_name), name(callable) {
        for (const Param& param : list) {
            if (count == kMaxParams) throw "too many parameters";
            if (param.default_text == nullptr && required != count) {
                throw "a required parameter follows an optional one";
            }
            if (param.keyword_only && param.default_text == nullptr) {
                throw "a keyword-only parameter needs a default";
            }
            if (!param.keyword_only && positional != count) {
                throw "a positional parameter follows a keyword-only one";
            }
            params[count++] = param;
            if (param.default_text == nullptr) required = count;
            if (!param.keyword_only) positional = count;
        }
        write_doc(receiver);
    }

    const char* owner;  // the class, for the binder's messages
    const char* name;
    std::array<Param, kMaxParams> params{};
    std::size_t count = 0;
    std::size_t required = 0;
    std::size_t positional = 0;  // parameters that may be given by position

    // "<signature line>\n--\n\n": the interpreter shows no docstring beyond it.
    const char* doc() const { return doc_.data(); }

private:
    consteval void write_doc(Receiver receiver) {
        const bool constructor = std::string_view(name) == "__new__";
        put(constructor ? owner : name);
        put(constructor ? "(" : receiver == Receiver::Self ? "($self" : "($type");
        for (std::size_t i = 0; i < count; ++i) {
            if (i > 0 || !constructor) put(", ");
            if (i == positional) put("*, ");
            put(params[i].name);
            if (params[i].default_text != nullptr) {
                put("=");
                put(params[i].default_text);
            }
        }
        put(")\n--\n\n");
    }
    consteval void put(std::string_view text) {
        for (const char c : text) {
            if (length_ + 1 >= doc_.size()) throw "signature line too long";
            doc_[length_++] = c;
        }
    }

    std::array<char, 160> doc_{};
    std::size_t length_ = 0;
};

}  // namespace tessaron::py
