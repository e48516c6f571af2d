#include "fli/FrameStore.h"

#include <cstring>
#include <new>
#include <string>
#include <type_traits>

#if defined(__linux__)
#include <sys/mman.h>
#endif

#include "util/Error.h"

namespace varek {

static_assert(std::is_trivially_copyable_v<FrameRecord>);

namespace {

constexpr std::size_t kSlabAlignment = FrameStore::kSlabBytes;  // one huge page
constexpr std::size_t kSlotsPerSlab = kSlabAlignment / sizeof(FrameRecord);

}  // namespace

struct FrameStore::Slab {
    Slab()
        : memory(static_cast<FrameRecord*>(::operator new(kSlabAlignment,
                                                          std::align_val_t{kSlabAlignment})))
    {
#if defined(MADV_HUGEPAGE)
        // Fewer, larger page faults while a load fills the slab; a hint only.
        madvise(memory, kSlabAlignment, MADV_HUGEPAGE);
#endif
    }
    ~Slab() { ::operator delete(memory, std::align_val_t{kSlabAlignment}); }
    Slab(const Slab&) = delete;
    Slab& operator=(const Slab&) = delete;

    FrameRecord* memory;
};

FrameStore::FrameStore()
{
    Reset();
}

FrameStore::~FrameStore() = default;
FrameStore::FrameStore(FrameStore&&) noexcept = default;
FrameStore& FrameStore::operator=(FrameStore&&) noexcept = default;

FrameRecord* FrameStore::NewSlot()
{
    if (m_slabsUsed == 0 || m_slotsUsed == kSlotsPerSlab) {
        if (m_slabsUsed == m_slabs.size()) {
            m_slabs.push_back(std::make_unique<Slab>());
        }
        ++m_slabsUsed;
        m_slotsUsed = 0;
    }
    return m_slabs[m_slabsUsed - 1]->memory + m_slotsUsed++;
}

void FrameStore::Reset()
{
    m_records.clear();
    m_slabsUsed = 0;
    m_slotsUsed = 0;
    FrameRecord* first = NewSlot();
    std::memset(static_cast<void*>(first), 0, sizeof(FrameRecord));
    m_records.push_back(first);
}

void FrameStore::ReleaseUnused()
{
    m_slabs.resize(m_slabsUsed);
    m_records.shrink_to_fit();
}

void FrameStore::AddFrame()
{
    if (m_records.size() >= kMaxRecords) {
        ThrowOverflow("Overflow: the animation needs more than " +
                      std::to_string(kMaxRecords - 1) +
                      " frames (1 GiB); the frames after that are not loaded");
    }
    if (m_records.size() == m_records.capacity()) {
        m_records.reserve(2 * m_records.size());
    }
    FrameRecord* slot = NewSlot();
    std::memcpy(static_cast<void*>(slot), m_records.back(), sizeof(FrameRecord));
    m_records.push_back(slot);
}

const FrameRecord& FrameStore::at(std::size_t index) const
{
    if (index >= m_records.size()) {
        ThrowIndexOutOfRange("Index out of range: frame " + std::to_string(index) +
                             " of an animation with " + std::to_string(FrameCount()) +
                             (FrameCount() == 1 ? " frame" : " frames"));
    }
    return *m_records[index];
}

}  // namespace varek
