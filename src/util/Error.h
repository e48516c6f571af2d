#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace varek {

// The kinds of run-time failure the library raises.
enum class ErrorKind {
    IndexOutOfRange,  // a read or write outside the file's bytes, a payload, pixels or colours
    Overflow,         // a size or offset that leaves its range, or a store that would pass its bound
    FileAccess,       // a file that cannot be read or written
};

// The one exception type of the library. what() is a description a person can read.
class Error : public std::runtime_error {
public:
    Error(ErrorKind kind, const std::string& description);

    ErrorKind kind() const noexcept { return m_kind; }

private:
    ErrorKind m_kind;
};

[[noreturn]] void ThrowIndexOutOfRange(const std::string& description);
[[noreturn]] void ThrowOverflow(const std::string& description);
[[noreturn]] void ThrowFileAccess(const std::string& description);

}  // namespace varek
