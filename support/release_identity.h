#pragma once

// The release this build of the setup helpers belongs to.

// Release code: part of environment variable names and file names.
inline constexpr wchar_t kReleaseCode[] = L"182";

// Release: the suffix of the release shortcut variants.
inline constexpr wchar_t kRelease[] = L"18.1";
