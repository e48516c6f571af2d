#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace varek {

using ByteArray = std::vector<std::uint8_t>;

// Little-endian stores into memory the caller has already sized.
inline void StoreU16(std::uint8_t* at, std::uint16_t value) noexcept
{
    at[0] = static_cast<std::uint8_t>(value);
    at[1] = static_cast<std::uint8_t>(value >> 8);
}

inline void StoreU32(std::uint8_t* at, std::uint32_t value) noexcept
{
    at[0] = static_cast<std::uint8_t>(value);
    at[1] = static_cast<std::uint8_t>(value >> 8);
    at[2] = static_cast<std::uint8_t>(value >> 16);
    at[3] = static_cast<std::uint8_t>(value >> 24);
}

// Appends little-endian values to a growing byte array.
class ByteWriter {
public:
    explicit ByteWriter(ByteArray& out) noexcept : m_out(out) {}

    std::size_t position() const noexcept { return m_out.size(); }

    void U8(std::uint8_t value) { m_out.push_back(value); }
    void U16(std::uint16_t value)
    {
        m_out.push_back(static_cast<std::uint8_t>(value));
        m_out.push_back(static_cast<std::uint8_t>(value >> 8));
    }
    void U32(std::uint32_t value)
    {
        U16(static_cast<std::uint16_t>(value));
        U16(static_cast<std::uint16_t>(value >> 16));
    }
    template <typename Range>
    void Bytes(const Range& bytes)
    {
        m_out.insert(m_out.end(), std::begin(bytes), std::end(bytes));
    }
    void Fill(std::size_t count, std::uint8_t value) { m_out.insert(m_out.end(), count, value); }

    // Rewrites a 32-bit value already written, at an absolute position.
    void PatchU32(std::size_t position, std::uint32_t value) noexcept
    {
        StoreU32(m_out.data() + position, value);
    }

private:
    ByteArray& m_out;
};

}  // namespace varek
