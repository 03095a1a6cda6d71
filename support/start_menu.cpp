#include <setup_support/start_menu.h>

#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <cwchar>

#include <setup_support/privilege.h>
#include <setup_support/release_identity.h>
#include <setup_support/release_info.h>
#include <setup_support/shell_links.h>
#include <setup_support/wide_strings.h>

#include "owners.h"

namespace {

const wchar_t kLinkExtension[] = L".lnk";
const int kIconIndex = 0;

// Characters no file or folder name may hold; a colon would also name a drive
// or an alternate stream.
bool isForbiddenCharacter(wchar_t unit)
{
    return unit < 0x20 || wcschr(L":*?\"<>|", unit) != nullptr;
}

bool isSeparator(wchar_t unit)
{
    return unit == L'\\' || unit == L'/';
}

// Names the platform reserves for devices, whatever the extension or case:
// "CON.txt" opens the console, not a file in the folder.
bool isReservedDeviceName(const wchar_t* start, const wchar_t* end)
{
    static const wchar_t* const kDevices[] = {L"CON", L"PRN", L"AUX", L"NUL"};
    static const wchar_t* const kNumberedDevices[] = {L"COM", L"LPT"};
    const wchar_t* baseEnd = start;
    while (baseEnd != end && *baseEnd != L'.')
        ++baseEnd;
    // The platform also ignores blanks before the extension ("CON .txt").
    while (baseEnd != start && baseEnd[-1] == L' ')
        --baseEnd;
    const size_t length = static_cast<size_t>(baseEnd - start);
    if (length == 3) {
        for (const wchar_t* device : kDevices) {
            if (_wcsnicmp(start, device, 3) == 0)
                return true;
        }
    }
    if (length == 4 && start[3] >= L'1' && start[3] <= L'9') {
        for (const wchar_t* device : kNumberedDevices) {
            if (_wcsnicmp(start, device, 3) == 0)
                return true;
        }
    }
    return false;
}

// A path component the shell parses back to what was created. The platform
// drops trailing dots and blanks when it creates a name ("Suite." makes
// "Suite", and ".." or ". " step up a level), and device names are no files.
// An empty component (a doubled separator) is the platform's to fold.
bool isParsableComponent(const wchar_t* start, const wchar_t* end)
{
    if (start == end)
        return true;
    if (end[-1] == L'.' || end[-1] == L' ')
        return false;
    return !isReservedDeviceName(start, end);
}

// The shell parses no path of MAX_PATH code units or more: what it cannot
// parse, the remover could not remove, so it is never created either.
bool fitsShellPath(size_t length)
{
    return length < MAX_PATH;
}

// A part's length for fitsShellPath, counted no further than the limit, so
// that a name of thousands of levels costs no more than a short one.
size_t boundedLength(const wchar_t* part)
{
    return wcsnlen(part, MAX_PATH);
}

// Folds each run of backslashes in `path` into one, in place.
void collapseSeparatorRuns(wchar_t* path)
{
    wchar_t* out = path;
    for (const wchar_t* in = path; *in != L'\0'; ++in) {
        if (*in == L'\\' && out != path && out[-1] == L'\\')
            continue;
        *out++ = *in;
    }
    *out = L'\0';
}

// True when `path` is `folder` or lies below it; both in the comparable form.
bool isSameOrBelow(const wchar_t* path, const wchar_t* folder)
{
    const size_t length = wcslen(folder);
    return length > 0 && wcslen(path) >= length &&
           CompareStringOrdinal(path, static_cast<int>(length), folder, static_cast<int>(length), TRUE) ==
               CSTR_EQUAL &&
           (path[length] == L'\0' || path[length] == L'\\');
}

// `path` with one backslash between components and none at the end, and the
// short (8.3) names of its existing part spelt out: "STARTU~1" and "Startup"
// name one folder.
wchar_t* allocComparablePath(const wchar_t* path)
{
    UniqueString plain(joinStrings(1, path));
    for (wchar_t* cursor = plain.get(); *cursor != L'\0'; ++cursor) {
        if (*cursor == L'/')
            *cursor = L'\\';
    }
    collapseSeparatorRuns(plain.get());
    size_t length = wcslen(plain.get());
    if (length > 0 && plain[length - 1] == L'\\')
        plain[--length] = L'\0';
    if (wcschr(plain.get(), L'~') == nullptr)
        return plain.release();

    // The longest part that exists has a long form; the rest is new.
    for (size_t cut = length; cut > 0;) {
        const wchar_t kept = plain[cut];
        plain[cut] = L'\0';
        const DWORD needed = GetLongPathNameW(plain.get(), nullptr, 0);
        UniqueString longForm(needed > 0 ? new wchar_t[needed] : nullptr);
        const DWORD written = longForm ? GetLongPathNameW(plain.get(), longForm.get(), needed) : 0;
        plain[cut] = kept;
        if (written > 0 && written < needed)
            return joinStrings(2, longForm.get(), plain.get() + cut);
        do
            --cut;
        while (cut > 0 && plain[cut] != L'\\');
    }
    return plain.release();
}

// Windows starts every shortcut in the all-users and the user's Startup
// folder at each logon: nothing of the suite's belongs there, and such a folder
// is no product folder to remove. The folders are the platform's, whatever
// the language of Windows calls them.
bool liesInStartupFolder(const wchar_t* path)
{
    static const int kStartupFolders[] = {CSIDL_COMMON_STARTUP, CSIDL_STARTUP};
    UniqueString candidate(allocComparablePath(path));
    for (int csidl : kStartupFolders) {
        wchar_t folder[MAX_PATH + 1] = L"";
        if (!SHGetSpecialFolderPathW(nullptr, folder, csidl, FALSE))
            continue;
        UniqueString startup(allocComparablePath(folder));
        if (isSameOrBelow(candidate.get(), startup.get()))
            return true;
    }
    return false;
}

// The Programs folder for the caller's privilege into `folder`; empty when
// the platform cannot say.
void queryProgramsFolder(wchar_t (&folder)[MAX_PATH + 1])
{
    folder[0] = L'\0';
    int csidl = isUserAdmin() ? CSIDL_COMMON_PROGRAMS : CSIDL_PROGRAMS;
    if (!SHGetSpecialFolderPathW(nullptr, folder, csidl, FALSE))
        folder[0] = L'\0';
}

// The Programs folder as a new string, asked of the platform once: the
// privilege test and the folder lookup are the dearest part of every Start
// Menu operation.
wchar_t* allocProgramsFolder()
{
    wchar_t folder[MAX_PATH + 1];
    queryProgramsFolder(folder);
    return joinStrings(1, folder);
}

// <Programs><subfolder>\<name>[ <suffix>].lnk, or null when any part could
// lead outside the Programs folder, the shell could not parse the path, or the
// folder is unknown. Creation and removal compose it identically, doubled
// backslashes included.
wchar_t* allocShortcutPath(const wchar_t* subfolder, const wchar_t* name, const wchar_t* suffix)
{
    if (!isSafeStartMenuSubfolder(subfolder) || !isSafeShortcutNamePart(name) || !isSafeShortcutNamePart(suffix) ||
        name[0] == L'\0')
        return nullptr;
    UniqueString programs(allocProgramsFolder());
    if (programs[0] == L'\0')
        return nullptr;
    const bool suffixed = suffix[0] != L'\0';
    const size_t length = boundedLength(programs.get()) + boundedLength(subfolder) + 1 + boundedLength(name) +
                          (suffixed ? 1 + boundedLength(suffix) : 0) + boundedLength(kLinkExtension);
    if (!fitsShellPath(length))
        return nullptr;
    UniqueString path(joinStrings(7, programs.get(), subfolder, L"\\", name, suffixed ? L" " : nullptr,
                                  suffixed ? suffix : nullptr, kLinkExtension));
    return liesInStartupFolder(path.get()) ? nullptr : path.release();
}

} // namespace

