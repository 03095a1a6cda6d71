#include <setup_support/dll_search.h>

#include <windows.h>

namespace {

using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);

// Older headers lack the flag; the platform's value.
const DWORD kSearchSystemFolderOnly = 0x00000800; // LOAD_LIBRARY_SEARCH_SYSTEM32

} // namespace

int restrictDllSearchToSystemFolder()
{
    // Resolved at run time: Windows Vista and 7 have the call only with their
    // update, and a program importing it would not start without.
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    FARPROC address = kernel != nullptr ? GetProcAddress(kernel, "SetDefaultDllDirectories") : nullptr;
    if (address != nullptr) {
        auto setDefaultDllDirectories =
            reinterpret_cast<SetDefaultDllDirectoriesFunction>(reinterpret_cast<void*>(address));
        if (setDefaultDllDirectories(kSearchSystemFolderOnly))
            return 1;
    }
    // The program's own folder stays in the search here; the current folder,
    // which a caller may have chosen anywhere, goes.
    SetDllDirectoryW(L"");
    return 0;
}
