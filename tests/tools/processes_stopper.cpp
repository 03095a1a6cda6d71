// Ends other processes by name through the library, as a caller that its own
// name part matches. Exits with 10 plus terminateProcessesByName's answer, so
// a caller that ended itself (exit code 0) shows. As "wait", it is an
// instance to be ended: it sleeps for at most that many seconds and then
// exits with 3.
//
//   processes_stopper.exe stop <name part>
//   processes_stopper.exe wait <seconds>

#include <windows.h>

#include <cwchar>

#include <setup_support/processes.h>

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3)
        return 2;
    if (std::wcscmp(argv[1], L"stop") == 0)
        return 10 + terminateProcessesByName(argv[2]);
    Sleep(std::wcstoul(argv[2], nullptr, 10) * 1000);
    return 3;
}
