#pragma once

// The user's language for the suite: English, German, French or Japanese.
//
// languagesettings.txt holds "lang=" and a language code. It is read first
// from %APPDATA%\Nimba\v182\ (the per-user file; none when APPDATA is unset or
// empty), then from <root>\commonfiles\Language\ (installation-wide, only
// read); without either file the user's default locale decides. A file value
// that is not one of the four codes (compared exactly) is replaced by the
// locale's language, which is then stored in the per-user file when asked to.

#include <windows.h>

enum LanguageIndex : int {
    kLanguageEnglish = 0,  // "en-us"
    kLanguageGerman = 1,   // "de"
    kLanguageFrench = 2,   // "fr"
    kLanguageJapanese = 3, // "ja"
};

// The language to use, by the order above. With `store` nonzero a file value
// that is no code makes the per-user file hold the locale's language.
LanguageIndex getLanguageIndex(int store, const wchar_t* root);

// The code of the file that decides, or of the locale when no file exists,
// by the two-call protocol: 0 when it was copied into *code (`capacity` code
// units), else the needed length. A file without a value gives the empty code:
// needed length 0, and *code holds the empty string.
int getLanguageCode(const wchar_t* root, wchar_t** code, int capacity);

// The index of an exact code; for any other code (the empty one included) the
// locale's language, stored in the per-user file when `store` is nonzero.
LanguageIndex languageIndexForCode(const wchar_t* code, int store);

// The language of the user's default locale; English for a locale of no other
// language and for one that is not installed.
LanguageIndex getLocaleLanguage();

// The language a locale identifier selects by the suite's lists of locales;
// English for one in no list. Whether the locale is installed is not asked.
LanguageIndex languageIndexForLocale(LCID locale);

// The code of a language index, copied when `capacity` holds it. Always
// returns the needed length (6 for English, 3 for the others, 0 for an index
// out of range); a capacity above 1 first empties the buffer.
int getLanguageCodeFor(int index, wchar_t* buffer, int capacity);

// The value of a settings file: the text after the first "=" of its first
// whitespace-delimited word, copied into *value when `capacity` holds it.
// Returns the value's needed length, or 0 when the file has no value: missing,
// unreadable, only white space, a first word without "=", or one longer than
// 49 code units.
int readSettingValue(const wchar_t* path, wchar_t** value, int capacity);

// With `store` nonzero, makes the per-user file hold exactly "lang=" and the
// index's code (single-byte text, no line end), creating its folders. Writes
// nothing when `store` is 0, APPDATA is unset or empty, or the index is out of
// range. Failures are not reported.
void writeLanguageSettings(LanguageIndex index, int store);
