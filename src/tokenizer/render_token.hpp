// Display text of one token: lossy UTF-8 (one U+FFFD per maximal ill-formed
// subpart) with C0/C1 control characters written as \uXXXX.
#pragma once

#include <string>
#include <string_view>

namespace tessaron {

void render_token(std::string_view bytes, std::string& out);

inline std::string render_token(std::string_view bytes) {
    std::string out;
    render_token(bytes, out);
    return out;
}

}  // namespace tessaron
