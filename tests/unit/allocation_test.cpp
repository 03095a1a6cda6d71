#include <gtest/gtest.h>

#include <windows.h>

#include <optional>
#include <string>

#include "child_processes.h"
#include "test_support.h"

namespace {

// Running out of memory ends the run at once with status 3, as an uncaught
// allocation failure did, but quietly: the runtime's own end of an uncaught
// exception says so on the error output. The non-throwing form still answers
// null.
TEST(Allocation, ExhaustionEndsTheRunQuietlyAndNonThrowingFormAnswersNull)
{
    unit::TempFolder temp;
    const struct {
        const wchar_t* form;
        DWORD status;
    } cases[] = {{L"plain", 3}, {L"nothrow", 0}};
    for (const auto& each : cases) {
        std::wstring commandLine = L"\"" + unit::toolPath(L"allocation_probe") + L"\" " + each.form;
        const std::wstring outputPath = temp / L"output.txt";
        SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
        HANDLE output = CreateFileW(outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inheritable, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, output);
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = output;
        startup.hStdError = output;
        const std::optional<DWORD> status = unit::exitStatusOf(commandLine, &startup, TRUE);
        CloseHandle(output);
        EXPECT_EQ(each.status, status) << each.form;
        EXPECT_EQ("", unit::readBytes(outputPath)) << each.form;
    }
}

} // namespace
