// hung_windows.exe <count> <event name>: creates <count> top-level windows,
// signals the named event, and then never answers a message again, like a
// program that hangs. Every broadcast waits for each of them until it times out.
#include <windows.h>
#include <shellapi.h>

#include <cwchar>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int)
{
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (arguments == nullptr || count < 3)
        return 2;
    const int windows = _wtoi(arguments[1]);

    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = L"NimbaBenchHungWindow";
    RegisterClassW(&windowClass);
    for (int i = 0; i < windows; ++i)
        CreateWindowW(windowClass.lpszClassName, L"", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr, instance,
                      nullptr);

    HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, arguments[2]);
    if (ready != nullptr)
        SetEvent(ready);
    LocalFree(arguments);
    Sleep(INFINITE);
    return 0;
}
