#include "toolbar_list.h"

#include <windows.h>
#include <shlwapi.h>
#include <winternl.h>

#include <cwchar>

#include <setup_support/release_identity.h>
#include <setup_support/wide_strings.h>

#include "owners.h"

namespace {

// The folders from the root down to the list's, opened one below the other.
const wchar_t* const kListFolderLevels[] = {L"NIMBA", L"gui", L"en-us", L"toolbars"};
const size_t kLevelCount = sizeof(kListFolderLevels) / sizeof(kListFolderLevels[0]);
const wchar_t kListStem[] = L"tlbrlist";
const wchar_t kListExtension[] = L".qel";
// The new list is first written beside the old one under a name of its own
// (this prefix, four hex digits, ".tmp"), so that no file or folder of anyone
// else's is ever written, renamed into place or removed.
const wchar_t kPendingPrefix[] = L"tlb";
const wchar_t kPendingExtension[] = L".tmp";
const unsigned kPendingNames = 0x10000;
const wchar_t kLineBreak[] = L"\r\n";
const wchar_t* const kToolbarFiles[] = {
    L"\\nimba\\gui\\en-us\\toolbars\\NIMBASTANDARD.TLB",
    L"\\nimba\\gui\\en-us\\toolbars\\NIMBAABBR.TLB",
    L"\\nimba\\gui\\en-us\\toolbars\\NIMBAGRAPHICAL.TLB",
};
const NTSTATUS kNameCollision = static_cast<NTSTATUS>(0xC0000035);
// What the folders are opened for: to open and create below them. Without
// FILE_SHARE_DELETE nobody can rename or remove a level while the list is
// being written.
const ACCESS_MASK kFolderAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
const ULONG kFolderSharing = FILE_SHARE_READ | FILE_SHARE_WRITE;

// The three lines in the system's ANSI code page, the narrow character set in
// which the suite's programs read the list; *size receives the byte count.
// Null when a character of the root has no form there: a stand-in or
// look-alike character would name another folder.
char* allocListBytes(const wchar_t* root, int* size)
{
    UniqueString text(joinStrings(9, root, kToolbarFiles[0], kLineBreak, root, kToolbarFiles[1], kLineBreak, root,
                                  kToolbarFiles[2], kLineBreak));
    const int length = static_cast<int>(wcslen(text.get()));

    // UTF-8 holds every character but refuses the default-character question;
    // it reports what it cannot encode (a lone surrogate) as an error instead.
    BOOL usedDefault = FALSE;
    const bool utf8 = GetACP() == CP_UTF8;
    const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
    BOOL* usedDefaultAnswer = utf8 ? nullptr : &usedDefault;

    const int count = WideCharToMultiByte(CP_ACP, flags, text.get(), length, nullptr, 0, nullptr, usedDefaultAnswer);
    if (count <= 0 || usedDefault)
        return nullptr;
    UniqueBytes bytes(new char[count]);
    if (WideCharToMultiByte(CP_ACP, flags, text.get(), length, bytes.get(), count, nullptr, usedDefaultAnswer) !=
            count ||
        usedDefault)
        return nullptr;
    *size = count;
    return bytes.release();
}

// Opens `name` in the folder held by `parent` itself: no path is resolved
// anew, and a link there is opened as the link, not followed. Null when it
// cannot be opened.
HANDLE openBelow(HANDLE parent, const wchar_t* name, ACCESS_MASK access, ULONG sharing, ULONG disposition,
                 ULONG options, NTSTATUS* status = nullptr)
{
    UNICODE_STRING objectName;
    RtlInitUnicodeString(&objectName, name);
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &objectName, OBJ_CASE_INSENSITIVE, parent, nullptr);
    IO_STATUS_BLOCK io;
    HANDLE opened = nullptr;
    const NTSTATUS result = NtCreateFile(&opened, access, &attributes, &io, nullptr, FILE_ATTRIBUTE_NORMAL, sharing,
                                         disposition, options | FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT,
                                         nullptr, 0);
    if (status != nullptr)
        *status = result;
    return NT_SUCCESS(result) ? opened : nullptr;
}

