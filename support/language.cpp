#include <setup_support/language.h>

#include <windows.h>

#include <cstddef>
#include <cstdio>
#include <cwchar>

#include <setup_support/environment.h>
#include <setup_support/file_paths.h>
#include <setup_support/release_identity.h>
#include <setup_support/wide_strings.h>

#include "owners.h"

namespace {

const wchar_t kAppDataVariable[] = L"APPDATA";
const wchar_t kUserSuiteFolder[] = L"\\Nimba";
const wchar_t kTreeSettingsFolder[] = L"\\commonfiles\\Language";
const wchar_t kSettingsFileName[] = L"\\languagesettings.txt";
const wchar_t kSettingPrefix[] = L"lang=";

// A settings word of 49 code units and the terminator.
const int kSettingWordCapacity = 50;

// By index.
const wchar_t* const kLanguageCodes[] = {L"en-us", L"de", L"fr", L"ja"};
const int kLanguageCount = sizeof(kLanguageCodes) / sizeof(kLanguageCodes[0]);

// The locales that select each language, in the order they are looked up;
// any other locale means English.
const LCID kEnglishLocales[] = {0x0409, 0x0809, 0x0C09, 0x2809, 0x1009, 0x2409, 0x3C09, 0x4009, 0x3809,
                                0x1809, 0x2009, 0x4409, 0x1409, 0x3409, 0x4809, 0x1C09, 0x2C09, 0x3009};
const LCID kGermanLocales[] = {0x0407, 0x0C07, 0x1407, 0x1007, 0x0807};
const LCID kFrenchLocales[] = {0x040C, 0x080C, 0x2C0C, 0x0C0C, 0x240C, 0x300C, 0x3C0C, 0x140C,
                               0x340C, 0x180C, 0x380C, 0xE40C, 0x200C, 0x280C, 0x100C, 0x1C0C};
const LCID kJapaneseLocales[] = {0x0411};

template <size_t count>
bool isListed(LCID locale, const LCID (&locales)[count])
{
    for (LCID listed : locales) {
        if (listed == locale)
            return true;
    }
    return false;
}

// <appData>\Nimba\v182 as a new string.
wchar_t* allocUserReleaseFolder(const wchar_t* appData)
{
    const int needed = getReleaseFolderName(nullptr, 0);
    UniqueString folderName(new wchar_t[needed]);
    getReleaseFolderName(folderName.get(), needed);
    return joinStrings(4, appData, kUserSuiteFolder, L"\\", folderName.get());
}

// The per-user settings file as a new string, or null without APPDATA.
wchar_t* allocUserSettingsPath()
{
    // Without APPDATA (unset or empty) there is no per-user file: a path built
    // without it would name a folder at the root of the current drive.
    UniqueString appData(allocProcessVariable(kAppDataVariable));
    if (!appData)
        return nullptr;
    UniqueString releaseFolder(allocUserReleaseFolder(appData.get()));
    return joinStrings(2, releaseFolder.get(), kSettingsFileName);
}

// The value of a settings file handed on by the two-call protocol.
int copySettingValue(const wchar_t* settingsPath, wchar_t* code, int capacity)
{
    const int needed = readSettingValue(settingsPath, nullptr, 0);
    if (needed == 0) {
        // No value is the empty code.
        if (code != nullptr && capacity >= 1)
            code[0] = L'\0';
        return 0;
    }
    UniqueString value(new wchar_t[needed]);
    value[0] = L'\0';
    wchar_t* filled = value.get();
    readSettingValue(settingsPath, &filled, needed);
    return copyWhenFits(value.get(), code, capacity);
}

} // namespace

LanguageIndex languageIndexForLocale(LCID locale)
{
    if (isListed(locale, kEnglishLocales))
        return kLanguageEnglish;
    if (isListed(locale, kGermanLocales))
        return kLanguageGerman;
    if (isListed(locale, kFrenchLocales))
        return kLanguageFrench;
    if (isListed(locale, kJapaneseLocales))
        return kLanguageJapanese;
    return kLanguageEnglish;
}

