#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include <setup_support/processes.h>

#include "child_processes.h"
#include "test_support.h"

namespace {

// The sleeper that runProcessAndWait started, opened while the call waits,
// so that its exit code can be read after the call has closed its own handle.
HANDLE watchedSleeper = nullptr;

DWORD WINAPI openStartedSleeper(void*)
{
    for (int attempt = 0; watchedSleeper == nullptr && attempt < 100; ++attempt) {
        const std::vector<DWORD> running = unit::childProcessIds(L"processes_sleeper.exe");
        if (running.size() == 1)
            watchedSleeper = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, running[0]);
        Sleep(50);
    }
    return 0;
}

TEST(RunProcessAndWait, ProgramStillRunningIsTerminatedAfterThirtiethPoll)
{
    const std::wstring program = unit::toolPath(L"processes_sleeper");
    std::wstring commandLine = L"\"" + program + L"\" 90";

    HANDLE watcher = CreateThread(nullptr, 0, openStartedSleeper, nullptr, 0, nullptr);
    ASSERT_NE(nullptr, watcher);
    const ULONGLONG start = GetTickCount64();
    EXPECT_EQ(0, runProcessAndWait(program.c_str(), &commandLine[0], SW_HIDE, 0));
    const double seconds = static_cast<double>(GetTickCount64() - start) / 1000.0;
    WaitForSingleObject(watcher, INFINITE);
    CloseHandle(watcher);
    ASSERT_NE(nullptr, watchedSleeper) << "the started sleeper was not found";
    // Ended with 0, as a program that ends by itself with success would be
    // (the sleeper ending by itself gives 3).
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(watchedSleeper, 5000));
    DWORD exitCode = STILL_ACTIVE;
    GetExitCodeProcess(watchedSleeper, &exitCode);
    CloseHandle(watchedSleeper);
    EXPECT_EQ(0u, exitCode);

    // Thirty polls of a second each: fewer or one more shows here.
    EXPECT_GE(seconds, 30.0);
    EXPECT_LT(seconds, 31.0);
    // Given a moment to go, as a terminated process needs.
    Sleep(200);
    const std::vector<DWORD> running = unit::childProcessIds(L"processes_sleeper.exe");
    EXPECT_TRUE(running.empty());
    unit::endProcesses(running);
}

} // namespace