// The path of the object behind `handle` on its volume, as the file system
// gives it (a link above it resolved), without a trailing separator; null when
// it cannot say. Asked by handle, not by a path that could be resolved anew.
wchar_t* allocOpenedPath(HANDLE handle)
{
    const size_t kLongestPath = 32767;
    const size_t size = sizeof(FILE_NAME_INFO) + kLongestPath * sizeof(wchar_t);
    UniqueBytes buffer(new char[size]);
    FILE_NAME_INFO* info = reinterpret_cast<FILE_NAME_INFO*>(buffer.get());
    if (!GetFileInformationByHandleEx(handle, FileNameInfo, info, static_cast<DWORD>(size)))
        return nullptr;
    size_t length = info->FileNameLength / sizeof(wchar_t);
    if (length > kLongestPath)
        return nullptr;
    if (length > 0 && info->FileName[length - 1] == L'\\')
        --length;
    wchar_t* path = new wchar_t[length + 1];
    wmemcpy(path, info->FileName, length);
    path[length] = L'\0';
    return path;
}

// A level is the folder of that name in its parent only when it is no link:
// no reparse point of its own, and a path that is its parent's with the
// level's name appended. Where a link opens as its target (Wine), that path
// shows it.
bool isPlainLevel(HANDLE level, const wchar_t* parentPath, const wchar_t* name)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(level, &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
        return false;
    UniqueString levelPath(allocOpenedPath(level));
    UniqueString expected(joinStrings(3, parentPath, L"\\", name));
    return levelPath && CompareStringOrdinal(levelPath.get(), -1, expected.get(), -1, TRUE) == CSTR_EQUAL;
}

