#include <gtest/gtest.h>

#include <windows.h>

#include <setup_support/redirection_guard.h>

namespace {

// Wine takes the request and enforces nothing, so what the guard refuses
// cannot be shown here; what can be checked is that the call is found where
// the platform has it and its answer passed on.
TEST(EnableRedirectionGuard, AnswersWhetherThePlatformTookTheRequest)
{
    const bool platformHasIt =
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetProcessMitigationPolicy") != nullptr;
    ASSERT_TRUE(platformHasIt);
    EXPECT_EQ(1, enableRedirectionGuard());
    // Asked again, as a second caller in the same process would.
    EXPECT_EQ(1, enableRedirectionGuard());
}

} // namespace
