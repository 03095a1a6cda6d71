#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

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

std::vector<std::wstring> sorted(std::vector<std::wstring> names)
{
    std::sort(names.begin(), names.end());
    return names;
}

class ToolbarList : public ::testing::Test {
protected:
    void SetUp() override
    {
        root = temp / L"suite";
        toolbars = root + L"\\NIMBA\\gui\\en-us\\toolbars";
        listPath = toolbars + L"\\tlbrlist182.qel";
        for (const wchar_t* level : {L"", L"\\NIMBA", L"\\NIMBA\\gui", L"\\NIMBA\\gui\\en-us", L"\\NIMBA\\gui\\en-us\\toolbars"})
            ASSERT_TRUE(CreateDirectoryW((root + level).c_str(), nullptr));
    }

    unit::TempFolder temp;
    std::wstring root;
    std::wstring toolbars;
    std::wstring listPath;
};

const std::vector<std::wstring> kListOnly = {L"tlbrlist182.qel"};

TEST_F(ToolbarList, WritesThreeLinesEndingInCrLf)
{
    writeToolbarList(root.c_str());
    EXPECT_EQ(expectedList(root), unit::readBytes(listPath));
    EXPECT_EQ(kListOnly, unit::folderEntries(toolbars));
}

TEST_F(ToolbarList, RootWithTrailingBackslashIsKeptInLinesOnly)
{
    writeToolbarList((root + L"\\").c_str());
    EXPECT_EQ(expectedList(root + L"\\"), unit::readBytes(listPath));
    EXPECT_EQ(kListOnly, unit::folderEntries(toolbars));
}

TEST_F(ToolbarList, ReplacesWhateverListWasThere)
{
    writeToolbarList(root.c_str());
    writeToolbarList(root.c_str());
    EXPECT_EQ(expectedList(root), unit::readBytes(listPath));

    ASSERT_TRUE(unit::writeBytes(listPath, std::string(4096, 'o') + "\r\nC:\\old\\CUSTOM.TLB\r\n"));
    writeToolbarList(root.c_str());
    EXPECT_EQ(expectedList(root), unit::readBytes(listPath));
}

// The list's neighbours, among them the fixed pending name that earlier runs
// used and names like the ones the pending file gets: none is ours to write,
// rename into place or remove, and none stops the list from being replaced.
TEST_F(ToolbarList, EntriesBesideTheListAreLeftAlone)
{
    const std::string theirs = "C:\\interrupted\\HALF.T";
    const struct {
        const wchar_t* name;
        bool folder;
    } neighbours[] = {{L"tlbrlist182.qel.new", false}, {L"tlbrlist182.qel.new", true}, {L"tlb1.tmp", false}};
    for (const auto& neighbour : neighbours) {
        const std::wstring path = toolbars + L"\\" + neighbour.name;
        ASSERT_TRUE(neighbour.folder ? CreateDirectoryW(path.c_str(), nullptr) != FALSE
                                     : unit::writeBytes(path, theirs));
        writeToolbarList(root.c_str());
        EXPECT_EQ(expectedList(root), unit::readBytes(listPath));
        EXPECT_EQ(neighbour.folder, unit::isFolder(path));
        if (!neighbour.folder) {
            EXPECT_EQ(theirs, unit::readBytes(path));
        }
        EXPECT_EQ(2u, unit::folderEntries(toolbars).size());
        unit::removeTree(path);
        unit::removeTree(listPath);
    }
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
    // A file of someone else's named like a pending file stays too.
    const std::wstring neighbour = toolbars + L"\\tlb1.tmp";
    ASSERT_TRUE(unit::writeBytes(neighbour, old));
    writeToolbarList(root.c_str());
    CloseHandle(inUse);
    EXPECT_EQ(old, unit::readBytes(listPath));
    EXPECT_EQ(old, unit::readBytes(neighbour));
    EXPECT_EQ((std::vector<std::wstring>{L"tlb1.tmp", L"tlbrlist182.qel"}), sorted(unit::folderEntries(toolbars)));
}

TEST_F(ToolbarList, ReadOnlyListStaysAndLeavesNoPendingFile)
{
    const std::string old = "C:\\old\\CUSTOM.TLB\r\n";
    ASSERT_TRUE(unit::writeBytes(listPath, old, FILE_ATTRIBUTE_READONLY));
    writeToolbarList(root.c_str());
    EXPECT_EQ(old, unit::readBytes(listPath));
    EXPECT_EQ(kListOnly, unit::folderEntries(toolbars));
}

} // namespace