// Opens the root and each level below it down to the list's folder, each
// relative to the one above, and keeps them all open in `held` so that none
// can be renamed, removed or swapped for a link until the list is written.
// Returns the list folder's handle, or null when a level is missing or a link.
// Links above the root are the administrator's and are followed.
HANDLE holdListFolder(const wchar_t* trimmedRoot, UniqueHandle (&held)[kLevelCount + 1])
{
    HANDLE root = CreateFileW(trimmedRoot, kFolderAccess, kFolderSharing, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (root == INVALID_HANDLE_VALUE)
        return nullptr;
    held[0].reset(root);
    UniqueString parentPath(allocOpenedPath(root));
    if (!parentPath)
        return nullptr;
    for (size_t i = 0; i < kLevelCount; ++i) {
        held[i + 1].reset(openBelow(held[i].get(), kListFolderLevels[i], kFolderAccess, kFolderSharing, FILE_OPEN,
                                    FILE_DIRECTORY_FILE));
        if (!held[i + 1] || !isPlainLevel(held[i + 1].get(), parentPath.get(), kListFolderLevels[i]))
            return nullptr;
        parentPath.reset(joinStrings(3, parentPath.get(), L"\\", kListFolderLevels[i]));
    }
    return held[kLevelCount].get();
}

// What the file system says of `name` in the held folder, opened as itself;
// false when there is nothing of that name.
bool describeBelow(HANDLE folder, const wchar_t* name, BY_HANDLE_FILE_INFORMATION* info)
{
    UniqueHandle named(openBelow(folder, name, FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN, 0));
    return named && GetFileInformationByHandle(named.get(), info);
}

// Creates a new pending file in `folder` under a name nobody holds yet, open
// for this run alone, and hands out that name in `name`; null when none can be
// made.
HANDLE createPendingFile(HANDLE folder, UniqueString& name)
{
    const unsigned start = GetTickCount();
    for (unsigned tried = 0; tried < kPendingNames; ++tried) {
        wchar_t digits[5] = L"";
        const unsigned number = (start + tried) & 0xFFFF;
        for (int i = 0; i < 4; ++i)
            digits[i] = L"0123456789ABCDEF"[(number >> (12 - 4 * i)) & 0xF];
        name.reset(joinStrings(3, kPendingPrefix, digits, kPendingExtension));
        NTSTATUS status = 0;
        HANDLE pending = openBelow(folder, name.get(), GENERIC_WRITE | DELETE | SYNCHRONIZE, 0, FILE_CREATE,
                                   FILE_NON_DIRECTORY_FILE, &status);
        if (pending != nullptr || status != kNameCollision)
            return pending;
    }
    return nullptr;
}

// Fills the pending file and flushes it to the disk before it may replace the
// list: after a power loss the list is the old one or the whole new one,
// never an empty file.
bool writePendingFile(HANDLE pending, const char* bytes, int size)
{
    DWORD written = 0;
    if (!WriteFile(pending, bytes, static_cast<DWORD>(size), &written, nullptr) ||
        written != static_cast<DWORD>(size))
        return false;
    return FlushFileBuffers(pending) != FALSE;
}

// True when `name` in the held folder is still the file behind `file`. Windows
// lets nobody rename or replace a file held open without sharing, but Wine
// resolves a held file's name anew for a rename or a removal: a link swapped
// in there would have the rename move, or the removal delete, what it leads to.
bool namesHeldFile(HANDLE folder, const wchar_t* name, HANDLE file)
{
    BY_HANDLE_FILE_INFORMATION named;
    BY_HANDLE_FILE_INFORMATION held;
    return describeBelow(folder, name, &named) && GetFileInformationByHandle(file, &held) &&
           (named.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 &&
           named.dwVolumeSerialNumber == held.dwVolumeSerialNumber && named.nFileIndexHigh == held.nFileIndexHigh &&
           named.nFileIndexLow == held.nFileIndexLow;
}

// Renames the pending file to `listName` in the held folder, replacing the
// old list (a link of that name is replaced, not followed).
bool replaceList(HANDLE pending, HANDLE folder, const wchar_t* listName)
{
    const size_t nameBytes = wcslen(listName) * sizeof(wchar_t);
    const size_t size = sizeof(FILE_RENAME_INFORMATION) + nameBytes;
    UniqueBytes buffer(new char[size]());
    FILE_RENAME_INFORMATION* rename = reinterpret_cast<FILE_RENAME_INFORMATION*>(buffer.get());
    rename->ReplaceIfExists = TRUE;
    rename->RootDirectory = folder;
    rename->FileNameLength = static_cast<ULONG>(nameBytes);
    memcpy(rename->FileName, listName, nameBytes);
    IO_STATUS_BLOCK io;
    return NT_SUCCESS(NtSetInformationFile(pending, &io, rename, static_cast<ULONG>(size),
                                           FileRenameInformation));
}

} // namespace

void writeToolbarList(const wchar_t* root)
{
    if (_wcsicmp(root, L"") == 0)
        return;

    // A root the code page cannot hold keeps the old list whole.
    int size = 0;
    UniqueBytes bytes(allocListBytes(root, &size));
    if (!bytes)
        return;

    UniqueString trimmedRoot(joinStrings(1, root));
    PathRemoveBackslashW(trimmedRoot.get());
    UniqueHandle held[kLevelCount + 1];
    HANDLE folder = holdListFolder(trimmedRoot.get(), held);
    trimmedRoot.reset();
    if (folder == nullptr)
        return;

    // A list marked read-only is kept as it stands; not every file system
    // refuses to replace one on its own.
    UniqueString listName(joinStrings(3, kListStem, kReleaseCode, kListExtension));
    BY_HANDLE_FILE_INFORMATION list;
    if (describeBelow(folder, listName.get(), &list) && (list.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0)
        return;

    // A reader finds either the old list or the whole new one, never a
    // missing or half-written file; a list that cannot be replaced stays, and
    // the pending file, this run's own, goes through its own handle. A pending
    // name that is no longer this run's is left to whoever took it.
    UniqueString pendingName;
    UniqueHandle pending(createPendingFile(folder, pendingName));
    if (!pending)
        return;
    const bool written = writePendingFile(pending.get(), bytes.get(), size);
    if (!namesHeldFile(folder, pendingName.get(), pending.get()))
        return;
    if (!written || !replaceList(pending.get(), folder, listName.get())) {
        FILE_DISPOSITION_INFO disposition = {TRUE};
        SetFileInformationByHandle(pending.get(), FileDispositionInfo, &disposition, sizeof(disposition));
    }
}
