#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include <setup_support/processes.h>

#include "child_processes.h"
#include "test_support.h"

namespace {

// Starts processes_stopper.exe with `arguments`; its process handle.
HANDLE startStopper(const std::wstring& arguments)
{
    std::wstring commandLine = L"\"" + unit::toolPath(L"processes_stopper") + L"\" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started = {};
    if (!unit::startProgram(nullptr, &commandLine[0], FALSE, &startup, &started))
        return nullptr;
    CloseHandle(started.hThread);
    return started.hProcess;
}

// The exit code of a process given `waitMs` to end, which is then ended
// with 99 if it still runs.
DWORD exitCodeAfter(HANDLE process, DWORD waitMs)
{
    if (WaitForSingleObject(process, waitMs) == WAIT_TIMEOUT)
        TerminateProcess(process, 99);
    WaitForSingleObject(process, 5000);
    DWORD exitCode = STILL_ACTIVE;
    GetExitCodeProcess(process, &exitCode);
    CloseHandle(process);
    return exitCode;
}

// terminateProcessesByName called by this test program, or by a stopper
// whose own name the part matches: a call that ended its own caller would end
// this program with exit code 0, which passes unseen. An empty part, which a
// faulty call would match everywhere, is tried here, where the caller is
// spared and the failure shows.
int terminateFrom(bool stopper, const wchar_t* namePart)
{
    if (!stopper)
        return terminateProcessesByName(namePart);
    return static_cast<int>(exitCodeAfter(startStopper(L"stop " + std::wstring(namePart)), 10000)) - 10;
}

TEST(TerminateProcessesByName, EndsOtherMatchingProcessesCaseSensitively)
{
    struct Row {
        bool stopper;
        const wchar_t* namePart;
        int result;
        bool terminated;
    };
    const Row rows[] = {
        {true, L"processes_stop", 1, true},
        {false, L"_stopper", 1, true},
        {false, L"PROCESSES_STOP", 1, false},
        {false, L"no_such_program_part", 1, false},
        {false, L"", 0, false},
        {false, nullptr, 0, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.namePart == nullptr ? L"(null)" : row.namePart);
        // Two instances of the stopper's own executable, to be ended or not.
        const HANDLE waiting[] = {startStopper(L"wait 30"), startStopper(L"wait 30")};
        ASSERT_NE(nullptr, waiting[0]);
        ASSERT_NE(nullptr, waiting[1]);
        EXPECT_EQ(row.result, terminateFrom(row.stopper, row.namePart));
        for (HANDLE instance : waiting)
            EXPECT_EQ(row.terminated ? 0u : 99u, exitCodeAfter(instance, row.terminated ? 5000 : 0));
    }
}

// Seconds since an earlier GetTickCount64 reading.
double secondsSince(ULONGLONG start)
{
    return static_cast<double>(GetTickCount64() - start) / 1000.0;
}

// A program that ends at once costs one poll of a second; noWait 1 alone
// returns at once, leaving the program running; a program that cannot be
// started is not waited for. No row leaves a handle open.
TEST(RunProcessAndWait, PollsOnceASecondUntilTheProgramEnds)
{
    struct Row {
        const wchar_t* tool;
        const wchar_t* arguments;
        int noWait;
        double fromSeconds;
        double belowSeconds;
        bool stillRunning;
    };
    const Row rows[] = {
        {L"exits_at_once", L"", 0, 1.0, 1.9, false},
        {L"exits_at_once", L"", 2, 1.0, 1.9, false},
        {L"processes_sleeper", L" 20", 1, 0.0, 0.9, true},
        {L"no_such_tool", L"", 0, 0.0, 0.9, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::wstring(row.tool) + L" noWait " + std::to_wstring(row.noWait));
        const std::wstring program = unit::toolPath(row.tool);
        std::wstring commandLine = L"\"" + program + L"\"" + row.arguments;
        const auto before = unit::freshHandleValues();
        int result = -1;
        double seconds = 0.0;
        unit::retryingLostStart([&] {
            const ULONGLONG start = GetTickCount64();
            result = runProcessAndWait(program.c_str(), &commandLine[0], SW_HIDE, row.noWait);
            seconds = secondsSince(start);
        });
        // Read before any failure is printed: the first print opens handles.
        const auto after = unit::freshHandleValues();
        const std::vector<DWORD> running = unit::childProcessIds(std::wstring(row.tool) + L".exe");
        EXPECT_EQ(0, result);
        EXPECT_EQ(before, after);
        EXPECT_GE(seconds, row.fromSeconds);
        EXPECT_LT(seconds, row.belowSeconds);
        EXPECT_EQ(row.stillRunning ? 1u : 0u, running.size());
        unit::endProcesses(running);
    }
}

// The program is taken from the command line when no name is given, sees the
// caller's show value and inherits no handle.
TEST(RunProcessAndWait, ProgramSeesShowValueAndNoInheritedHandle)
{
    unit::TempFolder temp;
    const std::wstring markerPath = temp / L"marker.txt";
    SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
    HANDLE event = CreateEventW(&inheritable, TRUE, FALSE, nullptr);
    std::wstring commandLine = L"\"" + unit::toolPath(L"launch_marker") + L"\" \"" + markerPath + L"\" " +
                               std::to_wstring(reinterpret_cast<ULONG_PTR>(event));
    const std::wstring given = commandLine;

    runProcessAndWait(nullptr, &commandLine[0], 0x10000 + SW_SHOWMINNOACTIVE, 0);
    const std::string bytes = unit::readBytes(markerPath);
    const std::wstring report(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
    const std::wstring expected = given + L"\n" + std::to_wstring(STARTF_USESHOWWINDOW) + L"\n" +
                                  std::to_wstring(SW_SHOWMINNOACTIVE) + L"\nunset\n";
    EXPECT_EQ(expected, report);
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(event, 0));
    CloseHandle(event);
}

} // namespace
