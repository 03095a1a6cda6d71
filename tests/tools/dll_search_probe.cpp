// dll_search_probe.exe open|restricted: loads nimba_planted.dll by bare name,
// after restricting the DLL search first when asked to. Exit status: the
// load's error (126 not found; 1114 when the planted DLL was found, which
// refuses to stay), 0 when it loaded, 2 on misuse, 3 when the restriction
// was not made.

#include <windows.h>

#include <cwchar>

#include <setup_support/dll_search.h>

int wmain(int argc, wchar_t** argv)
{
    if (argc != 2 || (wcscmp(argv[1], L"open") != 0 && wcscmp(argv[1], L"restricted") != 0))
        return 2;
    if (wcscmp(argv[1], L"restricted") == 0 && restrictDllSearchToSystemFolder() != 1)
        return 3;
    HMODULE planted = LoadLibraryW(L"nimba_planted.dll");
    if (planted == nullptr)
        return static_cast<int>(GetLastError());
    FreeLibrary(planted);
    return 0;
}
