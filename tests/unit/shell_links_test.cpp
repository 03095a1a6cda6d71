#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <string>

#include <setup_support/shell_links.h>

#include "test_support.h"

namespace {

class ShellLinks : public ::testing::Test {
protected:
    void SetUp() override
    {
        CoInitialize(nullptr);
        target = temp / L"fileassoc.exe";
        ASSERT_TRUE(unit::writeBytes(target, "MZ"));
    }
    void TearDown() override { CoUninitialize(); }

    int createLink(const std::wstring& linkPath)
    {
        return createShellLink(linkPath.c_str(), target.c_str(), L"", L"C:\\", L"File Association", target.c_str(),
                               0, SW_SHOWNORMAL);
    }

    unit::TempFolder temp;
    std::wstring target;
};

TEST_F(ShellLinks, CreateMakesMissingFoldersAndStoresEveryField)
{
    const std::wstring linkPath = temp / L"NIMBA 18.1\\Utilities\\Tools\\File Association.lnk";
    ASSERT_EQ(0, createShellLink(linkPath.c_str(), target.c_str(), L"-config \"a b\"", L"%HOMEDRIVE%%HOMEPATH%",
                                 L"NIMBA File Association", target.c_str(), 2, SW_SHOWMINNOACTIVE));
    ASSERT_TRUE(unit::pathExists(linkPath));

    unit::LinkFields fields = unit::readLink(linkPath);
    ASSERT_EQ(S_OK, fields.loaded);
    EXPECT_EQ(target, fields.target);
    EXPECT_EQ(L"-config \"a b\"", fields.arguments);
    // Stored as given; the shell expands it when the shortcut is started.
    EXPECT_EQ(L"%HOMEDRIVE%%HOMEPATH%", fields.workingDirectory);
    EXPECT_EQ(L"NIMBA File Association", fields.description);
    EXPECT_EQ(target, fields.iconPath);
    EXPECT_EQ(2, fields.iconIndex);
    EXPECT_EQ(SW_SHOWMINNOACTIVE, fields.showCmd);
}

TEST_F(ShellLinks, CreateReportsShortcutThatCannotBeSaved)
{
    // A file where a folder of the link path should be: the folder cannot be made.
    ASSERT_TRUE(unit::writeBytes(temp / L"NIMBA", "not a folder"));
    const std::wstring linkPath = temp / L"NIMBA\\Utilities\\File Association.lnk";
    const int result = createLink(linkPath);
    EXPECT_TRUE(FAILED(result)) << std::hex << result;
    EXPECT_FALSE(unit::pathExists(linkPath));
}

TEST_F(ShellLinks, DeleteRemovesLinkAndFailsForMissingOne)
{
    const std::wstring linkPath = temp / L"File Association.lnk";
    ASSERT_EQ(0, createLink(linkPath));
    EXPECT_EQ(0, deleteShellLink(linkPath.c_str()));
    EXPECT_FALSE(unit::pathExists(linkPath));
    EXPECT_EQ(E_FAIL, deleteShellLink(linkPath.c_str()));
}

class RemoveShellFolder : public ShellLinks {
protected:
    void SetUp() override
    {
        ShellLinks::SetUp();
        folder = temp / L"Utilities";
        ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    }

    std::wstring folder;
};

TEST_F(RemoveShellFolder, EmptyFolderIsRemoved)
{
    EXPECT_EQ(0, removeShellFolder(folder.c_str()));
    EXPECT_FALSE(unit::pathExists(folder));
}

TEST_F(RemoveShellFolder, MissingFolderFails)
{
    EXPECT_EQ(E_FAIL, removeShellFolder((temp / L"Help").c_str()));
}

TEST_F(RemoveShellFolder, VisibleFileKeepsFolderAndFile)
{
    const std::wstring linkPath = folder + L"\\File Association.lnk";
    ASSERT_EQ(0, createLink(linkPath));
    EXPECT_EQ(ERROR_FILE_EXISTS, removeShellFolder(folder.c_str()));
    EXPECT_TRUE(unit::pathExists(linkPath));
}

// The shell shows neither of these, yet the folder cannot go: that is
// reported, not passed off as removed.
TEST_F(RemoveShellFolder, OnlySubfolderKeepsFolderAndSaysSo)
{
    ASSERT_TRUE(CreateDirectoryW((folder + L"\\Client Tools").c_str(), nullptr));
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_DIR_NOT_EMPTY), removeShellFolder(folder.c_str()));
    EXPECT_TRUE(unit::isFolder(folder + L"\\Client Tools"));
}

TEST_F(RemoveShellFolder, OnlyHiddenFileKeepsFolderAndSaysSo)
{
    ASSERT_TRUE(unit::writeBytes(folder + L"\\desktop.ini", "[.ShellClassInfo]\r\n",
                                 FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_DIR_NOT_EMPTY), removeShellFolder(folder.c_str()));
    EXPECT_TRUE(unit::pathExists(folder + L"\\desktop.ini"));
}

} // namespace
