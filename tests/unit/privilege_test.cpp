#include <gtest/gtest.h>

#include <windows.h>

#include <cwchar>

#include <setup_support/privilege.h>
#include <setup_support/wide_strings.h>

#include "test_support.h"

namespace {

const int kRepeatedCalls = 200;

// GetProcessHandleCount answers 0 under Wine, and the value of a fresh handle
// misses leaks that sit above a slot freed later. Asking every handle value
// of the small range a test program uses whether it is open counts them.
int openHandleCount()
{
    int open = 0;
    for (ULONG_PTR value = 4; value < 0x10000; value += 4) {
        DWORD flags = 0;
        if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags))
            ++open;
    }
    return open;
}

// A process started from Linux holds an elevated administrator token.
TEST(IsUserAdmin, ElevatedProcessTokenAnswersOne)
{
    EXPECT_EQ(1, isUserAdmin());
}

TEST(IsUserAdmin, ThreadTokenDecidesWhileImpersonating)
{
    unit::RestrictedImpersonation restricted;
    ASSERT_TRUE(restricted.active());
    EXPECT_EQ(0, isUserAdmin());
    restricted.revert();
    EXPECT_EQ(1, isUserAdmin());
}

TEST(IsUserAdmin, RepeatedCallsLeakNoHandle)
{
    const int before = openHandleCount();
    int answeredAdmin = 0;
    for (int i = 0; i < kRepeatedCalls; ++i)
        answeredAdmin += isUserAdmin();
    EXPECT_EQ(before, openHandleCount());
    EXPECT_EQ(kRepeatedCalls, answeredAdmin);
}

TEST(IsUserAdmin, RepeatedImpersonatedCallsLeakNoHandle)
{
    unit::RestrictedImpersonation restricted;
    ASSERT_TRUE(restricted.active());
    const int before = openHandleCount();
    int answeredAdmin = 0;
    for (int i = 0; i < kRepeatedCalls; ++i)
        answeredAdmin += isUserAdmin();
    EXPECT_EQ(before, openHandleCount());
    EXPECT_EQ(0, answeredAdmin);
}

TEST(GetServicePackName, MatchesVersionReportAsNewString)
{
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof(version);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    ASSERT_TRUE(GetVersionExW(&version));
#pragma GCC diagnostic pop

    wchar_t* stored = nullptr;
    wchar_t* name = getServicePackName(&stored);
    ASSERT_NE(nullptr, name);
    EXPECT_EQ(name, stored);
    EXPECT_STREQ(version.szCSDVersion, name);

    // Each call hands out a string of its own for the caller to release.
    wchar_t* second = nullptr;
    getServicePackName(&second);
    EXPECT_NE(name, second);
    freeString(&second);
    freeString(&name);
}

} // namespace
