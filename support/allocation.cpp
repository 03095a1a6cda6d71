// Where the programs' memory comes from, for their own code and the library
// they carry alike (target setup_out_of_memory, which setup_support never
// holds: other tools keep their own allocation functions). Running out of it
// ends the run at once, with the status an uncaught allocation failure gives
// (3), and without a message: the programs have no window and nothing to save.
// Defining the allocation functions here keeps the C++ exception runtime out of
// the programs; the non-throwing forms still answer null.

#include <windows.h>

#include <cstdlib>
#include <new>

namespace {

const UINT kOutOfMemoryStatus = 3;

void* allocateOrNull(std::size_t size)
{
    // A request of no bytes still yields a distinct block, as the language asks.
    return std::malloc(size != 0 ? size : 1);
}

void* allocateOrEndRun(std::size_t size)
{
    void* block = allocateOrNull(size);
    if (block == nullptr) {
        TerminateProcess(GetCurrentProcess(), kOutOfMemoryStatus);
        ExitProcess(kOutOfMemoryStatus);
    }
    return block;
}

} // namespace

void* operator new(std::size_t size)
{
    return allocateOrEndRun(size);
}

void* operator new[](std::size_t size)
{
    return allocateOrEndRun(size);
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    return allocateOrNull(size);
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept
{
    return allocateOrNull(size);
}

void operator delete(void* block) noexcept
{
    std::free(block);
}

void operator delete[](void* block) noexcept
{
    std::free(block);
}

void operator delete(void* block, std::size_t) noexcept
{
    std::free(block);
}

void operator delete[](void* block, std::size_t) noexcept
{
    std::free(block);
}

void operator delete(void* block, const std::nothrow_t&) noexcept
{
    std::free(block);
}

void operator delete[](void* block, const std::nothrow_t&) noexcept
{
    std::free(block);
}
