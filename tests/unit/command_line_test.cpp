#include <gtest/gtest.h>

#include <string>

#include "command_line.h"

namespace {

const wchar_t kProgram[] = L"\"C:\\Program Files\\NIMBA\\shortcut_installer.exe\" ";

// The flags after parsing, as "install/productConfig", from the installer's defaults.
std::string parsed(const std::wstring& commandLine, InstallerOptions options = InstallerOptions{0, 1})
{
    parseInstallerCommandLine(&options, commandLine.c_str());
    return std::to_string(options.installFlag) + "/" + std::to_string(options.productConfigShortcutFlag);
}

TEST(ParseInstallerCommandLine, ProgramPathAloneKeepsDefaults)
{
    EXPECT_EQ("0/1", parsed(kProgram));
    EXPECT_EQ("0/1", parsed(L"shortcut_installer.exe"));
    EXPECT_EQ("0/1", parsed(L""));
}

TEST(ParseInstallerCommandLine, InstallSwitchInAnyCaseOfItsLetters)
{
    for (const wchar_t* argument : {L"-INSTALL", L"-install", L"-InStAlL", L"\"-install\""})
        EXPECT_EQ("1/1", parsed(kProgram + std::wstring(argument))) << argument;
}

TEST(ParseInstallerCommandLine, OnlyWholeElementMatches)
{
    for (const wchar_t* argument : {L"/INSTALL", L"--INSTALL", L"-INSTALL=1", L"-INSTALLX", L"-INSTAL", L"INSTALL",
                                    L"\"-INSTALL now\"", L"-NO_PRODUCT_CONFIG_START_MENU_SHORTCUTS",
                                    L"-NO_PRODUCT_CONFIG"})
        EXPECT_EQ("0/1", parsed(kProgram + std::wstring(argument))) << argument;
}

// Only ASCII letters fold: linguistic upper-casing would turn the dotless i
// into I and the long s into S.
TEST(ParseInstallerCommandLine, NonAsciiLettersDoNotFold)
{
    EXPECT_EQ("0/1", parsed(kProgram + std::wstring(L"-\u0131nstall")));
    EXPECT_EQ("0/1", parsed(kProgram + std::wstring(L"-IN\u017fTALL")));
}

TEST(ParseInstallerCommandLine, BothSwitchesInEitherOrder)
{
    EXPECT_EQ("0/0", parsed(kProgram + std::wstring(L"-no_product_config_start_menu_shortcut")));
    EXPECT_EQ("1/0", parsed(kProgram + std::wstring(L"-INSTALL -NO_PRODUCT_CONFIG_START_MENU_SHORTCUT")));
    EXPECT_EQ("1/0", parsed(kProgram + std::wstring(L"-No_Product_Config_Start_Menu_Shortcut\t-install")));
}

TEST(ParseInstallerCommandLine, RepeatedSwitchesActOnce)
{
    EXPECT_EQ("1/1", parsed(kProgram + std::wstring(L"-INSTALL -install")));
    EXPECT_EQ("0/0", parsed(kProgram + std::wstring(L"-NO_PRODUCT_CONFIG_START_MENU_SHORTCUT "
                                                    L"-NO_PRODUCT_CONFIG_START_MENU_SHORTCUT")));
}

TEST(ParseInstallerCommandLine, FlagsAreSetNeverCleared)
{
    EXPECT_EQ("1/0", parsed(kProgram + std::wstring(L"-OTHER"), InstallerOptions{1, 0}));
}

// The program path is one more element and is compared like the others.
TEST(ParseInstallerCommandLine, ProgramPathElementIsComparedToo)
{
    EXPECT_EQ("1/1", parsed(L"-INSTALL"));
    EXPECT_EQ("0/1", parsed(L"C:\\-INSTALL"));
}

} // namespace
