#pragma once

// What the launching and process tests share: the test tools they start, the
// children they find by name and end, and a probe for leaked handles.

#include <windows.h>
#include <tlhelp32.h>

#include <optional>
#include <string>
#include <vector>

#include "test_support.h"

namespace unit {

// Wine now and then loses a child while its loader is still starting it: the
// start then fails with ERROR_INTERNAL_ERROR, about once in a few hundred
// starts when other Wine processes come and go. A test runs `start`, a step
// that starts a program, once more after such a loss; any other failure
// stands.
template <typename Start>
void retryingLostStart(Start start)
{
    for (int attempt = 0; attempt < 2; ++attempt) {
        SetLastError(ERROR_SUCCESS);
        start();
        if (GetLastError() != ERROR_INTERNAL_ERROR)
            return;
    }
}

// CreateProcessW with default security, flags, environment and folder, made
// once more when Wine lost the start.
inline BOOL startProgram(const wchar_t* application, wchar_t* commandLine, BOOL inheritHandles,
                         STARTUPINFOW* startup, PROCESS_INFORMATION* started)
{
    BOOL created = FALSE;
    retryingLostStart([&] {
        created = CreateProcessW(application, commandLine, nullptr, nullptr, inheritHandles, 0, nullptr, nullptr,
                                 startup, started);
    });
    return created;
}

// Starts a program, waits for it (30 seconds at most) and gives its exit
// status; nullopt when it did not start or did not end.
inline std::optional<DWORD> exitStatusOf(std::wstring commandLine, STARTUPINFOW* startup, BOOL inheritHandles)
{
    PROCESS_INFORMATION process = {};
    if (!startProgram(nullptr, &commandLine[0], inheritHandles, startup, &process))
        return std::nullopt;
    DWORD status = 0;
    const bool ended = WaitForSingleObject(process.hProcess, 30000) == WAIT_OBJECT_0 &&
                       GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return ended ? std::optional<DWORD>(status) : std::nullopt;
}

// Running children of this process whose executable file is `fileName`.
inline std::vector<DWORD> childProcessIds(const std::wstring& fileName)
{
    std::vector<DWORD> ids;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return ids;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL listed = Process32FirstW(snapshot, &entry); listed; listed = Process32NextW(snapshot, &entry))
        if (entry.th32ParentProcessID == GetCurrentProcessId() && _wcsicmp(entry.szExeFile, fileName.c_str()) == 0)
            ids.push_back(entry.th32ProcessID);
    CloseHandle(snapshot);
    return ids;
}

// Ends each of these processes and waits until it has gone.
inline void endProcesses(const std::vector<DWORD>& ids)
{
    for (DWORD id : ids) {
        HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id);
        if (process == nullptr)
            continue;
        TerminateProcess(process, 99);
        WaitForSingleObject(process, 5000);
        CloseHandle(process);
    }
}

} // namespace unit
