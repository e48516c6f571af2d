#pragma once

#include <exception>
#include <string>
#include <string_view>

namespace varek {

// What went wrong, as far as a caller can act on it.
enum class ErrorKind {
    NotFound,     // no file where one is needed, or one that holds nothing
    CannotRead,   // a file that is there but cannot be read
    Truncated,    // data that ends before what it says it holds
    Corrupt,      // values no valid file holds: sizes, counts, runs that leave their bounds
    Unsupported,  // well-formed data of a kind this program does not handle
    TooLarge,     // more than a stated limit, or than a format can hold
    CannotWrite,  // an output file or folder that cannot be made or written
};

// The one exception type of the library. what() is the kind's prefix followed by
// the detail, a sentence a person can act on: "Truncated: the file holds 100
// bytes, a wall or sprite needs 4096".
class Error : public std::exception {
public:
    Error(ErrorKind kind, std::string detail);

    ErrorKind kind() const noexcept { return m_kind; }
    // The sentence without the kind's prefix.
    const std::string& detail() const noexcept { return m_detail; }
    const char* what() const noexcept override { return m_text.c_str(); }

private:
    ErrorKind m_kind;
    std::string m_detail;
    std::string m_text;
};

std::string_view PrefixOf(ErrorKind kind) noexcept;

// The system's sentence for an errno value: "Permission denied".
std::string SystemReason(int code);

}  // namespace varek
