// work_floor.exe <root>: the platform work of an install run and nothing else,
// written as plainly as possible: the same four shortcut saves, the toolbar
// list written, flushed and renamed into place in <root>, the same three
// environment writes and broadcasts. No release information, no privilege
// test, no path checks: what the installer costs beyond this is the cost of
// its own decisions.
#include <windows.h>
#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cstdio>
#include <cwchar>

namespace {

const CLSID kShellLinkClass = {0x00021401, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID kShellLinkInterface = {0x000214F9, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID kPersistFileInterface = {0x0000010B, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

const size_t kPathUnits = 1024;

void saveLink(const wchar_t* folder, const wchar_t* name, const wchar_t* root, const wchar_t* program)
{
    wchar_t linkPath[kPathUnits];
    wchar_t target[kPathUnits];
    swprintf(linkPath, kPathUnits, L"%ls\\%ls 1.lnk", folder, name);
    swprintf(target, kPathUnits, L"%ls\\%ls", root, program);
    IShellLinkW* link = nullptr;
    if (FAILED(CoCreateInstance(kShellLinkClass, nullptr, CLSCTX_INPROC_SERVER, kShellLinkInterface,
                                reinterpret_cast<void**>(&link))))
        return;
    link->SetPath(target);
    link->SetArguments(L"");
    link->SetWorkingDirectory(L"%HOMEDRIVE%%HOMEPATH%");
    link->SetDescription(L"Bench");
    link->SetIconLocation(target, 0);
    link->SetShowCmd(SW_SHOWNORMAL);
    IPersistFile* persist = nullptr;
    if (SUCCEEDED(link->QueryInterface(kPersistFileInterface, reinterpret_cast<void**>(&persist)))) {
        persist->Save(linkPath, TRUE);
        persist->Release();
    }
    link->Release();
}

void setVariable(const wchar_t* name, const wchar_t* value)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control\\Session Manager\\Environment", 0,
                      KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return;
    RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                   static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    SetEnvironmentVariableW(name, value);
    DWORD_PTR answer = 0;
    SendMessageTimeoutW(HWND_BROADCAST, WM_SETTINGCHANGE, RegisterWindowMessageW(L"Environment"),
                        reinterpret_cast<LPARAM>(L"Environment"), SMTO_NORMAL, 50, &answer);
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (arguments == nullptr || count < 2)
        return 2;
    const wchar_t* root = arguments[1];

    CoInitialize(nullptr);
    wchar_t programs[MAX_PATH + 1] = L"";
    SHGetSpecialFolderPathW(nullptr, programs, CSIDL_COMMON_PROGRAMS, FALSE);
    wchar_t folder[kPathUnits];
    wchar_t utilities[kPathUnits];
    swprintf(folder, kPathUnits, L"%ls\\NIMBA Bench Floor", programs);
    swprintf(utilities, kPathUnits, L"%ls\\Utilities", folder);
    CreateDirectoryW(folder, nullptr);
    CreateDirectoryW(utilities, nullptr);
    saveLink(folder, L"Uninstall NIMBA", root, L"Uninstall.exe");
    saveLink(utilities, L"Product & CAD Configuration", root, L"ProductConfig.exe");
    saveLink(utilities, L"CAD Configuration Manager", root, L"cad.exe");
    saveLink(utilities, L"File Association", root, L"fileassoc.exe");

    // The toolbar list: a unique pending file beside it, written, flushed and
    // renamed into place.
    wchar_t list[kPathUnits];
    wchar_t pending[kPathUnits];
    char lines[3 * kPathUnits];
    swprintf(list, kPathUnits, L"%ls\\tlbrlist182.qel", root);
    const int length = snprintf(lines, sizeof(lines), "%ls\\NIMBASTANDARD.TLB\r\n%ls\\NIMBAABBR.TLB\r\n"
                                "%ls\\NIMBAGRAPHICAL.TLB\r\n", root, root, root);
    if (GetTempFileNameW(root, L"tlb", 0, pending) != 0) {
        HANDLE file = CreateFileW(pending, GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                  nullptr);
        DWORD written = 0;
        WriteFile(file, lines, static_cast<DWORD>(length), &written, nullptr);
        FlushFileBuffers(file);
        CloseHandle(file);
        MoveFileExW(pending, list, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    }

    wchar_t productDir[kPathUnits];
    swprintf(productDir, kPathUnits, L"%ls\\NIMBA", root);
    setVariable(L"NIMBA_BENCH_SYSDIR", L"winx64");
    setVariable(L"NIMBA_BENCH_ROOT", root);
    setVariable(L"NIMBA_BENCH_DIR", productDir);
    LocalFree(arguments);
    return 0;
}
