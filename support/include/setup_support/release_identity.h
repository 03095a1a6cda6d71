#pragma once

// The release this build of the setup helpers belongs to, and the names
// derived from it.
//
// The calls that hand out a value take a buffer (or null) and its capacity in
// code units: when the capacity holds the value and its terminator they copy
// it and return 0, otherwise they write nothing and return that needed length.
// A first call with null and 0 therefore tells what to allocate.

// Release code: part of environment variable names and file names.
inline constexpr wchar_t kReleaseCode[] = L"182";

// Release: the suffix of the release shortcut variants.
inline constexpr wchar_t kRelease[] = L"18.1";

// The release code, "182" (needed length 4).
int getReleaseCode(wchar_t* buffer, int capacity);

// The per-release folder name of per-user settings, "v182" (needed length 5).
int getReleaseFolderName(wchar_t* buffer, int capacity);

// The installation root as published in the process environment variable
// ZEP_ROOT182. Unset, the needed length is 0: the call returns 0 and leaves
// the buffer as it was.
int getRootFromEnvironment(wchar_t* buffer, int capacity);

// The first whitespace-delimited word of the disc marker file
// `directory`\182-1.dvd: at most 9 code units. A missing or empty marker, or
// a first word longer than 9 code units, yields the empty string (needed
// length 1).
int readDiscMarker(const wchar_t* directory, wchar_t* buffer, int capacity);

// Reads the first whitespace-delimited word of a single-byte text file into
// `word` (`capacity` code units, terminator included), leading white space
// skipped. A missing or unreadable file, one that holds only white space, and
// a word too long for `word` all give the empty string: a cut word would be
// another word. 1 when a word was read, else 0.
int readFirstWord(const wchar_t* path, wchar_t* word, int capacity);
