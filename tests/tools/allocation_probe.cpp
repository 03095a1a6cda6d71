// allocation_probe.exe plain|nothrow: asks the library's allocation functions
// for more memory than any process can have. "plain" must end the run at once
// with status 3; "nothrow" exits with 0 when it was answered with null.

#include <cstddef>
#include <cwchar>
#include <new>

int wmain(int argc, wchar_t** argv)
{
    // More than half the address space: neither a 32-bit nor a 64-bit
    // process has that much in one piece (a quarter of it, 1 GiB, a 32-bit
    // process can get).
    volatile size_t impossible = (static_cast<size_t>(-1) >> 1) + 1;
    if (argc > 1 && wcscmp(argv[1], L"nothrow") == 0)
        return new (std::nothrow) char[impossible] == nullptr ? 0 : 1;
    volatile char* block = new char[impossible];
    block[0] = 1;
    return 1;
}
