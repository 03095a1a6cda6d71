#include <setup_support/processes.h>

#include <windows.h>
#include <tlhelp32.h>

#include <cwchar>

#include "owners.h"

namespace {

// Every right on a process, in the form that Windows versions before Vista
// also grant (their PROCESS_ALL_ACCESS lacks the newer bits).
const DWORD kAllProcessRights = STANDARD_RIGHTS_REQUIRED | SYNCHRONIZE | 0xFFF;

const int kMaxPolls = 30;
const DWORD kPollIntervalMs = 1000;

} // namespace

int terminateProcessesByName(const wchar_t* namePart)
{
    // The empty text is contained in every name: it would end every process
    // on the machine, the system's own services included.
    if (namePart == nullptr || namePart[0] == L'\0')
        return 0;

    const DWORD own = GetCurrentProcessId();
    UniqueFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot)
        return 0;

    int result = 1;
    PROCESSENTRY32W entry;
    ZeroMemory(&entry, sizeof(entry));
    entry.dwSize = sizeof(entry);
    for (BOOL listed = Process32FirstW(snapshot.get(), &entry); listed;
         listed = Process32NextW(snapshot.get(), &entry)) {
        if (entry.th32ProcessID == own || wcsstr(entry.szExeFile, namePart) == nullptr)
            continue;
        // A process that ended since the snapshot, or one the caller may not
        // touch, cannot be opened: it is no failure of ours.
        UniqueHandle process(OpenProcess(kAllProcessRights, FALSE, entry.th32ProcessID));
        if (!process)
            continue;
        if (!TerminateProcess(process.get(), 0))
            result = 0;
    }
    return result;
}

int runProcessAndWait(const wchar_t* applicationName, wchar_t* commandLine, int showWindow, int noWait)
{
    // An empty desktop name, unlike none, lets Windows choose the window
    // station by the program's logon session instead of handing down ours.
    wchar_t anyDesktop[] = L"";
    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof(startup));
    startup.cb = sizeof(startup);
    startup.lpDesktop = anyDesktop;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = static_cast<WORD>(showWindow);

    PROCESS_INFORMATION started;
    ZeroMemory(&started, sizeof(started));
    if (!CreateProcessW(applicationName, commandLine, nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS, nullptr,
                        nullptr, &startup, &started))
        return 0;
    // Declared in this order so that the process handle is closed first.
    UniqueHandle thread(started.hThread);
    UniqueHandle process(started.hProcess);
    if (noWait == 1)
        return 0;

    // Each poll reads the exit code after its second has passed, so that a
    // program that ends within that second costs one poll, not two.
    for (int poll = 1;; ++poll) {
        Sleep(kPollIntervalMs);
        if (poll == kMaxPolls) {
            TerminateProcess(process.get(), 0);
            break;
        }
        DWORD exitCode = STILL_ACTIVE;
        GetExitCodeProcess(process.get(), &exitCode);
        if (exitCode != STILL_ACTIVE)
            break;
    }
    return 0;
}
