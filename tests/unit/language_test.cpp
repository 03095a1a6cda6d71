#include <gtest/gtest.h>

#include <windows.h>

#include <cwchar>
#include <string>
#include <vector>

#include <setup_support/language.h>

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
        // A capacity of 1 or less leaves the buffer alone.
        {0, 1, 6, L"#######"}, {1, 0, 3, L"#######"},
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

// Every German, French and Japanese locale selects its language; a locale of
// no list, a neutral one or a listed one with another sort order means
// English. (English locales mean English listed or not: no row can tell.)
TEST(LanguageIndexForLocale, EachListedLocaleSelectsItsLanguageAnyOtherEnglish)
{
    const struct {
        LanguageIndex language;
        std::vector<LCID> locales;
    } rows[] = {
        {kLanguageGerman, {0x0407, 0x0C07, 0x1407, 0x1007, 0x0807}},
        {kLanguageFrench, {0x040C, 0x080C, 0x2C0C, 0x0C0C, 0x240C, 0x300C, 0x3C0C, 0x140C, 0x340C, 0x180C, 0x380C,
                           0xE40C, 0x200C, 0x280C, 0x100C, 0x1C0C}},
        {kLanguageJapanese, {0x0411}},
        {kLanguageEnglish, {0x0000, 0x0413, 0x0007, 0x000C, 0x0011, 0x0804, 0x10407, 0x10411}},
    };
    for (const auto& row : rows) {
        for (LCID locale : row.locales)
            EXPECT_EQ(row.language, languageIndexForLocale(locale)) << std::hex << locale;
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
// Where a file decides, its code also comes from getLanguageCode here, by the
// two-call protocol, into a string it first empties.
TEST(GetLanguageIndex, FilesThenLocaleWhichIsStoredOnRequest)
{
    const struct {
        const wchar_t* locale;
        std::string user;
        std::string tree;
        int store;
        const char* report; // locale identifier, locale's language, decided language
        std::string userAfter;
        const wchar_t* code; // null: the locale decides
    } rows[] = {
        {L"de_AT.UTF-8", kNoFile, kNoFile, 1, "0c07 1 1", kNoFile, nullptr},
        {L"de_AT.UTF-8", "lang=fr", "lang=ja", 1, "0c07 1 2", "lang=fr", L"fr"},
        {L"de_AT.UTF-8", kNoFile, "lang=ja\r\n", 1, "0c07 1 3", kNoFile, L"ja"},
        {L"fr_CA.UTF-8", "lang=xx", kNoFile, 1, "0c0c 2 2", "lang=fr", L"xx"},
        {L"fr_CA.UTF-8", "lang=xx", kNoFile, 0, "0c0c 2 2", "lang=xx", L"xx"},
        {L"en_GB.UTF-8", "", "lang=de", 1, "0809 0 0", "lang=en-us", L""},
        {L"ja_JP.UTF-8", kNoFile, "lang=FR", 1, "0411 3 3", "lang=ja", L"FR"},
        {L"nl_NL.UTF-8", kNoFile, kNoFile, 0, "0413 0 0", kNoFile, nullptr},
    };
    for (const auto& row : rows) {
        SettingsPlaces places(row.user, row.tree);
        if (row.code != nullptr) {
            unit::ScopedVariable appData(L"APPDATA", places.appData.c_str());
            const int needed = static_cast<int>(wcslen(row.code)) + 1;
            wchar_t buffer[8] = L"#######";
            wchar_t* code = buffer;
            EXPECT_EQ(row.code[0] != L'\0' ? needed : 0, getLanguageCode(places.root.c_str(), nullptr, 0));
            if (needed > 2) {
                EXPECT_EQ(needed, getLanguageCode(places.root.c_str(), &code, needed - 1));
                EXPECT_STREQ(L"", buffer) << "not emptied first";
            }
            wmemcpy(buffer, L"#######", 8);
            EXPECT_EQ(0, getLanguageCode(places.root.c_str(), &code, needed));
            EXPECT_STREQ(row.code, buffer);
        }
        unit::ScopedVariable locale(L"LC_ALL", row.locale);
        const std::string report = unit::runThroughWineLoader(
            unit::toolPath(L"language_probe"),
            std::to_wstring(row.store) + L" \"" + places.root + L"\" \"" + places.appData + L"\"");
        EXPECT_EQ(row.report, report) << row.locale;
        EXPECT_EQ(row.userAfter, unit::readBytes(places.userFile)) << row.locale;
    }
}

} // namespace
