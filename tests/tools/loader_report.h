#pragma once

// How a probe started through the Wine loader hands back its report: the
// loader gives the test no process handle, so the probe writes the report
// file and then sets the test's event.

#include <windows.h>

#include <cstdio>
#include <string>

// Writes `report` (UTF-16, no terminator) to `path` and sets the event named
// `eventName`; true when the file was written.
inline bool writeLoaderReport(const wchar_t* path, const wchar_t* eventName, const std::wstring& report)
{
    FILE* file = _wfopen(path, L"wb");
    if (file != nullptr) {
        std::fwrite(report.data(), sizeof(wchar_t), report.size(), file);
        std::fclose(file);
    }
    if (HANDLE done = OpenEventW(EVENT_MODIFY_STATE, FALSE, eventName)) {
        SetEvent(done);
        CloseHandle(done);
    }
    return file != nullptr;
}
