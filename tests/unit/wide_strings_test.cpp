#include <gtest/gtest.h>

#include <cwchar>

#include <setup_support/wide_strings.h>

TEST(JoinStrings, NullPartsContributeNothing)
{
    wchar_t* joined = joinStrings(3, L"C:\\root", nullptr, L"\\tools");
    EXPECT_STREQ(L"C:\\root\\tools", joined);
    freeString(&joined);

    joined = joinStrings(2, nullptr, nullptr);
    ASSERT_NE(nullptr, joined);
    EXPECT_STREQ(L"", joined);
    freeString(&joined);

    joined = joinStrings(0);
    ASSERT_NE(nullptr, joined);
    EXPECT_STREQ(L"", joined);
    freeString(&joined);
}

TEST(JoinStrings, ComposesToolPathFromFourParts)
{
    wchar_t* joined = joinStrings(4, L"D:\\Programs\\Suite", L"\\commonfiles\\tools\\", L"winx64\\", L"fileassoc.exe");
    EXPECT_STREQ(L"D:\\Programs\\Suite\\commonfiles\\tools\\winx64\\fileassoc.exe", joined);
    freeString(&joined);
}

TEST(FreeString, SecondReleaseIsHarmless)
{
    wchar_t* copy = joinStrings(1, L"value");
    freeString(&copy);
    EXPECT_EQ(nullptr, copy);
    freeString(&copy);
    EXPECT_EQ(nullptr, copy);
    freeString(nullptr);
}

TEST(UpperCaseCopy, ChangesOnlyAsciiLetters)
{
    wchar_t destination[64];
    upperCaseCopy(L"-InStAlL", destination);
    EXPECT_STREQ(L"-INSTALL", destination);
    upperCaseCopy(L"hpc", destination);
    EXPECT_STREQ(L"HPC", destination);
    upperCaseCopy(L"\u00e9t\u00e9 1_z{", destination);
    EXPECT_STREQ(L"\u00e9T\u00e9 1_Z{", destination);
    upperCaseCopy(L"", destination);
    EXPECT_STREQ(L"", destination);
}
