// Writes what the platform probes find for this program to a report file
// (UTF-16, no byte-order mark): the nine edition flags as digits in their
// order, a line end, then getModuleFilePath's results for the size query, a
// buffer one unit short and the fill call, and the path it copied, separated
// by blanks; then sets the named event. Lets the tests run
// the probes under the Windows version Wine reports for this file name, and
// from a path longer than Wine's process creation accepts (started through
// the Wine loader, which gives no process handle to wait on).
//
//   platform_probe.exe <report file> <event name>

#include <windows.h>

#include <cstdio>
#include <string>

#include <setup_support/platform.h>

#include "loader_report.h"

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: platform_probe.exe <report file> <event name>\n");
        return 2;
    }
    WindowsEditionFlags flags;
    detectWindowsEdition(&flags);
    std::wstring report;
    const unsigned char* flag = reinterpret_cast<const unsigned char*>(&flags);
    for (size_t i = 0; i < sizeof(flags); ++i)
        report += std::to_wstring(flag[i]);

    const int needed = getModuleFilePath(nullptr, 0);
    std::wstring path(needed, L'\0');
    const int oneShort = getModuleFilePath(&path[0], needed - 1);
    const int filled = getModuleFilePath(&path[0], needed);
    report += L"\n" + std::to_wstring(needed) + L" " + std::to_wstring(oneShort) + L" " + std::to_wstring(filled) +
              L" " + path.c_str();

    const bool written = writeLoaderReport(argv[1], argv[2], report);
    return written ? 0 : 1;
}
