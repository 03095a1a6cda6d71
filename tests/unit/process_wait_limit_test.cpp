#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "child_processes.h"
#include "processes.h"
#include "test_support.h"

namespace {

TEST(RunProcessAndWait, ProgramStillRunningIsTerminatedAfterThirtiethPoll)
{
    const std::wstring program = unit::toolPath(L"processes_sleeper");
    std::wstring commandLine = L"\"" + program + L"\" 90";

    const ULONGLONG start = GetTickCount64();
    EXPECT_EQ(0, runProcessAndWait(program.c_str(), &commandLine[0], SW_HIDE, 0));
    const double seconds = static_cast<double>(GetTickCount64() - start) / 1000.0;

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
