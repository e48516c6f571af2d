#include "fli/FrameStore.h"

#include <cstdint>
#include <cstring>
#include <new>
#include <string>

#if defined(__linux__)
#include <sys/mman.h>
#endif

#include "util/Error.h"
#include "util/Text.h"

namespace varek {

namespace {

constexpr std::size_t kHugePage = FrameStore::kSlabBytes;

std::size_t PixelBytes(std::int32_t width, std::int32_t height)
{
    return static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
}

// A slab holds whole records' pixels: at least kSlabBytes, or one record of more.
std::size_t SlabBytesFor(std::size_t pixelBytes)
{
    return (std::max(pixelBytes, kHugePage) + kHugePage - 1) / kHugePage * kHugePage;
}

#if defined(__linux__)
// Exactly one run of address space on a 2 MiB boundary, so the kernel can back it
// with huge pages: fewer, larger page faults while a load fills it. An aligned
// operator new would reserve nearly twice the space to find the boundary.
void* AllocateSlab(std::size_t bytes)
{
    void* mapped = mmap(nullptr, bytes + kHugePage, PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) {
        throw std::bad_alloc();
    }
    auto* const base = static_cast<std::uint8_t*>(mapped);
    const auto address = reinterpret_cast<std::uintptr_t>(base);
    const std::size_t head = (kHugePage - address % kHugePage) % kHugePage;
    if (head > 0) {
        munmap(base, head);
    }
    munmap(base + head + bytes, kHugePage - head);
#if defined(MADV_HUGEPAGE)
    madvise(base + head, bytes, MADV_HUGEPAGE);  // a hint only
#endif
    return base + head;
}

void FreeSlab(void* slab, std::size_t bytes) noexcept
{
    munmap(slab, bytes);
}
#else
void* AllocateSlab(std::size_t bytes)
{
    return ::operator new (bytes, std::align_val_t{kHugePage});
}

void FreeSlab(void* slab, std::size_t) noexcept
{
    ::operator delete (slab, std::align_val_t{kHugePage});
}
#endif

}  // namespace

struct FrameStore::Slab {
    explicit Slab(std::size_t size)
        : bytes(size), memory(static_cast<std::uint8_t*>(AllocateSlab(size)))
    {
    }
    ~Slab() { FreeSlab(memory, bytes); }
    Slab(const Slab&) = delete;
    Slab& operator=(const Slab&) = delete;

    std::size_t bytes;
    std::uint8_t* memory;
};

FrameStore::FrameStore()
{
    Reset();
}

FrameStore::~FrameStore() = default;
FrameStore::FrameStore(FrameStore&&) noexcept = default;
FrameStore& FrameStore::operator=(FrameStore&&) noexcept = default;

std::size_t FrameStore::MaxRecords(std::int32_t width, std::int32_t height) noexcept
{
    const std::size_t pixels = std::max<std::size_t>(PixelBytes(width, height), 1);
    const std::size_t slab = SlabBytesFor(pixels);
    const std::size_t perSlab = slab / pixels;
    const std::size_t wholeSlabs = kMaxBytes / (slab + perSlab * sizeof(FrameRecord));
    if (wholeSlabs > 0) {
        return wholeSlabs * perSlab;
    }
    // Frames so small that the records of one slab's pixels alone pass the bound:
    // the records decide, within the one slab.
    return std::min(perSlab, kMaxBytes / (pixels + sizeof(FrameRecord)));
}

std::uint8_t* FrameStore::NewPixels()
{
    const std::size_t pixels = std::max<std::size_t>(PixelBytes(m_width, m_height), 1);
    const std::size_t slab = SlabBytesFor(pixels);
    if (m_slabsUsed == 0 || (m_slotsUsed + 1) * pixels > slab) {
        if (m_slabsUsed == m_slabs.size()) {
            m_slabs.push_back(std::make_unique<Slab>(slab));
        }
        ++m_slabsUsed;
        m_slotsUsed = 0;
    }
    return m_slabs[m_slabsUsed - 1]->memory + pixels * m_slotsUsed++;
}

void FrameStore::Reset(std::int32_t width, std::int32_t height)
{
    if (width != m_width || height != m_height) {
        m_records.clear();
        m_slabs.clear();
        m_width = width;
        m_height = height;
    }
    if (m_records.empty()) {
        m_slabsUsed = 0;
        m_slotsUsed = 0;
        FrameRecord& first = m_records.emplace_back();
        first.Width = width;
        first.Height = height;
        first.Pixels = PixelBuffer(NewPixels(), PixelBytes(width, height));
    }
    FrameRecord& first = m_records.front();
    std::fill(first.Pixels.begin(), first.Pixels.end(), std::uint8_t{0});
    first.Colors = Palette{};
    m_used = 1;
}

std::size_t FrameStore::HeldBytes() const noexcept
{
    std::size_t bytes = 0;
    for (const auto& slab : m_slabs) {
        bytes += slab->bytes;
    }
    return bytes;
}

void FrameStore::ReleaseUnused()
{
    m_records.resize(m_used);
    m_records.shrink_to_fit();
    // The slabs of the records kept, in the order they were carved.
    const std::size_t pixels = std::max<std::size_t>(PixelBytes(m_width, m_height), 1);
    const std::size_t perSlab = SlabBytesFor(pixels) / pixels;
    const std::size_t slabsKept = (m_used + perSlab - 1) / perSlab;
    m_slabs.resize(slabsKept);
    m_slabsUsed = slabsKept;
    m_slotsUsed = m_used - (slabsKept - 1) * perSlab;
}

void FrameStore::AddFrame()
{
    if (m_used >= MaxRecords()) {
        throw Error(ErrorKind::TooLarge,
                    "the animation needs more than " + std::to_string(MaxRecords() - 1) +
                        " frames (1 GiB); the frames after that are not loaded");
    }
    if (m_used == m_records.size()) {
        FrameRecord& added = m_records.emplace_back();
        added.Width = m_width;
        added.Height = m_height;
        added.Pixels = PixelBuffer(NewPixels(), PixelBytes(m_width, m_height));
    }
    FrameRecord& added = m_records[m_used];
    const FrameRecord& newest = m_records[m_used - 1];
    std::memcpy(added.Pixels.data(), newest.Pixels.data(), newest.Pixels.size());
    added.Colors = newest.Colors;
    ++m_used;
}

const FrameRecord& FrameStore::at(std::size_t index) const
{
    if (index >= m_used) {
        throw Error(ErrorKind::NotFound, "there is no frame " + std::to_string(index) +
                                             " in an animation of " +
                                             Counted(FrameCount(), "frame", "frames"));
    }
    return m_records[index];
}

}  // namespace varek
