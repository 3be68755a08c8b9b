// The one exception type for checks that must hold. It unwinds to the Python
// surface, which raises it as pyo3_runtime.PanicException.
#pragma once

#include <source_location>
#include <string>

namespace tessaron {

class InternalFailure {
public:
    explicit InternalFailure(std::string message) : message_(std::move(message)) {}
    const std::string& message() const noexcept { return message_; }

private:
    std::string message_;
};

// Writes the diagnostic (thread, location, message) to standard error, then throws.
[[noreturn]] void fail_internal(const std::string& message,
                                std::source_location where = std::source_location::current());

inline void check(bool condition, const char* message,
                  std::source_location where = std::source_location::current()) {
    if (!condition) {
        fail_internal(message, where);
    }
}

}  // namespace tessaron
