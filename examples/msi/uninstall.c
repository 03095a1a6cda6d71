/* Uninstall.exe of the sample suite: the target of the "Uninstall NIMBA"
 * shortcut, installed at the installation root. It starts Windows Installer's
 * uninstall of the product that installed this very folder and returns at
 * once, so that its own file is not in use when the uninstall deletes it.
 *
 * The package writes its product code and installation folder below
 * HKLM (per machine) or HKCU (per user) "Software\NIMBA Sample\NIMBA Sample
 * Suite 18.1"; both may exist when both packages are installed, so the entry
 * whose folder is this program's own wins. Arguments are handed on to
 * msiexec: "Uninstall.exe /qn" removes the suite without a window. */
#include <windows.h>
#include <wchar.h>

#define PRODUCT_KEY L"Software\\NIMBA Sample\\NIMBA Sample Suite 18.1"
#define PRODUCT_NAME L"NIMBA Sample Suite 18.1"

/* Cuts a trailing backslash, so that "C:\x\" and "C:\x" compare equal. */
static void cutTrailingBackslash(wchar_t* path)
{
    size_t length = wcslen(path);
    if (length > 0 && path[length - 1] == L'\\')
        path[length - 1] = L'\0';
}

/* Reads one string value of the product key below root; 0 when absent. */
static int readProductValue(HKEY root, const wchar_t* name, wchar_t* value, DWORD capacity)
{
    DWORD size = capacity * (DWORD)sizeof(wchar_t);
    return RegGetValueW(root, PRODUCT_KEY, name, RRF_RT_REG_SZ, NULL, value, &size) == ERROR_SUCCESS;
}

/* The product code of the installation in folder, from the user's entry or
 * the machine's; 0 when neither names this folder. */
static int findProductCode(const wchar_t* folder, wchar_t* productCode, DWORD capacity)
{
    static const HKEY roots[] = { HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE };
    wchar_t installFolder[MAX_PATH];
    size_t i;

    for (i = 0; i < sizeof(roots) / sizeof(roots[0]); ++i) {
        if (!readProductValue(roots[i], L"InstallFolder", installFolder, MAX_PATH))
            continue;
        cutTrailingBackslash(installFolder);
        /* Paths compare without regard to case, as the file system does. */
        if (CompareStringOrdinal(installFolder, -1, folder, -1, TRUE) == CSTR_EQUAL &&
            readProductValue(roots[i], L"ProductCode", productCode, capacity))
            return 1;
    }
    return 0;
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, PWSTR arguments, int show)
{
    wchar_t folder[MAX_PATH];
    wchar_t productCode[64];
    wchar_t system[MAX_PATH];
    wchar_t commandLine[2 * MAX_PATH];
    STARTUPINFOW startup;
    PROCESS_INFORMATION process;
    DWORD length;
    wchar_t* name;

    (void)instance;
    (void)previous;
    (void)show;
    length = GetModuleFileNameW(NULL, folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return ERROR_FILENAME_EXCED_RANGE;
    name = wcsrchr(folder, L'\\');
    if (name != NULL)
        *name = L'\0';

    if (!findProductCode(folder, productCode, sizeof(productCode) / sizeof(productCode[0]))) {
        /* Started from the shortcut: tell the user; with arguments (a
         * deployment tool) the exit code alone tells. */
        if (arguments[0] == L'\0')
            MessageBoxW(NULL, L"No installation of " PRODUCT_NAME L" is registered for this folder. "
                        L"Remove it from Programs and Features.", PRODUCT_NAME, MB_OK | MB_ICONERROR);
        return ERROR_UNKNOWN_PRODUCT;
    }

    /* msiexec by its full path: a program of that name planted in the
     * current folder or on PATH must never run instead. */
    length = GetSystemDirectoryW(system, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return ERROR_FILENAME_EXCED_RANGE;
    if (_snwprintf(commandLine, sizeof(commandLine) / sizeof(commandLine[0]), L"\"%ls\\msiexec.exe\" /x %ls %ls",
                   system, productCode, arguments) < 0)
        return ERROR_FILENAME_EXCED_RANGE;
    commandLine[sizeof(commandLine) / sizeof(commandLine[0]) - 1] = L'\0';

    /* msiexec asks for elevation itself where the product needs it; this
     * program runs as invoked (its manifest), so CreateProcess cannot meet
     * ERROR_ELEVATION_REQUIRED. */
    ZeroMemory(&startup, sizeof(startup));
    startup.cb = sizeof(startup);
    if (!CreateProcessW(NULL, commandLine, NULL, NULL, FALSE, 0, NULL, system, &startup, &process))
        return (int)GetLastError();
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return 0;
}
