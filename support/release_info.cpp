#include "release_info.h"

#include <windows.h>
#include <shlwapi.h>

#include <cstdint>
#include <cstring>
#include <cwchar>
#include <new>

#include "owners.h"
#include "strings.h"

namespace {

const wchar_t kReleaseInfoInTree[] = L"\\commonfiles\\globalsettings\\relinfo.xml";
const wchar_t kReleaseInfoFileName[] = L"relinfo.xml";
const char kStartMenuFolderKey[] = "startMenuFolderName";
const char kRevisionKey[] = "startMenuShortcutAppendRevision";

// Five cuts: the file name, then four directory levels.
const int kCutsToInstallRoot = 5;

// A path of the platform never exceeds this many code units.
const DWORD kLongestPath = 32768;
const size_t kLongestValue = kLongestPath - 1;

// First occurrence of the needleLength bytes of `needle` in [start, end), or
// null.
const char* findBytes(const char* start, const char* end, const char* needle, size_t needleLength)
{
    if (needleLength == 0)
        return start;
    while (static_cast<size_t>(end - start) >= needleLength) {
        const size_t firstPlaces = static_cast<size_t>(end - start) - needleLength + 1;
        const char* candidate = static_cast<const char*>(memchr(start, needle[0], firstPlaces));
        if (candidate == nullptr)
            return nullptr;
        if (memcmp(candidate, needle, needleLength) == 0)
            return candidate;
        start = candidate + 1;
    }
    return nullptr;
}

// Finds `key` in the release information file at `filePath` and hands out its
// value by the size-and-fill protocol.
int lookupReleaseValue(const wchar_t* filePath, const char* key, wchar_t** value, int capacity)
{
    char* rawBytes = nullptr;
    readFileBytes(filePath, &rawBytes);
    // A file that cannot be opened is a file without the key; a failed read
    // still leaves a terminated buffer of what was read.
    UniqueBytes bytes(rawBytes);
    return findReleaseValue(bytes.get(), bytes ? strlen(bytes.get()) : 0, key, value, capacity);
}

// The release information file of the installation tree.
wchar_t* allocReleaseInfoPathInTree()
{
    int count = getInstallRoot(nullptr, 0);
    UniqueString root(new wchar_t[count]);
    getInstallRoot(root.get(), count);
    return joinStrings(2, root.get(), kReleaseInfoInTree);
}

// The release information file beside the running program.
wchar_t* allocReleaseInfoPathBesideProgram()
{
    UniqueString folder(getProgramPath());
    stripLastPathComponent(folder.get());
    return joinStrings(2, folder.get(), kReleaseInfoFileName);
}

} // namespace

int readFileBytes(const wchar_t* path, char** bytes)
{
    // Open existing files only: a reader must never create files in the tree.
    UniqueFileHandle file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return 0;

    LARGE_INTEGER size;
    if (!GetFileSizeEx(file.get(), &size) || size.QuadPart < 0)
        return 0;
    const uint64_t fileSize = static_cast<uint64_t>(size.QuadPart);
    if (fileSize >= SIZE_MAX)
        return 0;
    char* buffer = new (std::nothrow) char[static_cast<size_t>(fileSize) + 1];
    if (buffer == nullptr)
        return 0;
    *bytes = buffer;

    // ReadFile counts in 32 bits: read in pieces, and never more than the
    // buffer holds even if the file grows meanwhile.
    const DWORD kLargestRead = 1u << 30;
    size_t offset = 0;
    size_t remaining = static_cast<size_t>(fileSize);
    int result = 1;
    while (remaining > 0) {
        DWORD wanted = remaining < kLargestRead ? static_cast<DWORD>(remaining) : kLargestRead;
        DWORD got = 0;
        if (!ReadFile(file.get(), buffer + offset, wanted, &got, nullptr)) {
            result = 0;
            break;
        }
        if (got == 0)
            break;
        offset += got;
        remaining -= got;
    }
    buffer[offset] = '\0';
    return result;
}

int stripLastPathComponent(wchar_t* path)
{
    PathRemoveBackslashW(path);
    wchar_t* lastSeparator = wcsrchr(path, L'\\');
    if (lastSeparator == nullptr)
        return 0;
    lastSeparator[1] = L'\0';
    return 1;
}