int getProgramsFolder(wchar_t* buffer, int capacity)
{
    if (buffer != nullptr && capacity > 0)
        buffer[0] = L'\0';

    wchar_t folder[MAX_PATH + 1];
    queryProgramsFolder(folder);
    return copyWhenFits(folder, buffer, capacity);
}

int isSafeStartMenuSubfolder(const wchar_t* subfolder)
{
    if (subfolder == nullptr)
        return 0;
    // Appended to the Programs folder as it stands: without a leading
    // backslash it would name a sibling of the Programs folder.
    if (subfolder[0] != L'\0' && subfolder[0] != L'\\')
        return 0;
    const wchar_t* componentStart = subfolder;
    for (const wchar_t* cursor = subfolder;; ++cursor) {
        if (*cursor == L'\0' || isSeparator(*cursor)) {
            if (!isParsableComponent(componentStart, cursor))
                return 0;
            if (*cursor == L'\0')
                return 1;
            componentStart = cursor + 1;
        } else if (isForbiddenCharacter(*cursor)) {
            return 0;
        }
    }
}

int namesFolderBelowPrograms(const wchar_t* subfolder)
{
    for (const wchar_t* cursor = subfolder; *cursor != L'\0'; ++cursor) {
        if (!isSeparator(*cursor))
            return 1;
    }
    return 0;
}

int isSafeShortcutNamePart(const wchar_t* part)
{
    if (part == nullptr)
        return 0;
    const wchar_t* cursor = part;
    for (; *cursor != L'\0'; ++cursor) {
        if (isSeparator(*cursor) || isForbiddenCharacter(*cursor))
            return 0;
    }
    return isParsableComponent(part, cursor) ? 1 : 0;
}

int createStartMenuShortcut(const wchar_t* targetDirectory, const wchar_t* targetFileName,
                            const wchar_t* arguments, const wchar_t* iconPath, const wchar_t* workingDirectory,
                            const wchar_t* subfolder, const wchar_t* name, const wchar_t* description,
                            int showCmd, const wchar_t* suffix)
{
    UniqueString linkPath(allocShortcutPath(subfolder, name, suffix));
    if (!linkPath)
        return 0;
    // Quoted so that a target below a folder with blanks stays one path.
    UniqueString target(joinStrings(4, L"\"", targetDirectory, targetFileName, L"\""));
    createShellLink(linkPath.get(), target.get(), arguments, workingDirectory, description, iconPath, kIconIndex,
                    showCmd);
    return 0;
}

