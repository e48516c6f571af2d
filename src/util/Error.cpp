#include "util/Error.h"

namespace varek {

Error::Error(ErrorKind kind, const std::string& description)
    : std::runtime_error(description), m_kind(kind)
{
}

void ThrowIndexOutOfRange(const std::string& description)
{
    throw Error(ErrorKind::IndexOutOfRange, description);
}

void ThrowOverflow(const std::string& description)
{
    throw Error(ErrorKind::Overflow, description);
}

void ThrowFileAccess(const std::string& description)
{
    throw Error(ErrorKind::FileAccess, description);
}

}  // namespace varek
