/* Stands in for a program of the real suite (ProductConfig.exe, fileassoc.exe)
 * so that every shortcut the sample makes leads to a file: it only says what
 * it stands for. An integrator's package ships the suite's own programs here. */
#include <windows.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, PWSTR arguments, int show)
{
    wchar_t path[MAX_PATH];
    wchar_t text[MAX_PATH + 128];

    (void)instance;
    (void)previous;
    (void)arguments;
    (void)show;
    if (GetModuleFileNameW(NULL, path, MAX_PATH) == 0)
        path[0] = L'\0';
    path[MAX_PATH - 1] = L'\0';
    wsprintfW(text, L"%s\n\nstands in for this program of the NIMBA suite in the sample package.", path);
    MessageBoxW(NULL, text, L"NIMBA Sample Suite 18.1", MB_OK | MB_ICONINFORMATION);
    return 0;
}
