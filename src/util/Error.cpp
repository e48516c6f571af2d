#include "util/Error.h"

#include <system_error>

namespace varek {

std::string_view PrefixOf(ErrorKind kind) noexcept
{
    switch (kind) {
        case ErrorKind::NotFound:
            return "Missing";
        case ErrorKind::CannotRead:
            return "Cannot read";
        case ErrorKind::Truncated:
            return "Truncated";
        case ErrorKind::Corrupt:
            return "Corrupt";
        case ErrorKind::Unsupported:
            return "Unsupported";
        case ErrorKind::TooLarge:
            return "Too large";
        case ErrorKind::CannotWrite:
            return "Cannot write";
    }
    return "Error";
}

Error::Error(ErrorKind kind, std::string detail) : m_kind(kind), m_detail(std::move(detail))
{
    m_text = PrefixOf(kind);
    // A detail that starts by naming a file continues the prefix as one phrase:
    // Cannot write "out/A.bmp": No space left on device.
    m_text += !m_detail.empty() && m_detail.front() == '"' ? " " : ": ";
    m_text += m_detail;
}

std::string SystemReason(int code)
{
    return std::error_code(code, std::generic_category()).message();
}

}  // namespace varek
