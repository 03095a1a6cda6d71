#include "toolbar_list.h"

#include <windows.h>
#include <shlwapi.h>

#include <cstdio>
#include <cwchar>

#include "owners.h"
#include "release_identity.h"
#include "strings.h"

namespace {

const wchar_t kListFolderAndStem[] = L"\\NIMBA\\gui\\en-us\\toolbars\\tlbrlist";
const wchar_t kListExtension[] = L".qel";
// The new list is written beside the old one before it takes its place.
const wchar_t kPendingSuffix[] = L".new";
const wchar_t* const kToolbarFiles[] = {
    L"\\nimba\\gui\\en-us\\toolbars\\NIMBASTANDARD.TLB",
    L"\\nimba\\gui\\en-us\\toolbars\\NIMBAABBR.TLB",
    L"\\nimba\\gui\\en-us\\toolbars\\NIMBAGRAPHICAL.TLB",
};

// Writes the three lines into `path` in text mode (CR LF, the runtime's
// narrow character set). False when any line or the close failed, including
// a character the narrow set cannot hold.
bool writeListFile(const wchar_t* path, const wchar_t* root)
{
    UniqueFileStream list(_wfopen(path, L"w"));
    if (!list)
        return false;
    bool written = true;
    for (const wchar_t* toolbarFile : kToolbarFiles) {
        UniqueString line(joinStrings(2, root, toolbarFile));
        if (fputws(line.get(), list.get()) == WEOF || fputws(L"\n", list.get()) == WEOF)
            written = false;
    }
    written = !ferror(list.get()) && written;
    return fclose(list.release()) == 0 && written;
}

} // namespace

void writeToolbarList(const wchar_t* root)
{
    if (_wcsicmp(root, L"") == 0)
        return;

    UniqueString trimmedRoot(joinStrings(1, root));
    PathRemoveBackslashW(trimmedRoot.get());
    UniqueString listPath(joinStrings(4, trimmedRoot.get(), kListFolderAndStem, kReleaseCode, kListExtension));
    trimmedRoot.reset();
    UniqueString pendingPath(joinStrings(2, listPath.get(), kPendingSuffix));

    // A list marked read-only is kept as it stands; not every file system
    // refuses to replace one on its own.
    DWORD attributes = GetFileAttributesW(listPath.get());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0)
        return;

    // A reader finds either the old list or the whole new one, never a
    // missing or half-written file; a list that cannot be replaced stays.
    if (!writeListFile(pendingPath.get(), root) ||
        !MoveFileExW(pendingPath.get(), listPath.get(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        DeleteFileW(pendingPath.get());
}
