#include "util/ByteReader.h"

#include <string>

#include "util/Error.h"
#include "util/Text.h"

namespace varek {

void ByteReader::Require(std::int64_t offset, std::int64_t count) const
{
    const auto size = static_cast<std::int64_t>(m_bytes.size());
    if (offset < 0 || count < 0 || offset > size || count > size - offset) {
        Fail(offset, count);
    }
}

void ByteReader::Fail(std::int64_t offset, std::int64_t count) const
{
    std::string text(m_what);
    text += " holds " + Counted(m_bytes.size(), "byte", "bytes") + ", too few for ";
    if (count == 1) {
        text += "byte " + std::to_string(offset);
    } else {
        text += std::to_string(count) + " bytes at offset " + std::to_string(offset);
    }
    throw Error(ErrorKind::Truncated, text);
}

std::uint8_t ByteReader::U8(std::int64_t offset) const
{
    Require(offset, 1);
    return m_bytes[static_cast<std::size_t>(offset)];
}

std::uint16_t ByteReader::U16(std::int64_t offset) const
{
    Require(offset, 2);
    const auto at = static_cast<std::size_t>(offset);
    return static_cast<std::uint16_t>(m_bytes[at] | (m_bytes[at + 1] << 8));
}

std::int16_t ByteReader::I16(std::int64_t offset) const
{
    return static_cast<std::int16_t>(U16(offset));
}

std::uint32_t ByteReader::U32(std::int64_t offset) const
{
    Require(offset, 4);
    const auto at = static_cast<std::size_t>(offset);
    return static_cast<std::uint32_t>(m_bytes[at]) |
           (static_cast<std::uint32_t>(m_bytes[at + 1]) << 8) |
           (static_cast<std::uint32_t>(m_bytes[at + 2]) << 16) |
           (static_cast<std::uint32_t>(m_bytes[at + 3]) << 24);
}

std::int32_t ByteReader::I32(std::int64_t offset) const
{
    return static_cast<std::int32_t>(U32(offset));
}

ByteSpan ByteReader::Slice(std::int64_t offset, std::int64_t count) const
{
    Require(offset, count);
    return m_bytes.subspan(static_cast<std::size_t>(offset), static_cast<std::size_t>(count));
}

}  // namespace varek
