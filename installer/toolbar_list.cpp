#include "toolbar_list.h"

#include <windows.h>
#include <shlwapi.h>

#include <cwchar>

#include <setup_support/release_identity.h>
#include <setup_support/wide_strings.h>

#include "owners.h"

namespace {

const wchar_t kListFolder[] = L"\\NIMBA\\gui\\en-us\\toolbars";
const wchar_t kListStem[] = L"\\tlbrlist";
const wchar_t kListExtension[] = L".qel";
// The new list is first written beside the old one under a name the platform
// makes unique (this prefix, a number, ".tmp"), so that no file or folder of
// anyone else's is ever written, renamed into place or removed.
const wchar_t kPendingPrefix[] = L"tlb";
const wchar_t kLineBreak[] = L"\r\n";
const wchar_t* const kToolbarFiles[] = {
    L"\\nimba\\gui\\en-us\\toolbars\\NIMBASTANDARD.TLB",
    L"\\nimba\\gui\\en-us\\toolbars\\NIMBAABBR.TLB",
    L"\\nimba\\gui\\en-us\\toolbars\\NIMBAGRAPHICAL.TLB",
};

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

// Fills the pending file (which GetTempFileNameW made empty) and flushes it to
// the disk before it may replace the list: after a power loss the list is the
// old one or the whole new one, never an empty file.
bool writePendingFile(const wchar_t* path, const char* bytes, int size)
{
    UniqueFileHandle file(
        CreateFileW(path, GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return false;
    DWORD written = 0;
    if (!WriteFile(file.get(), bytes, static_cast<DWORD>(size), &written, nullptr) ||
        written != static_cast<DWORD>(size))
        return false;
    return FlushFileBuffers(file.get()) != FALSE;
}

} // namespace

void writeToolbarList(const wchar_t* root)
{
    if (_wcsicmp(root, L"") == 0)
        return;

    UniqueString trimmedRoot(joinStrings(1, root));
    PathRemoveBackslashW(trimmedRoot.get());
    UniqueString folder(joinStrings(2, trimmedRoot.get(), kListFolder));
    trimmedRoot.reset();
    UniqueString listPath(joinStrings(4, folder.get(), kListStem, kReleaseCode, kListExtension));

    // A list marked read-only is kept as it stands; not every file system
    // refuses to replace one on its own.
    DWORD attributes = GetFileAttributesW(listPath.get());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0)
        return;

    // A root the code page cannot hold keeps the old list whole.
    int size = 0;
    UniqueBytes bytes(allocListBytes(root, &size));
    if (!bytes)
        return;

    // Windows fills at most MAX_PATH code units here and refuses longer
    // folders; other implementations write the whole folder, however long.
    UniqueString pendingPath(new wchar_t[wcslen(folder.get()) + MAX_PATH]);
    if (GetTempFileNameW(folder.get(), kPendingPrefix, 0, pendingPath.get()) == 0)
        return;

    // A reader finds either the old list or the whole new one, never a
    // missing or half-written file; a list that cannot be replaced stays, and
    // the pending file, this run's own, goes.
    if (!writePendingFile(pendingPath.get(), bytes.get(), size) ||
        !MoveFileExW(pendingPath.get(), listPath.get(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        DeleteFileW(pendingPath.get());
}
