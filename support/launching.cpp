#include <setup_support/launching.h>

#include <windows.h>
#include <shellapi.h>

#include "owners.h"

namespace {

const wchar_t kOpenVerb[] = L"open";

// A setup step runs unattended: the shell reports a refusal through its
// result, never through an error box that would wait for a user.
BOOL executeThroughShell(SHELLEXECUTEINFOW* launch, ULONG mask, const wchar_t* verb, const wchar_t* file,
                         const wchar_t* parameters, int showCommand)
{
    ZeroMemory(launch, sizeof(*launch));
    launch->cbSize = sizeof(*launch);
    launch->fMask = mask | SEE_MASK_FLAG_NO_UI;
    launch->lpVerb = verb;
    launch->lpFile = file;
    launch->lpParameters = parameters;
    launch->nShow = showCommand & 0xFFFF;
    return ShellExecuteExW(launch);
}

// The started program gets a hidden main window and every inheritable handle.
BOOL startHidden(wchar_t* commandLine, DWORD creationFlags, PROCESS_INFORMATION* started)
{
    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof(startup));
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    ZeroMemory(started, sizeof(*started));
    return CreateProcessW(nullptr, commandLine, nullptr, nullptr, TRUE, creationFlags, nullptr, nullptr, &startup,
                          started);
}

} // namespace

int shellExecuteAndWait(const wchar_t* file, const wchar_t* parameters, int showCommand)
{
    SHELLEXECUTEINFOW launch;
    const BOOL executed = executeThroughShell(&launch, SEE_MASK_NOCLOSEPROCESS, nullptr, file, parameters, showCommand);
    if (!executed)
        return 0;
    // The shell may hand a request to a program already running and start no
    // process: then there is nothing to wait for.
    UniqueHandle process(launch.hProcess);
    if (process)
        WaitForSingleObject(process.get(), INFINITE);
    return executed;
}

int shellOpen(const wchar_t* file, const wchar_t* parameters, int showCommand)
{
    SHELLEXECUTEINFOW launch;
    return executeThroughShell(&launch, 0, kOpenVerb, file, parameters, showCommand);
}

void runHiddenAndWait(wchar_t* commandLine)
{
    PROCESS_INFORMATION started;
    if (!startHidden(commandLine, 0, &started))
        return;
    // Declared in this order so that the thread handle is closed first.
    UniqueHandle process(started.hProcess);
    UniqueHandle thread(started.hThread);
    WaitForSingleObject(process.get(), INFINITE);
}

void runHiddenDetached(wchar_t* commandLine)
{
    PROCESS_INFORMATION started;
    if (!startHidden(commandLine, CREATE_NEW_PROCESS_GROUP, &started))
        return;
    // Nothing is kept: the program is not ours to watch.
    UniqueHandle process(started.hProcess);
    UniqueHandle thread(started.hThread);
}
