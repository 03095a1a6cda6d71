// Sleeps until it is terminated, for at most the given number of seconds, so
// that a failed test leaves nothing running for long. Ending by itself, it
// exits with 3: a terminated sleeper tells by its exit code who ended it.
//
//   processes_sleeper.exe <seconds>

#include <windows.h>

#include <cwchar>

int wmain(int argc, wchar_t** argv)
{
    const unsigned long seconds = argc > 1 ? std::wcstoul(argv[1], nullptr, 10) : 0;
    Sleep(seconds * 1000);
    return 3;
}
