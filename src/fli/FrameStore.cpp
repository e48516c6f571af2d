#include "fli/FrameStore.h"

#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <type_traits>

#if defined(__linux__)
#include <sys/mman.h>
#endif

#include "util/Error.h"
#include "util/Text.h"

namespace varek {

static_assert(std::is_trivially_copyable_v<FrameRecord>);

namespace {

constexpr std::size_t kSlabBytes = FrameStore::kSlabBytes;
constexpr std::size_t kSlotsPerSlab = kSlabBytes / sizeof(FrameRecord);

#if defined(__linux__)
// Exactly one 2 MiB run of address space on a 2 MiB boundary, so the kernel can back
// it with one huge page: fewer, larger page faults while a load fills it. An aligned
// operator new would reserve nearly twice the space to find the boundary.
void* AllocateSlab()
{
    void* mapped =
        mmap(nullptr, 2 * kSlabBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) {
        throw std::bad_alloc();
    }
    auto* const base = static_cast<std::uint8_t*>(mapped);
    const auto address = reinterpret_cast<std::uintptr_t>(base);
    const std::size_t head = (kSlabBytes - address % kSlabBytes) % kSlabBytes;
    if (head > 0) {
        munmap(base, head);
    }
    munmap(base + head + kSlabBytes, kSlabBytes - head);
#if defined(MADV_HUGEPAGE)
    madvise(base + head, kSlabBytes, MADV_HUGEPAGE);  // a hint only
#endif
    return base + head;
}

void FreeSlab(void* slab) noexcept
{
    munmap(slab, kSlabBytes);
}
#else
void* AllocateSlab()
{
    return ::operator new (kSlabBytes, std::align_val_t{kSlabBytes});
}

void FreeSlab(void* slab) noexcept
{
    ::operator delete (slab, std::align_val_t{kSlabBytes});
}
#endif

}  // namespace

struct FrameStore::Slab {
    Slab() : memory(static_cast<FrameRecord*>(AllocateSlab())) {}
    ~Slab() { FreeSlab(memory); }
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

std::size_t FrameStore::HeldBytes() const noexcept
{
    return m_slabs.size() * kSlabBytes;
}

void FrameStore::ReleaseUnused()
{
    m_slabs.resize(m_slabsUsed);
    m_records.shrink_to_fit();
}

void FrameStore::AddFrame()
{
    if (m_records.size() >= kMaxRecords) {
        throw Error(ErrorKind::TooLarge,
                    "the animation needs more than " + std::to_string(kMaxRecords - 1) +
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
        throw Error(ErrorKind::NotFound, "there is no frame " + std::to_string(index) +
                                             " in an animation of " +
                                             Counted(FrameCount(), "frame", "frames"));
    }
    return *m_records[index];
}

}  // namespace varek
