// Writes the ANSI code page it runs under and the texts loadResourceText
// gives for string-table entries of another module to a report file, as
// UTF-16 lines, then sets a named event. The ANSI code page is fixed at
// process start from the Unix LC_ALL, so the tests start this program through
// the Wine loader, which gives no process handle to wait on: the event says
// the report is complete.
//
//   resource_text_probe.exe <report file> <event name> <module file> <string id>...

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include <setup_support/dialog_texts.h>

#include "loader_report.h"

int wmain(int argc, wchar_t** argv)
{
    if (argc < 5) {
        std::fprintf(stderr, "usage: resource_text_probe.exe <report> <event> <module> <string id>...\n");
        return 2;
    }
    // Only the string table is wanted: the module is never run.
    HMODULE module = LoadLibraryExW(argv[3], nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    std::wstring report = std::to_wstring(GetACP()) + L"\n";
    for (int argument = 4; module != nullptr && argument < argc; ++argument) {
        const int stringId = static_cast<int>(std::wcstol(argv[argument], nullptr, 10));
        const int count = loadResourceText(stringId, module, 0, nullptr, 0);
        std::vector<wchar_t> text(count, L'\0');
        loadResourceText(stringId, module, 0, text.data(), count);
        report += std::wstring(text.data()) + L"\n";
    }
    const bool written = writeLoaderReport(argv[1], argv[2], report);
    return written && module != nullptr ? 0 : 1;
}
