#include "tools_module/arguments.hpp"

#include <algorithm>
#include <unordered_map>
#include <variant>
#include <unordered_set>
#include <utility>

#include "binding/convert.hpp"
#include "persist/field_splitter.hpp"
#include "tokenizer/basic/encode_with_specials.hpp"

namespace tessaron::tools {

namespace {

[[noreturn]] void type_error(const char* what, const char* expected, PyObject* object) {
    PyErr_Format(PyExc_TypeError, "%s must be %s, not %.200s", what, expected,
                 Py_TYPE(object)->tp_name);
    throw py::ErrorAlreadySet{};
}

[[noreturn]] void value_error(const char* format, PyObject* object) {
    PyErr_Format(PyExc_ValueError, format, object);
    throw py::ErrorAlreadySet{};
}

std::string_view utf8_of(PyObject* text) {
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(text, &size);
    if (data == nullptr) py::throw_error_set();
    return {data, static_cast<std::size_t>(size)};
}

bool has_white_space(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (persist::white_space_length(text.substr(i)) > 0) return true;
    }
    return false;
}

// An int (or __index__) as an id; false, with no error set, when it fits none.
bool index_to_id(PyObject* object, Ref& index, TokenId& id) {
    index = Ref::checked(PyNumber_Index(object));
    id = PyLong_AsUnsignedLongLong(index.get());
    if (id == static_cast<TokenId>(-1) && PyErr_Occurred()) {
        if (!PyErr_ExceptionMatches(PyExc_OverflowError)) py::throw_error_set();
        PyErr_Clear();
        return false;
    }
    return true;
}

// Calls `each` for every item of an iterable; a str is refused, since its items would be
// taken one character at a time.
template <class Each>
void for_each_item(PyObject* object, const char* what, const char* expected, Each each) {
    if (PyUnicode_Check(object)) type_error(what, expected, object);
    Ref iterator = Ref::steal(PyObject_GetIter(object));
    if (!iterator) {
        if (PyErr_ExceptionMatches(PyExc_TypeError)) {
            PyErr_Clear();
            type_error(what, expected, object);
        }
        py::throw_error_set();
    }
    while (Ref item = Ref::steal(PyIter_Next(iterator.get()))) {
        if (!each(item.get())) return;
    }
    if (PyErr_Occurred()) py::throw_error_set();
}

}  // namespace

TextBytes::TextBytes(PyObject* object, const char* what) : owner_(Ref::borrow(object)) {
    if (PyUnicode_Check(object)) {
        view_ = utf8_of(object);
        return;
    }
    if (PyBytes_Check(object)) {
        view_ = {PyBytes_AS_STRING(object), static_cast<std::size_t>(PyBytes_GET_SIZE(object))};
        return;
    }
    if (!PyObject_CheckBuffer(object)) type_error(what, "str or a bytes-like object", object);
    Py_buffer buffer;
    if (PyObject_GetBuffer(object, &buffer, PyBUF_SIMPLE) < 0) py::throw_error_set();
    copy_.assign(static_cast<const char*>(buffer.buf), static_cast<std::size_t>(buffer.len));
    PyBuffer_Release(&buffer);
    view_ = copy_;
}

Path to_path(PyObject* object, const char* what) {
    Ref name = Ref::steal(PyOS_FSPath(object));
    if (!name) {
        if (PyErr_ExceptionMatches(PyExc_TypeError)) {
            PyErr_Clear();
            type_error(what, "str or os.PathLike", object);
        }
        py::throw_error_set();
    }
    Ref encoded = PyUnicode_Check(name.get()) ? Ref::checked(PyUnicode_EncodeFSDefault(name.get()))
                                              : Ref::borrow(name.get());
    Path path{std::string(PyBytes_AS_STRING(encoded.get()),
                          static_cast<std::size_t>(PyBytes_GET_SIZE(encoded.get()))),
              std::move(name)};
    if (path.bytes.find('\0') != std::string::npos) {
        PyErr_SetString(PyExc_ValueError, "embedded null byte");
        throw py::ErrorAlreadySet{};
    }
    return path;
}

IdList to_id_list(PyObject* object) {
    IdList list;
    if (PyBytes_Check(object)) {
        const auto* data = reinterpret_cast<const unsigned char*>(PyBytes_AS_STRING(object));
        list.ids.assign(data, data + PyBytes_GET_SIZE(object));
        return list;
    }
    const Py_ssize_t hint = PyObject_LengthHint(object, 0);
    if (hint < 0) py::throw_error_set();
    list.ids.reserve(std::min<std::size_t>(static_cast<std::size_t>(hint), 1u << 24));
    for_each_item(object, "ids", "an iterable of ints", [&](PyObject* item) {
        Ref index;
        TokenId id;
        if (!index_to_id(item, index, id)) {
            list.out_of_range = std::move(index);
            return false;
        }
        list.ids.push_back(id);
        return true;
    });
    return list;
}

