#include "AllocationCounter.h"

#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <new>

// Every operator new of this test program goes through here, so the peak of the
// bytes held can be read around a call.

namespace {

std::atomic<std::size_t> g_current{0};
std::atomic<std::size_t> g_peak{0};

void* Counted(void* memory)
{
    if (memory == nullptr) {
        throw std::bad_alloc();
    }
    const std::size_t now = g_current += malloc_usable_size(memory);
    std::size_t peak = g_peak.load();
    while (now > peak && !g_peak.compare_exchange_weak(peak, now)) {
    }
    return memory;
}

void Release(void* memory) noexcept
{
    if (memory != nullptr) {
        g_current -= malloc_usable_size(memory);
        std::free(memory);
    }
}

}  // namespace

namespace varek::test {

std::size_t AllocatedBytes()
{
    return g_current.load();
}

void ResetPeak()
{
    g_peak = g_current.load();
}

std::size_t PeakBytes()
{
    return g_peak.load();
}

}  // namespace varek::test

void* operator new(std::size_t size)
{
    return Counted(std::malloc(size == 0 ? 1 : size));
}
void* operator new[](std::size_t size)
{
    return Counted(std::malloc(size == 0 ? 1 : size));
}
void* operator new(std::size_t size, std::align_val_t alignment)
{
    const auto align = static_cast<std::size_t>(alignment);
    return Counted(std::aligned_alloc(align, (size + align - 1) / align * align));
}
void* operator new[](std::size_t size, std::align_val_t alignment)
{
    return operator new(size, alignment);
}
void operator delete(void* memory) noexcept
{
    Release(memory);
}
void operator delete[](void* memory) noexcept
{
    Release(memory);
}
void operator delete(void* memory, std::size_t) noexcept
{
    Release(memory);
}
void operator delete[](void* memory, std::size_t) noexcept
{
    Release(memory);
}
void operator delete(void* memory, std::align_val_t) noexcept
{
    Release(memory);
}
void operator delete[](void* memory, std::align_val_t) noexcept
{
    Release(memory);
}
void operator delete(void* memory, std::size_t, std::align_val_t) noexcept
{
    Release(memory);
}
void operator delete[](void* memory, std::size_t, std::align_val_t) noexcept
{
    Release(memory);
}
