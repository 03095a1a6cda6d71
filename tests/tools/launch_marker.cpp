// Writes what it was started with to a marker file, as UTF-16 lines: its
// command line, the start record's flags and show request (GetStartupInfoW),
// and "set" when it could signal the event whose handle value it was given
// (so the handle was inherited), else "unset".
//
//   launch_marker.exe <marker file> <event handle value>

#include <windows.h>

#include <cwchar>

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3)
        return 2;
    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof(startup));
    startup.cb = sizeof(startup);
    GetStartupInfoW(&startup);
    HANDLE event = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(std::wcstoull(argv[2], nullptr, 10)));
    const bool set = event != nullptr && SetEvent(event);

    wchar_t report[4096];
    const int length = std::swprintf(report, sizeof(report) / sizeof(report[0]), L"%ls\n%lu\n%u\n%ls\n",
                                     GetCommandLineW(), startup.dwFlags, startup.wShowWindow, set ? L"set" : L"unset");
    if (length < 0)
        return 2;
    // Written under another name and then renamed, so that a test watching
    // for the marker never reads half of it.
    wchar_t partial[MAX_PATH + 8];
    std::swprintf(partial, sizeof(partial) / sizeof(partial[0]), L"%ls.part", argv[1]);
    HANDLE marker = CreateFileW(partial, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (marker == INVALID_HANDLE_VALUE)
        return 2;
    DWORD written = 0;
    const BOOL complete = WriteFile(marker, report, static_cast<DWORD>(length * sizeof(wchar_t)), &written, nullptr);
    CloseHandle(marker);
    return complete && MoveFileExW(partial, argv[1], MOVEFILE_REPLACE_EXISTING) ? 0 : 2;
}
