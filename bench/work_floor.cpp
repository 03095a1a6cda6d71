// work_floor.exe <root>: the platform work of an install run of the suite at
// <root> and nothing else, written as plainly as possible: the same four
// shortcut saves (into a Start Menu folder of its own), the toolbar list
// written, flushed and renamed into place, the same three environment writes
// and broadcasts. No release information, no privilege
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

// One shortcut, quoted target and all, as the installer writes it.
void saveLink(const wchar_t* folder, const wchar_t* name, const wchar_t* root, const wchar_t* program,
              const wchar_t* description)
{
    wchar_t linkPath[kPathUnits];
    wchar_t target[kPathUnits];
    wchar_t icon[kPathUnits];
    swprintf(linkPath, kPathUnits, L"%ls\\%ls 1.lnk", folder, name);
    swprintf(target, kPathUnits, L"\"%ls\\%ls\"", root, program);
    swprintf(icon, kPathUnits, L"%ls\\%ls", root, program);
    IShellLinkW* link = nullptr;
    if (FAILED(CoCreateInstance(kShellLinkClass, nullptr, CLSCTX_INPROC_SERVER, kShellLinkInterface,
                                reinterpret_cast<void**>(&link))))
        return;
    link->SetPath(target);
    link->SetArguments(L"");
    link->SetWorkingDirectory(L"%HOMEDRIVE%%HOMEPATH%");
    link->SetDescription(description);
    link->SetIconLocation(icon, 0);
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
    saveLink(folder, L"Uninstall NIMBA", root, L"Uninstall.exe", L"Uninstall Products");
    saveLink(utilities, L"Product & CAD Configuration", root, L"ProductConfig.exe",
             L"NIMBA Product & CAD Configuration");
    saveLink(utilities, L"CAD Configuration Manager", root,
             L"commonfiles\\CAD\\bin\\winx64\\Qel.CadInt.CADConfigUtilityGUI.exe", L"CAD Configuration Manager");
    saveLink(utilities, L"File Association", root, L"commonfiles\\tools\\winx64\\fileassoc.exe",
             L"NIMBA File Association");

    // The toolbar list: a unique pending file beside it, written, flushed and
    // renamed into place.
    wchar_t list[kPathUnits];
    wchar_t pending[kPathUnits];
    char lines[3 * kPathUnits];
    wchar_t toolbars[kPathUnits];
    swprintf(toolbars, kPathUnits, L"%ls\\NIMBA\\gui\\en-us\\toolbars", root);
    swprintf(list, kPathUnits, L"%ls\\tlbrlist182.qel", toolbars);
    const int length = snprintf(lines, sizeof(lines),
                                "%ls\\nimba\\gui\\en-us\\toolbars\\NIMBASTANDARD.TLB\r\n"
                                "%ls\\nimba\\gui\\en-us\\toolbars\\NIMBAABBR.TLB\r\n"
                                "%ls\\nimba\\gui\\en-us\\toolbars\\NIMBAGRAPHICAL.TLB\r\n",
                                root, root, root);
    if (GetTempFileNameW(toolbars, L"tlb", 0, pending) != 0) {
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
