#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include <setup_support/file_paths.h>

#include "test_support.h"

namespace {

class Paths : public ::testing::Test {
protected:
    void SetUp() override
    {
        file = temp / L"Uninstall.exe";
        folder = temp / L"tools";
        ASSERT_TRUE(unit::writeBytes(file, "MZ"));
        ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    }

    unit::TempFolder temp;
    std::wstring file;
    std::wstring folder;
};

TEST_F(Paths, FileExistsForFileAndFolder)
{
    EXPECT_EQ(1, fileExists(file.c_str()));
    EXPECT_EQ(1, fileExists(folder.c_str()));
    EXPECT_EQ(1, fileExists(temp.path().substr(0, 3).c_str())) << "drive root";
    EXPECT_EQ(0, fileExists((temp / L"missing.exe").c_str()));
    EXPECT_EQ(0, fileExists((temp / L"missing\\Uninstall.exe").c_str()));
}

TEST_F(Paths, FileExistsTakesPathWithTrailingBackslashAsMissing)
{
    EXPECT_EQ(0, fileExists((folder + L"\\").c_str()));
    EXPECT_EQ(0, fileExists((file + L"\\").c_str()));
}

TEST_F(Paths, CreateDirectoryIfMissingLeavesExistingFileAlone)
{
    EXPECT_EQ(1, createDirectoryIfMissing(file.c_str()));
    EXPECT_FALSE(unit::isFolder(file));
    EXPECT_EQ("MZ", unit::readBytes(file));
}

TEST_F(Paths, CreateDirectoryIfMissingMakesLastLevelOnly)
{
    const std::wstring level = folder + L"\\winx64";
    EXPECT_EQ(1, createDirectoryIfMissing(level.c_str()));
    EXPECT_TRUE(unit::isFolder(level));
    EXPECT_EQ(1, createDirectoryIfMissing(level.c_str()));

    const std::wstring orphan = temp / L"missing\\winx64";
    EXPECT_EQ(0, createDirectoryIfMissing(orphan.c_str()));
    EXPECT_FALSE(unit::pathExists(temp / L"missing"));
}

} // namespace
