#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace varek {

using ByteSpan = std::span<const std::uint8_t>;

// Bounds-checked little-endian reads. Every read outside the bytes throws a
// Truncated Error naming what was being read, so no caller indexes raw memory.
class ByteReader {
public:
    explicit ByteReader(ByteSpan bytes, std::string_view what = "data") noexcept
        : m_bytes(bytes), m_what(what)
    {
    }

    std::size_t size() const noexcept { return m_bytes.size(); }
    ByteSpan bytes() const noexcept { return m_bytes; }

    std::uint8_t U8(std::int64_t offset) const;
    std::uint16_t U16(std::int64_t offset) const;
    std::int16_t I16(std::int64_t offset) const;
    std::uint32_t U32(std::int64_t offset) const;
    std::int32_t I32(std::int64_t offset) const;

    // The count bytes at offset; throws unless all of them lie inside.
    ByteSpan Slice(std::int64_t offset, std::int64_t count) const;

    // Throws unless [offset, offset + count) lies inside the bytes.
    void Require(std::int64_t offset, std::int64_t count) const;

private:
    [[noreturn]] void Fail(std::int64_t offset, std::int64_t count) const;

    ByteSpan m_bytes;
    std::string_view m_what;
};

}  // namespace varek