LanguageIndex getLocaleLanguage()
{
    const LCID locale = GetUserDefaultLCID();
    if (!IsValidLocale(locale, LCID_INSTALLED))
        return kLanguageEnglish;
    return languageIndexForLocale(locale);
}

int getLanguageCodeFor(int index, wchar_t* buffer, int capacity)
{
    if (buffer != nullptr && capacity > 1)
        buffer[0] = L'\0';
    if (index < 0 || index >= kLanguageCount)
        return 0;
    copyWhenFits(kLanguageCodes[index], buffer, capacity);
    return static_cast<int>(wcslen(kLanguageCodes[index])) + 1;
}

int readSettingValue(const wchar_t* path, wchar_t** value, int capacity)
{
    wchar_t* target = value != nullptr ? *value : nullptr;
    if (target != nullptr && capacity >= 1)
        target[0] = L'\0';
    wchar_t word[kSettingWordCapacity];
    if (!readFirstWord(path, word, kSettingWordCapacity))
        return 0;
    // Only the text after the first "=" counts; a word without one is no
    // setting at all.
    const wchar_t* equals = wcschr(word, L'=');
    if (equals == nullptr)
        return 0;
    const wchar_t* setting = equals + 1;
    copyWhenFits(setting, target, capacity);
    return static_cast<int>(wcslen(setting)) + 1;
}

int getLanguageCode(const wchar_t* root, wchar_t** code, int capacity)
{
    wchar_t* target = code != nullptr ? *code : nullptr;
    if (target != nullptr && capacity > 1)
        target[0] = L'\0';

    UniqueString userPath(allocUserSettingsPath());
    UniqueString treePath(joinStrings(3, root, kTreeSettingsFolder, kSettingsFileName));
    if (userPath && fileExists(userPath.get()))
        return copySettingValue(userPath.get(), target, capacity);
    if (fileExists(treePath.get()))
        return copySettingValue(treePath.get(), target, capacity);
    return copyWhenFits(kLanguageCodes[getLocaleLanguage()], target, capacity);
}

LanguageIndex languageIndexForCode(const wchar_t* code, int store)
{
    for (int index = 0; code != nullptr && index < kLanguageCount; ++index) {
        if (wcscmp(code, kLanguageCodes[index]) == 0)
            return static_cast<LanguageIndex>(index);
    }
    const LanguageIndex locale = getLocaleLanguage();
    writeLanguageSettings(locale, store);
    return locale;
}

void writeLanguageSettings(LanguageIndex index, int store)
{
    if (!store || index < 0 || index >= kLanguageCount)
        return;
    UniqueString appData(allocProcessVariable(kAppDataVariable));
    if (!appData)
        return;
    UniqueString suiteFolder(joinStrings(2, appData.get(), kUserSuiteFolder));
    UniqueString releaseFolder(allocUserReleaseFolder(appData.get()));
    UniqueString path(joinStrings(2, releaseFolder.get(), kSettingsFileName));
    createDirectoryIfMissing(appData.get());
    createDirectoryIfMissing(suiteFolder.get());
    createDirectoryIfMissing(releaseFolder.get());

    UniqueFileStream file(_wfopen(path.get(), L"w"));
    if (!file)
        return;
    // Single-byte text: the prefix and the codes are plain ASCII.
    UniqueString content(joinStrings(2, kSettingPrefix, kLanguageCodes[index]));
    for (const wchar_t* unit = content.get(); *unit != L'\0'; ++unit)
        fputc(static_cast<char>(*unit), file.get());
}

LanguageIndex getLanguageIndex(int store, const wchar_t* root)
{
    const int needed = getLanguageCode(root, nullptr, 0);
    UniqueString code(new wchar_t[needed > 0 ? needed : 1]);
    code[0] = L'\0';
    wchar_t* filled = code.get();
    getLanguageCode(root, &filled, needed);
    return languageIndexForCode(code.get(), store);
}
