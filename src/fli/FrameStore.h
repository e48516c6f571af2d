#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "imaging/Palette.h"

namespace varek {

constexpr std::int32_t kFrameWidth = 320;
constexpr std::int32_t kFrameHeight = 200;
constexpr std::size_t kFramePixels = 320 * 200;

using FramePixels = std::array<std::uint8_t, kFramePixels>;

// One decoded frame: pixel (x, y) at y * 320 + x, and the frame's own colours.
// A fresh record is all zero: every pixel index 0, every colour black.
struct FrameRecord {
    FramePixels Pixels{};
    Palette Colors;

    bool operator==(const FrameRecord&) const = default;
};

// The decoded frames of one animation. Record 0 is a working record that is never
// shown; records 1..UpperBound() are the frames. The store never holds more than
// kMaxBytes of records: AddFrame throws a TooLarge Error instead of passing it.
class FrameStore {
public:
    static constexpr std::size_t kMaxBytes = std::size_t{1} << 30;
    static constexpr std::size_t kSlabBytes = std::size_t{2} << 20;
    // Whole slabs of records, so the memory held, not just the records, stays within kMaxBytes.
    static constexpr std::size_t kMaxRecords =
        kMaxBytes / kSlabBytes * (kSlabBytes / sizeof(FrameRecord));

    FrameStore();
    ~FrameStore();
    FrameStore(FrameStore&&) noexcept;
    FrameStore& operator=(FrameStore&&) noexcept;
    FrameStore(const FrameStore&) = delete;
    FrameStore& operator=(const FrameStore&) = delete;

    // Back to exactly one fresh record, index 0. The memory of the old records is
    // kept for the next records; ReleaseUnused gives back what they did not take.
    void Reset();
    void ReleaseUnused();

    // The memory the records are carved from, used or kept for reuse.
    std::size_t HeldBytes() const noexcept;

    // Appends a copy of the newest record, which the copy then becomes.
    void AddFrame();

    std::size_t size() const noexcept { return m_records.size(); }
    // Index of the newest record; 0 when the store holds no frame.
    std::size_t UpperBound() const noexcept { return m_records.size() - 1; }
    std::size_t FrameCount() const noexcept { return m_records.size() - 1; }

    FrameRecord& Newest() noexcept { return *m_records.back(); }
    const FrameRecord& Newest() const noexcept { return *m_records.back(); }

    // Checked access; throws a NotFound Error for a record that does not exist.
    const FrameRecord& at(std::size_t index) const;
    const FrameRecord& operator[](std::size_t index) const { return at(index); }

private:
    struct Slab;
    FrameRecord* NewSlot();

    // Records are carved from large slabs, so a load touches few fresh pages and
    // growing the store never moves a record.
    std::vector<std::unique_ptr<Slab>> m_slabs;
    std::size_t m_slabsUsed = 0;
    std::size_t m_slotsUsed = 0;  // in the last slab used
    std::vector<FrameRecord*> m_records;
};

}  // namespace varek
