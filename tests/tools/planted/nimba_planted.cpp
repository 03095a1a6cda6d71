// A DLL that the DLL-search tests plant beside a program, under a name the
// platform has no library of. Once loaded it leaves "<its own path>.loaded"
// and refuses to stay, so that whoever loaded it goes on as if it were missing.

#include <windows.h>

#include <string>

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID)
{
    if (reason != DLL_PROCESS_ATTACH)
        return TRUE;
    std::wstring marker(MAX_PATH + 1, L'\0');
    marker.resize(GetModuleFileNameW(module, &marker[0], static_cast<DWORD>(marker.size())));
    marker += L".loaded";
    HANDLE file = CreateFileW(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    return FALSE;
}
