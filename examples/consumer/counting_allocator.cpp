// The tool's own allocation functions, which the library's calls use too: they
// count the blocks in use and, when asked, refuse one allocation with
// std::bad_alloc, as an allocator whose memory ran out does.

#include <cstdlib>
#include <new>

#include "counting_allocator.h"

namespace {

long liveBlocks = 0;
long allocationsUntilRefusal = 0; // 0: never refuse

void* allocate(std::size_t size)
{
    if (allocationsUntilRefusal > 0 && --allocationsUntilRefusal == 0)
        throw std::bad_alloc();
    void* block = std::malloc(size != 0 ? size : 1);
    if (block == nullptr)
        throw std::bad_alloc();
    ++liveBlocks;
    return block;
}

void release(void* block) noexcept
{
    if (block == nullptr)
        return;
    --liveBlocks;
    std::free(block);
}

} // namespace

long countLiveBlocks()
{
    return liveBlocks;
}

void refuseAllocation(long nth)
{
    allocationsUntilRefusal = nth;
}

bool isRefusalPending()
{
    return allocationsUntilRefusal > 0;
}

void* operator new(std::size_t size)
{
    return allocate(size);
}

void* operator new[](std::size_t size)
{
    return allocate(size);
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    try {
        return allocate(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept
{
    return operator new(size, std::nothrow);
}

void operator delete(void* block) noexcept
{
    release(block);
}

void operator delete[](void* block) noexcept
{
    release(block);
}

void operator delete(void* block, std::size_t) noexcept
{
    release(block);
}

void operator delete[](void* block, std::size_t) noexcept
{
    release(block);
}