TokenId to_token_id(PyObject* object) {
    Ref index;
    TokenId id;
    if (!index_to_id(object, index, id)) unknown_id(index.get());
    return id;
}

void unknown_id(PyObject* id) { value_error("unknown token id: %S", id); }

void unknown_id(TokenId id) {
    PyErr_Format(PyExc_ValueError, "unknown token id: %llu", static_cast<unsigned long long>(id));
    throw py::ErrorAlreadySet{};
}

std::vector<std::string> to_new_special_tokens(PyObject* object) {
    std::vector<std::string> tokens;
    std::unordered_set<std::string> seen;
    for_each_item(object, "special_tokens", "an iterable of str", [&](PyObject* item) {
        if (!PyUnicode_Check(item)) type_error("a special token", "str", item);
        const std::string_view text = utf8_of(item);
        if (text.empty()) {
            PyErr_SetString(PyExc_ValueError, "special tokens must not be empty");
            throw py::ErrorAlreadySet{};
        }
        if (has_white_space(text)) value_error("special token contains white space: %R", item);
        if (!seen.emplace(text).second) value_error("special token given twice: %R", item);
        tokens.emplace_back(text);
        return true;
    });
    return tokens;
}

std::optional<SpecialMatcher> to_allowed_special(PyObject* object, const basic::Model& model) {
    const basic::SpecialTokenMap& specials = model.special_tokens();
    // Where each special token stands in the model, which gives its token number.
    std::unordered_map<std::string_view, std::size_t> index;
    for (const auto& [text, id] : specials) index.emplace(text, index.size());
    std::vector<std::pair<std::string, std::uint32_t>> allowed;
    auto allow = [&](std::string_view text, std::size_t at) {
        allowed.emplace_back(text, basic::special_token_number(model, at));
    };
    if (PyUnicode_Check(object)) {
        if (PyUnicode_CompareWithASCIIString(object, "all") != 0) {
            type_error("allowed_special", "\"all\" or a collection of special tokens", object);
        }
        for (const auto& [text, at] : index) allow(text, at);
    } else {
        for_each_item(object, "allowed_special", "\"all\" or a collection of special tokens",
                      [&](PyObject* item) {
                          if (!PyUnicode_Check(item)) type_error("a special token", "str", item);
                          const auto found = index.find(utf8_of(item));
                          if (found == index.end()) {
                              value_error("not a special token of this tokenizer: %R", item);
                          }
                          allow(found->first, found->second);
                          return true;
                      });
        // A token allowed twice is still one token.
        std::sort(allowed.begin(), allowed.end());
        allowed.erase(std::unique(allowed.begin(), allowed.end()), allowed.end());
    }
    if (allowed.empty()) return std::nullopt;
    return SpecialMatcher(std::move(allowed));
}

std::uint64_t to_thread_count(PyObject* object, std::uint64_t none) {
    if (object == nullptr || object == Py_None) return none;
    const std::uint64_t threads = py::to_u64(object, "threads");
    if (threads == 0) {
        PyErr_SetString(PyExc_ValueError, "threads must be at least 1");
        throw py::ErrorAlreadySet{};
    }
    return threads;
}

PyObject* to_callback(PyObject* object, const char* what) {
    if (object == nullptr || object == Py_None) return nullptr;
    if (!PyCallable_Check(object)) type_error(what, "callable or None", object);
    return object;
}

std::optional<pretok::SplitPattern> to_split_pattern(PyObject* object) {
    if (object == nullptr || object == Py_None) return std::nullopt;
    if (!PyUnicode_Check(object)) type_error("pattern", "str or None", object);
    const std::string_view expression = utf8_of(object);
    // The model file keeps the pattern on one line.
    if (expression.empty() || expression.find_first_of("\r\n") != std::string_view::npos) {
        value_error(
            "pattern must be a non-empty expression on one line (write \\n for a line "
            "feed), not %.200R",
            object);
    }
    auto pattern = pretok::split_pattern(expression);
    if (const auto* error = std::get_if<pretok::PatternError>(&pattern)) {
        PyErr_Format(PyExc_ValueError, "pattern cannot be run: %s", error->message.c_str());
        throw py::ErrorAlreadySet{};
    }
    return std::get<pretok::SplitPattern>(std::move(pattern));
}

}  // namespace tessaron::tools
