// I/O failures as values: a kind plus either an operating-system code or a message.
#pragma once

#include <string>

namespace tessaron {

enum class IoKind {
    NotFound,
    PermissionDenied,
    ConnectionRefused,
    ConnectionReset,
    ConnectionAborted,
    BrokenPipe,
    AlreadyExists,
    WouldBlock,
    NotADirectory,
    IsADirectory,
    TimedOut,
    Interrupted,
    OutOfMemory,
    InvalidInput,
    InvalidData,
    WriteZero,
    Other,
};

struct IoError {
    IoKind kind;
    int os_code;          // non-zero: the text is the system's description of this code
    std::string message;  // used when os_code is zero

    static IoError from_errno(int code);
    static IoError with_message(IoKind kind, std::string text) {
        return IoError{kind, 0, std::move(text)};
    }
    // "<description> (os error N)" or the message.
    std::string text() const;
};

}  // namespace tessaron
