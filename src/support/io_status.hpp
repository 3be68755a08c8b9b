// Outcomes of I/O as values that cannot be dropped unseen: a status (success or an IoError)
// and a result (a value or an IoError).
#pragma once

#include <optional>
#include <utility>
#include <variant>

#include "support/internal_failure.hpp"
#include "support/io_error.hpp"

namespace tessaron {

class [[nodiscard]] IoStatus {
public:
    IoStatus() = default;  // success
    // Implicit, so that `return IoError::...;` reads as the failure it is.
    IoStatus(IoError error) : error_(std::move(error)) {}

    bool ok() const noexcept { return !error_.has_value(); }
    const IoError& error() const {
        check(error_.has_value(), "error() of a successful status");
        return *error_;
    }

private:
    std::optional<IoError> error_;
};

template <class T>
class [[nodiscard]] IoResult {
public:
    IoResult(T value) : outcome_(std::in_place_index<0>, std::move(value)) {}
    IoResult(IoError error) : outcome_(std::in_place_index<1>, std::move(error)) {}

    bool ok() const noexcept { return outcome_.index() == 0; }
    const IoError& error() const {
        check(!ok(), "error() of a successful result");
        return std::get<1>(outcome_);
    }
    T& value() {
        check(ok(), "value() of a failed result");
        return std::get<0>(outcome_);
    }
    const T& value() const {
        check(ok(), "value() of a failed result");
        return std::get<0>(outcome_);
    }

private:
    std::variant<T, IoError> outcome_;
};

}  // namespace tessaron
