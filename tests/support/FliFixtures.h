#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <ostream>
#include <utility>

#include "fli/FliWriter.h"
#include "util/ByteReader.h"
#include "util/ByteWriter.h"

namespace varek {

// Failure messages show runs of equal values, not whole records.
template <typename Range>
void PrintRuns(const Range& values, std::ostream* os)
{
    int shown = 0;
    for (std::size_t i = 0; i < values.size() && shown < 16; ++shown) {
        std::size_t end = i + 1;
        while (end < values.size() && values[end] == values[i]) {
            ++end;
        }
        *os << (shown ? ", " : "") << "[" << i << "] " << end - i << " x " << +values[i];
        i = end;
    }
    *os << (shown == 16 ? ", ..." : "");
}

inline void PrintTo(const Palette& palette, std::ostream* os)
{
    *os << "colours ";
    PrintRuns(palette.Colors, os);
}

inline void PrintTo(const FrameRecord& record, std::ostream* os)
{
    *os << "pixels ";
    PrintRuns(record.Pixels, os);
    *os << "; ";
    PrintTo(record.Colors, os);
}

}  // namespace varek

namespace varek::test {

// Payload bytes written one by one, for decoder input the writer would never make.
class Payload {
public:
    Payload& U8(std::initializer_list<int> values)
    {
        for (const int v : values) {
            m_bytes.push_back(static_cast<std::uint8_t>(v));
        }
        return *this;
    }
    Payload& U16(std::uint16_t value)
    {
        ByteWriter(m_bytes).U16(value);
        return *this;
    }
    Payload& Bytes(const ByteArray& bytes)
    {
        m_bytes.insert(m_bytes.end(), bytes.begin(), bytes.end());
        return *this;
    }
    Payload& Fill(std::size_t count, std::uint8_t value)
    {
        m_bytes.insert(m_bytes.end(), count, value);
        return *this;
    }
    operator ByteArray() const { return m_bytes; }
    const ByteArray& bytes() const { return m_bytes; }

private:
    ByteArray m_bytes;
};

inline FliChunkData Chunk(std::int16_t type, ByteArray payload = {})
{
    return {type, std::move(payload)};
}

inline ByteArray Fli(std::initializer_list<FliFrameData> frames, const FliFrameData* ring = nullptr)
{
    const std::vector<FliFrameData> list(frames);
    return WriteFLIFile(list, 5, ring);
}

// A colour chunk giving all 256 entries the 6-bit triple (r, g, b).
inline ByteArray AllColors(std::uint8_t r, std::uint8_t g, std::uint8_t b)
{
    Payload p;
    p.U16(1).U8({0, 0});
    for (int i = 0; i < 256; ++i) {
        p.U8({r, g, b});
    }
    return p;
}

// A byte-run image of one value: each row 127 + 127 + 66 pixels.
inline ByteArray BrunFill(std::uint8_t value)
{
    Payload p;
    for (int row = 0; row < 200; ++row) {
        p.U8({3, 127, value, 127, value, 66, value});
    }
    return p;
}

// A line-compression chunk setting one whole row to value: 128 + 128 + 64 pixels.
inline ByteArray LcRow(std::uint16_t row, std::uint8_t value)
{
    return Payload().U16(row).U16(1).U8({3, 0, 0x80, value, 0, 0x80, value, 0, 0xC0, value});
}

// File offset of frame index's header, walking the frame sizes from offset 128.
inline std::size_t FrameOffset(const ByteArray& file, int index)
{
    const ByteReader reader(file);
    std::int64_t at = 128;
    for (int i = 0; i < index; ++i) {
        at += reader.I32(at);
    }
    return static_cast<std::size_t>(at);
}

}  // namespace varek::test
