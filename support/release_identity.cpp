#include <setup_support/release_identity.h>

#include <windows.h>

#include <cstdio>
#include <cwchar>

#include <setup_support/wide_strings.h>

#include "owners.h"
#include "suite_names.h"

namespace {

const wchar_t kReleaseFolderPrefix[] = L"v";
const wchar_t kDiscMarkerSuffix[] = L"-1.dvd";

// Nine code units and the terminator.
const int kDiscMarkerCapacity = 10;

bool isWhiteSpace(int byte)
{
    return byte == ' ' || byte == '\t' || byte == '\n' || byte == '\v' || byte == '\f' || byte == '\r';
}

} // namespace

int readFirstWord(const wchar_t* path, wchar_t* word, int capacity)
{
    if (capacity < 1)
        return 0;
    word[0] = L'\0';
    UniqueFileStream file(_wfopen(path, L"r"));
    if (!file)
        return 0;

    // The files hold single-byte text: each byte is one code unit.
    int byte = fgetc(file.get());
    while (byte != EOF && isWhiteSpace(byte))
        byte = fgetc(file.get());
    int length = 0;
    for (; byte != EOF && !isWhiteSpace(byte); byte = fgetc(file.get())) {
        if (length == capacity - 1) {
            word[0] = L'\0';
            return 0;
        }
        word[length++] = static_cast<wchar_t>(static_cast<unsigned char>(byte));
    }
    word[length] = L'\0';
    return length > 0 ? 1 : 0;
}

int getReleaseCode(wchar_t* buffer, int capacity)
{
    return copyWhenFits(kReleaseCode, buffer, capacity);
}

int getReleaseFolderName(wchar_t* buffer, int capacity)
{
    UniqueString folderName(joinStrings(2, kReleaseFolderPrefix, kReleaseCode));
    return copyWhenFits(folderName.get(), buffer, capacity);
}

int getRootFromEnvironment(wchar_t* buffer, int capacity)
{
    UniqueString name(joinStrings(2, kRootVariablePrefix, kReleaseCode));
    const DWORD needed = GetEnvironmentVariableW(name.get(), nullptr, 0);
    if (needed == 0)
        return 0;
    if (buffer == nullptr || capacity < 0 || static_cast<DWORD>(capacity) < needed)
        return static_cast<int>(needed);
    // The value may have grown since the size query; the platform then writes
    // nothing and reports the new length.
    const DWORD got = GetEnvironmentVariableW(name.get(), buffer, static_cast<DWORD>(capacity));
    return got < static_cast<DWORD>(capacity) ? 0 : static_cast<int>(got);
}

int readDiscMarker(const wchar_t* directory, wchar_t* buffer, int capacity)
{
    UniqueString markerPath(joinStrings(4, directory, L"\\", kReleaseCode, kDiscMarkerSuffix));
    wchar_t word[kDiscMarkerCapacity];
    readFirstWord(markerPath.get(), word, kDiscMarkerCapacity);
    return copyWhenFits(word, buffer, capacity);
}
