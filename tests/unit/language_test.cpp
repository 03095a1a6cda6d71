#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "language.h"
#include "test_support.h"

namespace {

const char kNoFile[] = "<unreadable>";

// An installation root and an APPDATA folder in a throwaway folder, with the
// two settings files given (kNoFile: absent).
struct SettingsPlaces {
    unit::TempFolder temp;
    std::wstring root = temp / L"suite";
    std::wstring appData = temp / L"appdata";
    std::wstring userFile = appData + L"\\Nimba\\v182\\languagesettings.txt";
    std::wstring treeFile = root + L"\\commonfiles\\Language\\languagesettings.txt";

    SettingsPlaces(const std::string& user, const std::string& tree)
    {
        if (user != kNoFile) {
            for (const std::wstring& folder : {appData, appData + L"\\Nimba", appData + L"\\Nimba\\v182"})
                CreateDirectoryW(folder.c_str(), nullptr);
            unit::writeBytes(userFile, user);
        }
        if (tree != kNoFile) {
            for (const std::wstring& folder : {root, root + L"\\commonfiles", root + L"\\commonfiles\\Language"})
                CreateDirectoryW(folder.c_str(), nullptr);
            unit::writeBytes(treeFile, tree);
        }
    }
};

TEST(ReadSettingValue, TextAfterFirstEqualsOfFirstWord)
{
    unit::TempFolder temp;
    const std::string longest = std::string(46, 'a') + "=de";
    const struct {
        std::string content;
        int needed;
        const wchar_t* value;
    } rows[] = {
        {kNoFile, 0, L""},
        {"", 0, L""},
        {" \t\r\n", 0, L""},
        {"lang=de", 3, L"de"},
        {"\r\n  lang=de\r\nlang=fr", 3, L"de"},
        {"x=de more", 3, L"de"},
        {"lang=a=b", 4, L"a=b"},
        {"lang=", 1, L""},
        {"de", 0, L""},
        {longest, 3, L"de"},
        {longest + "x", 0, L""},
    };
    for (const auto& row : rows) {
        const std::wstring path = temp / L"languagesettings.txt";
        DeleteFileW(path.c_str());
        if (row.content != kNoFile) {
            ASSERT_TRUE(unit::writeBytes(path, row.content));
        }
        EXPECT_EQ(row.needed, readSettingValue(path.c_str(), nullptr, 0)) << row.content;
        wchar_t buffer[8] = L"#######";
        wchar_t* value = buffer;
        EXPECT_EQ(row.needed, readSettingValue(path.c_str(), &value, row.needed > 0 ? row.needed : 1)) << row.content;
        EXPECT_STREQ(row.value, buffer) << row.content;
    }
}

TEST(GetLanguageCodeFor, AlwaysTheNeededLengthCopyWhenItFits)
{
    const struct {
        int index;
        int capacity;
        int needed;
        const wchar_t* text;
    } rows[] = {
        {0, 6, 6, L"en-us"}, {0, 5, 6, L""}, {1, 3, 3, L"de"}, {2, 3, 3, L"fr"},
        {3, 3, 3, L"ja"},    {3, 2, 3, L""}, {4, 8, 0, L""},   {-1, 8, 0, L""},
    };
    for (const auto& row : rows) {
        wchar_t buffer[8] = L"#######";
        EXPECT_EQ(row.needed, getLanguageCodeFor(row.index, buffer, row.capacity)) << row.index;
        EXPECT_STREQ(row.text, buffer) << row.index << " capacity " << row.capacity;
    }
    EXPECT_EQ(6, getLanguageCodeFor(0, nullptr, 0));
}

TEST(WriteLanguageSettings, ExactlyLangAndCodeOnlyWhenStoring)
{
    const struct {
        LanguageIndex index;
        int store;
        std::string before;
        std::string after;
    } rows[] = {
        {kLanguageGerman, 1, kNoFile, "lang=de"},
        {kLanguageEnglish, 1, "lang=xx\r\nlonger than what replaces it", "lang=en-us"},
        {kLanguageJapanese, 0, kNoFile, kNoFile},
        {kLanguageFrench, 0, "lang=xx", "lang=xx"},
        {static_cast<LanguageIndex>(4), 1, kNoFile, kNoFile},
    };
    for (const auto& row : rows) {
        SettingsPlaces places(row.before, kNoFile);
        unit::ScopedVariable appData(L"APPDATA", places.appData.c_str());
        writeLanguageSettings(row.index, row.store);
        EXPECT_EQ(row.after, unit::readBytes(places.userFile)) << row.index << " store " << row.store;
    }
}

// Without APPDATA the per-user path would begin at the current drive's root.
TEST(PerUserFile, NoneWithoutAppData)
{
    const std::wstring driveRootFolder = L"\\Nimba";
    ASSERT_FALSE(unit::pathExists(driveRootFolder));
    for (const wchar_t* value : {static_cast<const wchar_t*>(nullptr), L""}) {
        SettingsPlaces places(kNoFile, "lang=de");
        unit::ScopedVariable appData(L"APPDATA", value);
        EXPECT_EQ(kLanguageGerman, getLanguageIndex(1, places.root.c_str()));
        writeLanguageSettings(kLanguageFrench, 1);
        unit::writeBytes(places.treeFile, "lang=xx");
        EXPECT_EQ(getLocaleLanguage(), getLanguageIndex(1, places.root.c_str()));
        EXPECT_FALSE(unit::pathExists(driveRootFolder));
    }
}

// Per-user file, installation-wide file, then the user locale, which is fixed
// at process start from the Unix LC_ALL: each row runs the probe with its own.
TEST(GetLanguageIndex, FilesThenLocaleWhichIsStoredOnRequest)
{
    const struct {
        const wchar_t* locale;
        std::string user;
        std::string tree;
        int store;
        const char* report; // locale identifier, locale's language, decided language
        std::string userAfter;
    } rows[] = {
        {L"de_AT.UTF-8", kNoFile, kNoFile, 1, "0c07 1 1", kNoFile},
        {L"de_AT.UTF-8", "lang=fr", "lang=ja", 1, "0c07 1 2", "lang=fr"},
        {L"de_AT.UTF-8", kNoFile, "lang=ja\r\n", 1, "0c07 1 3", kNoFile},
        {L"fr_CA.UTF-8", "lang=xx", kNoFile, 1, "0c0c 2 2", "lang=fr"},
        {L"fr_CA.UTF-8", "lang=xx", kNoFile, 0, "0c0c 2 2", "lang=xx"},
        {L"en_GB.UTF-8", "", "lang=de", 1, "0809 0 0", "lang=en-us"},
        {L"ja_JP.UTF-8", kNoFile, "lang=FR", 1, "0411 3 3", "lang=ja"},
        {L"nl_NL.UTF-8", kNoFile, kNoFile, 0, "0413 0 0", kNoFile},
    };
    for (const auto& row : rows) {
        SettingsPlaces places(row.user, row.tree);
        unit::ScopedVariable locale(L"LC_ALL", row.locale);
        const std::string report = unit::runThroughWineLoader(
            unit::toolPath(L"language_probe"),
            std::to_wstring(row.store) + L" \"" + places.root + L"\" \"" + places.appData + L"\"");
        EXPECT_EQ(row.report, report) << row.locale;
        EXPECT_EQ(row.userAfter, unit::readBytes(places.userFile)) << row.locale;
    }
}

} // namespace
