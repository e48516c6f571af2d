#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <utility>
#include <vector>

#include "fli/FliFormat.h"
#include "imaging/Palette.h"

namespace varek {

// The pixel bytes of one record: its own memory, or memory a store keeps for it.
// A copy always owns its bytes; assigning one of the same size copies the bytes
// into the memory there is. Compared by content.
class PixelBuffer {
public:
    PixelBuffer() = default;
    explicit PixelBuffer(std::size_t size)
        : m_owned(std::make_unique<std::uint8_t[]>(size)), m_data(m_owned.get()), m_size(size)
    {
    }
    // Bytes the caller keeps alive as long as the buffer.
    PixelBuffer(std::uint8_t* kept, std::size_t size) noexcept : m_data(kept), m_size(size) {}
    PixelBuffer(const PixelBuffer& other) : PixelBuffer(other.m_size)
    {
        std::copy(other.begin(), other.end(), m_data);
    }
    PixelBuffer& operator=(const PixelBuffer& other)
    {
        if (this != &other) {
            if (m_size != other.m_size) {
                *this = PixelBuffer(other);
            } else {
                std::copy(other.begin(), other.end(), m_data);
            }
        }
        return *this;
    }
    PixelBuffer(PixelBuffer&& other) noexcept
        : m_owned(std::move(other.m_owned)),
          m_data(std::exchange(other.m_data, nullptr)),
          m_size(std::exchange(other.m_size, 0))
    {
    }
    PixelBuffer& operator=(PixelBuffer&& other) noexcept
    {
        m_owned = std::move(other.m_owned);
        m_data = std::exchange(other.m_data, nullptr);
        m_size = std::exchange(other.m_size, 0);
        return *this;
    }

    std::uint8_t* data() noexcept { return m_data; }
    const std::uint8_t* data() const noexcept { return m_data; }
    std::size_t size() const noexcept { return m_size; }
    std::uint8_t* begin() noexcept { return m_data; }
    std::uint8_t* end() noexcept { return m_data + m_size; }
    const std::uint8_t* begin() const noexcept { return m_data; }
    const std::uint8_t* end() const noexcept { return m_data + m_size; }
    std::uint8_t& operator[](std::size_t i) noexcept { return m_data[i]; }
    std::uint8_t operator[](std::size_t i) const noexcept { return m_data[i]; }

    bool operator==(const PixelBuffer& other) const noexcept
    {
        return std::equal(begin(), end(), other.begin(), other.end());
    }

private:
    std::unique_ptr<std::uint8_t[]> m_owned;
    std::uint8_t* m_data = nullptr;
    std::size_t m_size = 0;
};

// One decoded frame: pixel (x, y) at y * Width + x, and the frame's own colours.
// A fresh record is all zero: every pixel index 0, every colour black. The
// default record has the FLI frame size.
struct FrameRecord {
    std::int32_t Width = kFliWidth;
    std::int32_t Height = kFliHeight;
    PixelBuffer Pixels = PixelBuffer(static_cast<std::size_t>(kFliWidth) * kFliHeight);
    Palette Colors;

    FrameRecord() = default;
    FrameRecord(std::int32_t width, std::int32_t height)
        : Width(width),
          Height(height),
          Pixels(static_cast<std::size_t>(width) * static_cast<std::size_t>(height))
    {
    }

    bool operator==(const FrameRecord&) const = default;
};

// The decoded frames of one animation, all of one size. Record 0 is a working
// record that is never shown; records 1..UpperBound() are the frames. The store
// never holds more than kMaxBytes of records: AddFrame throws a TooLarge Error
// instead of passing it.
class FrameStore {
public:
    static constexpr std::size_t kMaxBytes = std::size_t{1} << 30;
    // Pixels are carved from slabs of at least this size, so a load touches few
    // fresh pages and growing the store never moves a record's pixels.
    static constexpr std::size_t kSlabBytes = std::size_t{2} << 20;

    FrameStore();
    ~FrameStore();
    FrameStore(FrameStore&&) noexcept;
    FrameStore& operator=(FrameStore&&) noexcept;
    FrameStore(const FrameStore&) = delete;
    FrameStore& operator=(const FrameStore&) = delete;

    // Back to exactly one fresh record, index 0, of width x height pixels. The
    // memory of the old records is kept for the next records of the same size;
    // ReleaseUnused gives back what they did not take.
    void Reset(std::int32_t width = kFliWidth, std::int32_t height = kFliHeight);
    void ReleaseUnused();

    // The most records, record 0 included, that a store of width x height
    // holds: their slabs and the records themselves within kMaxBytes.
    static std::size_t MaxRecords(std::int32_t width, std::int32_t height) noexcept;
    std::size_t MaxRecords() const noexcept { return MaxRecords(m_width, m_height); }

    // The memory the records take, used or kept for reuse.
    std::size_t HeldBytes() const noexcept;

    // Appends a copy of the newest record, which the copy then becomes.
    void AddFrame();

    std::int32_t Width() const noexcept { return m_width; }
    std::int32_t Height() const noexcept { return m_height; }
    std::size_t size() const noexcept { return m_used; }
    // Index of the newest record; 0 when the store holds no frame.
    std::size_t UpperBound() const noexcept { return m_used - 1; }
    std::size_t FrameCount() const noexcept { return m_used - 1; }

    FrameRecord& Newest() noexcept { return m_records[m_used - 1]; }
    const FrameRecord& Newest() const noexcept { return m_records[m_used - 1]; }

    // Checked access; throws a NotFound Error for a record that does not exist.
    const FrameRecord& at(std::size_t index) const;
    const FrameRecord& operator[](std::size_t index) const { return at(index); }

private:
    struct Slab;
    std::uint8_t* NewPixels();

    std::vector<std::unique_ptr<Slab>> m_slabs;
    std::size_t m_slabsUsed = 0;
    std::size_t m_slotsUsed = 0;  // in the last slab used
    // A deque never moves a record as it grows; records past m_used are kept
    // for reuse, their pixels in the slabs.
    std::deque<FrameRecord> m_records;
    std::size_t m_used = 0;
    std::int32_t m_width = kFliWidth;
    std::int32_t m_height = kFliHeight;
};

}  // namespace varek
