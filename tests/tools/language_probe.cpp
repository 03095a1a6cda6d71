// Writes the user's locale identifier in hexadecimal, the locale's language
// index and the language index getLanguageIndex decides to a report file,
// then sets a named event. The user locale is fixed at process start from the
// Unix LC_ALL, so the tests start this program through the Wine loader, which
// gives no process handle to wait on: the event says the report is complete.
//
//   language_probe.exe <report file> <event name> <store 0|1> <installation root> <APPDATA>

#include <windows.h>

#include <cstdio>
#include <cwchar>

#include <setup_support/language.h>

int wmain(int argc, wchar_t** argv)
{
    if (argc != 6) {
        std::fprintf(stderr, "usage: language_probe.exe <report> <event> <store 0|1> <root> <APPDATA>\n");
        return 2;
    }
    // Wine sets APPDATA to the profile's folder at every start from Unix.
    SetEnvironmentVariableW(L"APPDATA", argv[5]);
    const int store = static_cast<int>(std::wcstol(argv[3], nullptr, 10));
    FILE* report = _wfopen(argv[1], L"w");
    if (report != nullptr) {
        std::fprintf(report, "%04lx %d %d", static_cast<unsigned long>(GetUserDefaultLCID()), getLocaleLanguage(),
                     getLanguageIndex(store, argv[4]));
        std::fclose(report);
    }
    if (HANDLE done = OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[2])) {
        SetEvent(done);
        CloseHandle(done);
    }
    return report != nullptr ? 0 : 1;
}
