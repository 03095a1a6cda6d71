#include <setup_support/release_info.h>

#include <windows.h>
#include <shlwapi.h>

#include <cstdint>
#include <cstring>
#include <cwchar>
#include <new>

#include <setup_support/wide_strings.h>

#include "owners.h"
#include "release_info_internal.h"

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

// Release information is read this much at a time: a real file fits in one
// piece, and a huge one is read only as far as its answer lies.
const DWORD kPieceSize = 64 * 1024;

enum ScanStage { kSeekingKey, kSeekingOpening, kInValue, kFound, kNoValue };

bool isAnswered(const ReleaseValueScan* scan)
{
    return scan->stage == kFound || scan->stage == kNoValue;
}

// Takes the bytes of [cursor, end), which hold no zero byte, after the key's
// first byte: first the opening quote, then the value up to its closing one.
const char* takeAfterKey(ReleaseValueScan* scan, const char* cursor, const char* end)
{
    while (cursor < end && !isAnswered(scan)) {
        const char* quote = static_cast<const char*>(memchr(cursor, '"', static_cast<size_t>(end - cursor)));
        const char* stop = quote != nullptr ? quote : end;
        if (scan->stage == kInValue) {
            const size_t span = static_cast<size_t>(stop - cursor);
            // Every value names part of a path, and no path is longer than
            // this: a longer one is no value, and is not read any further.
            if (span > kLongestValue - scan->valueLength) {
                scan->stage = kNoValue;
                return end;
            }
            memcpy(scan->value.get() + scan->valueLength, cursor, span);
            scan->valueLength += span;
        }
        if (quote == nullptr)
            return end;
        cursor = quote + 1;
        if (scan->stage == kSeekingOpening) {
            scan->stage = kInValue;
            scan->value.reset(new char[kLongestValue]);
            scan->valueLength = 0;
        } else {
            scan->stage = kFound;
        }
    }
    return cursor;
}

// Looks for the key's first occurrence in [cursor, end), which holds no zero
// byte, carrying a partial match over from the piece before.
const char* seekKey(ReleaseValueScan* scan, const char* cursor, const char* end)
{
    while (cursor < end) {
        if (scan->matched == 0) {
            cursor = static_cast<const char*>(memchr(cursor, scan->key[0], static_cast<size_t>(end - cursor)));
            if (cursor == nullptr)
                return end;
        }
        const char byte = *cursor++;
        while (scan->matched > 0 && scan->key[scan->matched] != byte)
            scan->matched = scan->fallback[scan->matched - 1];
        if (scan->key[scan->matched] == byte)
            ++scan->matched;
        if (scan->matched == scan->keyLength) {
            // The opening quote is looked for from the key's own first byte on.
            scan->stage = kSeekingOpening;
            takeAfterKey(scan, scan->key, scan->key + scan->keyLength);
            return cursor;
        }
    }
    return cursor;
}

// Finds `key` in the release information file at `filePath` and hands out its
// value by the size-and-fill protocol. A file that cannot be opened is a file
// without the key; a failed read leaves what was read before it.
int lookupReleaseValue(const wchar_t* filePath, const char* key, wchar_t** value, int capacity)
{
    ReleaseValueScan scan;
    beginReleaseValueScan(&scan, key);
    // Open existing files only: a reader must never create files in the tree.
    UniqueFileHandle file(CreateFileW(filePath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (file) {
        UniqueBytes piece(new char[kPieceSize]);
        DWORD got = 0;
        while (ReadFile(file.get(), piece.get(), kPieceSize, &got, nullptr) && got > 0) {
            if (continueReleaseValueScan(&scan, piece.get(), got))
                break;
        }
    }
    return finishReleaseValueScan(&scan, value, capacity);
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

void beginReleaseValueScan(ReleaseValueScan* scan, const char* key)
{
    scan->key = key;
    scan->keyLength = key != nullptr ? strlen(key) : 0;
    scan->matched = 0;
    scan->stage = key == nullptr ? kNoValue : scan->keyLength == 0 ? kSeekingOpening : kSeekingKey;
    scan->value.reset();
    scan->valueLength = 0;
    // How far a partial match falls back when the next byte does not extend
    // it, so that no byte is read twice and a key split between pieces is found.
    scan->fallback.reset(new size_t[scan->keyLength + 1]);
    scan->fallback[0] = 0;
    size_t length = 0;
    for (size_t i = 1; i < scan->keyLength; ++i) {
        while (length > 0 && key[i] != key[length])
            length = scan->fallback[length - 1];
        if (key[i] == key[length])
            ++length;
        scan->fallback[i] = length;
    }
}

bool continueReleaseValueScan(ReleaseValueScan* scan, const char* piece, size_t size)
{
    if (isAnswered(scan))
        return true;
    // The text ends at its first zero byte.
    const char* zero = static_cast<const char*>(memchr(piece, '\0', size));
    const char* end = zero != nullptr ? zero : piece + size;
    const char* cursor = piece;
    while (cursor < end && !isAnswered(scan))
        cursor = scan->stage == kSeekingKey ? seekKey(scan, cursor, end) : takeAfterKey(scan, cursor, end);
    if (zero != nullptr && !isAnswered(scan))
        scan->stage = kNoValue;
    return isAnswered(scan);
}

int finishReleaseValueScan(ReleaseValueScan* scan, wchar_t** value, int capacity)
{
    const bool filling = value != nullptr && *value != nullptr;
    if (filling && capacity > 0)
        (*value)[0] = L'\0';
    if (scan->stage != kFound)
        return 1;
    const int byteCount = static_cast<int>(scan->valueLength);
    const int count = byteCount + 1;
    // The file may have grown since the size query: never write beyond what
    // the caller allocated. UTF-8 of n bytes never yields more than n units.
    if (filling && byteCount > 0 && capacity >= count) {
        const int written = MultiByteToWideChar(CP_UTF8, 0, scan->value.get(), byteCount, *value, byteCount);
        (*value)[written] = L'\0';
    }
    return count;
}

int findReleaseValue(const char* bytes, size_t size, const char* key, wchar_t** value, int capacity)
{
    ReleaseValueScan scan;
    beginReleaseValueScan(&scan, bytes != nullptr ? key : nullptr);
    if (bytes != nullptr)
        continueReleaseValueScan(&scan, bytes, size);
    return finishReleaseValueScan(&scan, value, capacity);
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
    // Owned until handed out: the second lookup allocates too.
    UniqueString value(new wchar_t[count]);
    value[0] = L'\0';
    wchar_t* filled = value.get();
    lookup(&filled, count);
    return value.release();
}