int removeStartMenuShortcut(const wchar_t* subfolder, const wchar_t* name, const wchar_t* suffix)
{
    UniqueString linkPath(allocShortcutPath(subfolder, name, suffix));
    if (linkPath)
        deleteShellLink(linkPath.get());
    return 0;
}

namespace {

// Removes <Programs><subfolder> as removeStartMenuFolder does; true when the
// folder is gone afterwards (also when it was not there).
bool removeFolderBelowPrograms(const wchar_t* subfolder)
{
    // Never the Programs folder itself, nothing outside it.
    if (!isSafeStartMenuSubfolder(subfolder) || !namesFolderBelowPrograms(subfolder))
        return false;
    UniqueString programs(allocProgramsFolder());
    if (programs[0] == L'\0' || !fitsShellPath(boundedLength(programs.get()) + boundedLength(subfolder)))
        return false;
    UniqueString folder(joinStrings(2, programs.get(), subfolder));
    // The shell does not parse an empty component ("Programs\\Help" from an
    // empty or backslash-ended folder name): give it the single-separator form.
    collapseSeparatorRuns(folder.get() + wcslen(programs.get()));
    if (liesInStartupFolder(folder.get()))
        return false;
    removeShellFolder(folder.get());
    return !PathFileExistsW(folder.get());
}

// Cuts the last component (and the separators around it) off `path`.
void cutLastComponent(wchar_t* path)
{
    size_t length = wcslen(path);
    while (length > 0 && isSeparator(path[length - 1]))
        --length;
    while (length > 0 && !isSeparator(path[length - 1]))
        --length;
    while (length > 0 && isSeparator(path[length - 1]))
        --length;
    path[length] = L'\0';
}

} // namespace

int removeStartMenuFolder(const wchar_t* subfolder)
{
    removeFolderBelowPrograms(subfolder);
    return 0;
}

int removeStartMenuFolderLevels(const wchar_t* subfolder)
{
    if (subfolder == nullptr)
        return 0;
    // Deepest first; a level that stays holds another product's files, and
    // so do the levels above it.
    UniqueString level(joinStrings(1, subfolder));
    while (namesFolderBelowPrograms(level.get()) && removeFolderBelowPrograms(level.get()))
        cutLastComponent(level.get());
    return 0;
}

int removeProgramsSubfolder(const wchar_t* name)
{
    UniqueString subfolder(joinStrings(2, L"\\", name));
    return removeStartMenuFolder(subfolder.get());
}

int createReleaseShortcut(const wchar_t* targetDirectory, const wchar_t* targetFileName, const wchar_t* arguments,
                          const wchar_t* iconPath, const wchar_t* workingDirectory, const wchar_t* subfolder,
                          const wchar_t* name, const wchar_t* description, int showCmd)
{
    return createStartMenuShortcut(targetDirectory, targetFileName, arguments, iconPath, workingDirectory,
                                   subfolder, name, description, showCmd, kRelease);
}

int createRevisionedShortcut(const wchar_t* targetDirectory, const wchar_t* targetFileName,
                             const wchar_t* arguments, const wchar_t* iconPath, const wchar_t* workingDirectory,
                             const wchar_t* subfolder, const wchar_t* name, const wchar_t* description,
                             int showCmd)
{
    UniqueString revision(allocReleaseValue(getShortcutRevision));
    return createStartMenuShortcut(targetDirectory, targetFileName, arguments, iconPath, workingDirectory,
                                   subfolder, name, description, showCmd, revision.get());
}

int createLocalRevisionedShortcut(const wchar_t* targetDirectory, const wchar_t* targetFileName,
                                  const wchar_t* arguments, const wchar_t* iconPath,
                                  const wchar_t* workingDirectory, const wchar_t* subfolder, const wchar_t* name,
                                  const wchar_t* description, int showCmd)
{
    UniqueString revision(allocReleaseValue(getLocalShortcutRevision));
    return createStartMenuShortcut(targetDirectory, targetFileName, arguments, iconPath, workingDirectory,
                                   subfolder, name, description, showCmd, revision.get());
}

int removeRevisionedShortcut(const wchar_t* subfolder, const wchar_t* name)
{
    UniqueString revision(allocReleaseValue(getShortcutRevision));
    return removeStartMenuShortcut(subfolder, name, revision.get());
}

int removeReleaseShortcut(const wchar_t* subfolder, const wchar_t* name)
{
    return removeStartMenuShortcut(subfolder, name, kRelease);
}

int removeUnsuffixedShortcut(const wchar_t* subfolder, const wchar_t* name)
{
    return removeStartMenuShortcut(subfolder, name, L"");
}

int removeLocalRevisionedShortcut(const wchar_t* subfolder, const wchar_t* name)
{
    UniqueString revision(allocReleaseValue(getLocalShortcutRevision));
    return removeStartMenuShortcut(subfolder, name, revision.get());
}
