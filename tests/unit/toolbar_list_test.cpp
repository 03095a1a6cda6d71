#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "test_support.h"
#include "toolbar_list.h"

namespace {

// The three lines for a root as it was handed in; the root is ASCII here.
std::string expectedList(const std::wstring& root)
{
    const std::string narrowRoot(root.begin(), root.end());
    std::string list;
    for (const char* file : {"NIMBASTANDARD.TLB", "NIMBAABBR.TLB", "NIMBAGRAPHICAL.TLB"})
        list += narrowRoot + "\\nimba\\gui\\en-us\\toolbars\\" + file + "\r\n";
    return list;
}

class ToolbarList : public ::testing::Test {
protected:
    void SetUp() override
    {
        root = temp / L"suite";
        toolbars = root + L"\\NIMBA\\gui\\en-us\\toolbars";
        listPath = toolbars + L"\\tlbrlist182.qel";
        pendingPath = listPath + L".new";
        for (const wchar_t* level : {L"", L"\\NIMBA", L"\\NIMBA\\gui", L"\\NIMBA\\gui\\en-us", L"\\NIMBA\\gui\\en-us\\toolbars"})
            ASSERT_TRUE(CreateDirectoryW((root + level).c_str(), nullptr));
    }

    unit::TempFolder temp;
    std::wstring root;
    std::wstring toolbars;
    std::wstring listPath;
    std::wstring pendingPath;
};

TEST_F(ToolbarList, WritesThreeLinesEndingInCrLf)
{
    writeToolbarList(root.c_str());
    EXPECT_EQ(expectedList(root), unit::readBytes(listPath));
    EXPECT_FALSE(unit::pathExists(pendingPath));
}

TEST_F(ToolbarList, RootWithTrailingBackslashIsKeptInLinesOnly)
{
    writeToolbarList((root + L"\\").c_str());
    EXPECT_EQ(expectedList(root + L"\\"), unit::readBytes(listPath));
    EXPECT_EQ(std::vector<std::wstring>{L"tlbrlist182.qel"}, unit::folderEntries(toolbars));
}

TEST_F(ToolbarList, ReplacesWhateverListWasThere)
{
    writeToolbarList(root.c_str());
    writeToolbarList(root.c_str());
    EXPECT_EQ(expectedList(root), unit::readBytes(listPath));

    // What an interrupted run left in the pending list must not carry over.
    ASSERT_TRUE(unit::writeBytes(listPath, std::string(4096, 'o') + "\r\nC:\\old\\CUSTOM.TLB\r\n"));
    ASSERT_TRUE(unit::writeBytes(pendingPath, "C:\\interrupted\\HALF.T"));
    writeToolbarList(root.c_str());
    EXPECT_EQ(expectedList(root), unit::readBytes(listPath));
    EXPECT_FALSE(unit::pathExists(pendingPath));
}

TEST_F(ToolbarList, MissingToolbarFolderIsNotCreated)
{
    ASSERT_TRUE(RemoveDirectoryW(toolbars.c_str()));
    writeToolbarList(root.c_str());
    EXPECT_TRUE(unit::folderEntries(root + L"\\NIMBA\\gui\\en-us").empty());
}

// An empty root would name \NIMBA\... on the current drive: with the current
// folder on the temporary folder's drive and such a toolbar folder there, a
// list written for it would show.
TEST_F(ToolbarList, EmptyRootWritesNothing)
{
    const std::wstring drive = temp.path().substr(0, 2);
    const std::wstring driveProduct = drive + L"\\NIMBA";
    if (unit::pathExists(driveProduct))
        GTEST_SKIP() << "a real " << std::string(driveProduct.begin(), driveProduct.end()) << " exists";
    wchar_t savedFolder[MAX_PATH + 1] = L"";
    GetCurrentDirectoryW(MAX_PATH + 1, savedFolder);
    ASSERT_TRUE(SetCurrentDirectoryW(temp.path().c_str()));
    std::wstring level = driveProduct;
    bool made = CreateDirectoryW(level.c_str(), nullptr) != FALSE;
    for (const wchar_t* name : {L"\\gui", L"\\en-us", L"\\toolbars"})
        made = made && CreateDirectoryW((level += name).c_str(), nullptr);

    writeToolbarList(L"");
    const bool untouched = unit::folderEntries(level).empty();
    SetCurrentDirectoryW(savedFolder);
    unit::removeTree(driveProduct);
    ASSERT_TRUE(made);
    EXPECT_TRUE(untouched);
}

// The suite's program holds the list open: the list cannot be replaced.
TEST_F(ToolbarList, ListInUseStaysAndLeavesNoPendingFile)
{
    const std::string old = "C:\\old\\CUSTOM.TLB\r\n";
    ASSERT_TRUE(unit::writeBytes(listPath, old));
    HANDLE inUse = CreateFileW(listPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, inUse);
    writeToolbarList(root.c_str());
    CloseHandle(inUse);
    EXPECT_EQ(old, unit::readBytes(listPath));
    EXPECT_FALSE(unit::pathExists(pendingPath));
}

TEST_F(ToolbarList, ReadOnlyListStaysAndLeavesNoPendingFile)
{
    const std::string old = "C:\\old\\CUSTOM.TLB\r\n";
    ASSERT_TRUE(unit::writeBytes(listPath, old, FILE_ATTRIBUTE_READONLY));
    writeToolbarList(root.c_str());
    EXPECT_EQ(old, unit::readBytes(listPath));
    EXPECT_FALSE(unit::pathExists(pendingPath));
}

TEST_F(ToolbarList, UnwritablePendingFileLeavesListAlone)
{
    const std::string old = "C:\\old\\CUSTOM.TLB\r\n";
    ASSERT_TRUE(unit::writeBytes(listPath, old));
    ASSERT_TRUE(CreateDirectoryW(pendingPath.c_str(), nullptr));
    writeToolbarList(root.c_str());
    EXPECT_EQ(old, unit::readBytes(listPath));
}

} // namespace
