// Starts a program as a non-administrator: the same user, with the
// BUILTIN\Administrators group made deny-only, as an unelevated administrator
// would run it. Waits for it and exits with its exit status (255 when it
// could not be started).
//
//   run_restricted.exe <program> [arguments...]

#include <windows.h>
#include <shlwapi.h>

#include <cwchar>

#include "owners.h"

int wmain()
{
    // Everything after our own path is the program's command line, as typed.
    UniqueString commandLine(joinStrings(1, PathGetArgsW(GetCommandLineW())));
    if (commandLine[0] == L'\0') {
        fwprintf(stderr, L"usage: run_restricted.exe <program> [arguments...]\n");
        return 255;
    }

    HANDLE rawToken = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, &rawToken))
        return 255;
    UniqueHandle token(rawToken);
    // Restrict the full token. Wine 10 marks a process started from Linux
    // "limited" and, when a program's manifest asks for highestAvailable,
    // swaps a limited token for its linked full one as the program starts,
    // even a token its caller passed (Windows never does). A token derived
    // from the full one keeps the program as restricted as we made it. On
    // Windows an elevated caller holds the full token already.
    TOKEN_ELEVATION_TYPE elevation = TokenElevationTypeDefault;
    DWORD size = 0;
    TOKEN_LINKED_TOKEN linked = {};
    HANDLE rawFull = nullptr;
    if (GetTokenInformation(token.get(), TokenElevationType, &elevation, sizeof(elevation), &size) &&
        elevation == TokenElevationTypeLimited &&
        GetTokenInformation(token.get(), TokenLinkedToken, &linked, sizeof(linked), &size)) {
        UniqueHandle linkedToken(linked.LinkedToken);
        if (DuplicateTokenEx(linkedToken.get(), TOKEN_ALL_ACCESS, nullptr, SecurityImpersonation, TokenPrimary,
                             &rawFull))
            token.reset(rawFull);
    }

    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    PSID rawSid = nullptr;
    if (!AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0,
                                  0, 0, 0, &rawSid))
        return 255;
    UniqueSid administrators(rawSid);

    SID_AND_ATTRIBUTES denyOnly = {administrators.get(), 0};
    HANDLE rawRestricted = nullptr;
    if (!CreateRestrictedToken(token.get(), 0, 1, &denyOnly, 0, nullptr, 0, nullptr, &rawRestricted))
        return 255;
    UniqueHandle restricted(rawRestricted);

    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof(startup));
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process;
    ZeroMemory(&process, sizeof(process));
    if (!CreateProcessAsUserW(restricted.get(), nullptr, commandLine.get(), nullptr, nullptr, FALSE, 0, nullptr,
                              nullptr, &startup, &process)) {
        fwprintf(stderr, L"run_restricted: cannot start (error %lu)\n", GetLastError());
        return 255;
    }
    UniqueHandle processHandle(process.hProcess);
    UniqueHandle threadHandle(process.hThread);
    WaitForSingleObject(processHandle.get(), INFINITE);
    DWORD exitCode = 255;
    GetExitCodeProcess(processHandle.get(), &exitCode);
    return static_cast<int>(exitCode);
}