void stripToInstallRoot(const wchar_t* programPath, wchar_t* root)
{
    wcscpy(root, programPath);
    for (int cut = 0; cut < kCutsToInstallRoot; ++cut) {
        stripLastPathComponent(root);
        PathRemoveBackslashW(root);
    }
}

wchar_t* getProgramPath()
{
    // GetModuleFileNameW cuts a path that does not fit without saying so in
    // its result: grow until the answer is shorter than the buffer.
    for (DWORD capacity = MAX_PATH * 2;; capacity *= 2) {
        UniqueString path(new wchar_t[capacity]);
        DWORD length = GetModuleFileNameW(nullptr, path.get(), capacity);
        if (length == 0) {
            path[0] = L'\0';
            return path.release();
        }
        if (length < capacity || capacity >= kLongestPath)
            return path.release();
    }
}

int getInstallRoot(wchar_t* buffer, int capacity)
{
    UniqueString programPath(getProgramPath());
    size_t length = wcslen(programPath.get());
    // The root is cut in place from a copy of the whole path, so the buffer
    // must hold the path and its terminator.
    if (buffer == nullptr || capacity < 0 || static_cast<size_t>(capacity) < length + 1)
        return static_cast<int>(length + 1);
    buffer[0] = L'\0';
    stripToInstallRoot(programPath.get(), buffer);
    return 0;
}

int findReleaseValue(const char* bytes, size_t size, const char* key, wchar_t** value, int capacity)
{
    const bool filling = value != nullptr && *value != nullptr;
    if (filling && capacity > 0)
        (*value)[0] = L'\0';
    if (bytes == nullptr || key == nullptr)
        return 1;

    // Scanned as bytes, never parsed: the value is whatever lies between the
    // first two double quotes after the first occurrence of the key, and the
    // text ends at its first zero byte.
    const char* zero = static_cast<const char*>(memchr(bytes, '\0', size));
    const char* end = zero != nullptr ? zero : bytes + size;
    const char* found = findBytes(bytes, end, key, strlen(key));
    if (found == nullptr)
        return 1;
    const char* opening = static_cast<const char*>(memchr(found, '"', static_cast<size_t>(end - found)));
    if (opening == nullptr)
        return 1;
    const char* closing = static_cast<const char*>(memchr(opening + 1, '"', static_cast<size_t>(end - opening - 1)));
    if (closing == nullptr)
        return 1;

    // Every value names part of a path, and no path is longer than this: a
    // longer one is no value, and cannot exhaust a 32-bit program's memory.
    size_t byteCount = static_cast<size_t>(closing - (opening + 1));
    if (byteCount > kLongestValue)
        return 1;
    int count = static_cast<int>(byteCount) + 1;

    // The file may have grown since the size query: never write beyond what
    // the caller allocated. UTF-8 of n bytes never yields more than n units.
    if (filling && byteCount > 0 && capacity >= count) {
        int written = MultiByteToWideChar(CP_UTF8, 0, opening + 1, static_cast<int>(byteCount), *value,
                                          static_cast<int>(byteCount));
        (*value)[written] = L'\0';
    }
    return count;
}

int getStartMenuFolderName(wchar_t** value, int capacity)
{
    UniqueString filePath(allocReleaseInfoPathInTree());
    return lookupReleaseValue(filePath.get(), kStartMenuFolderKey, value, capacity);
}

int getShortcutRevision(wchar_t** value, int capacity)
{
    UniqueString filePath(allocReleaseInfoPathInTree());
    return lookupReleaseValue(filePath.get(), kRevisionKey, value, capacity);
}

int getLocalShortcutRevision(wchar_t** value, int capacity)
{
    UniqueString filePath(allocReleaseInfoPathBesideProgram());
    return lookupReleaseValue(filePath.get(), kRevisionKey, value, capacity);
}

wchar_t* allocReleaseValue(int (*lookup)(wchar_t** value, int capacity))
{
    int count = lookup(nullptr, 0);
    wchar_t* value = new wchar_t[count];
    value[0] = L'\0';
    lookup(&value, count);
    return value;
}
