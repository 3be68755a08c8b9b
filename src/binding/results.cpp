#include "binding/results.hpp"

namespace tessaron::py {

Ref utf8_to_str(std::string_view text) {
    return Ref::checked(
        PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "strict"));
}

}  // namespace tessaron::py
