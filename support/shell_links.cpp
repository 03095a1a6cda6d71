#include <setup_support/shell_links.h>

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <cerrno>
#include <cwchar>
#include <direct.h>

#include <setup_support/release_info.h>
#include <setup_support/wide_strings.h>

#include "owners.h"

namespace {

// The shell's classes and interfaces used here, defined here rather than taken
// from the platform's identifier library, whose tables would all come along.
const CLSID kShellDesktopClass = {0x00021400, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const CLSID kShellLinkClass = {0x00021401, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID kShellFolderInterface = {0x000214E6, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID kShellLinkInterface = {0x000214F9, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID kPersistFileInterface = {0x0000010B, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// Item lists belong to the shell allocator.
struct ItemListDeleter {
    void operator()(ITEMIDLIST* items) const { CoTaskMemFree(items); }
};
using UniqueItemList = std::unique_ptr<ITEMIDLIST, ItemListDeleter>;

// Whether the shell shows any file in `folderPath`: S_FALSE when it shows
// none; S_OK when it does or the enumeration itself failed (the folder is
// then kept); a failing COM result when the folder could not be reached.
// Only non-hidden, non-folder items are enumerated.
HRESULT findVisibleFile(const wchar_t* folderPath)
{
    IShellFolder* rawObject = nullptr;
    HRESULT result = CoCreateInstance(kShellDesktopClass, nullptr, CLSCTX_INPROC_SERVER, kShellFolderInterface,
                                      reinterpret_cast<void**>(&rawObject));
    if (FAILED(result))
        return result;
    // Created only to prove the shell is there; the desktop folder comes next.
    UniqueCom<IShellFolder> shellAvailable(rawObject);

    IShellFolder* rawDesktop = nullptr;
    result = SHGetDesktopFolder(&rawDesktop);
    if (FAILED(result))
        return result;
    UniqueCom<IShellFolder> desktop(rawDesktop);

    UniqueBstr displayName(SysAllocString(folderPath));
    ITEMIDLIST* rawItems = nullptr;
    ULONG attributes = SFGAO_HASSUBFOLDER | SFGAO_FOLDER;
    result = desktop->ParseDisplayName(nullptr, nullptr, displayName.get(), nullptr, &rawItems, &attributes);
    displayName.reset();
    if (FAILED(result))
        return result;
    UniqueItemList items(rawItems);

    IShellFolder* rawFolder = nullptr;
    result = desktop->BindToObject(items.get(), nullptr, kShellFolderInterface, reinterpret_cast<void**>(&rawFolder));
    if (FAILED(result))
        return result;
    UniqueCom<IShellFolder> folder(rawFolder);

    IEnumIDList* rawEnumerator = nullptr;
    result = folder->EnumObjects(nullptr, SHCONTF_NONFOLDERS, &rawEnumerator);
    if (FAILED(result))
        return result;
    // A folder that cannot be enumerated answers S_FALSE with no enumerator.
    if (rawEnumerator == nullptr)
        return S_FALSE;
    UniqueCom<IEnumIDList> enumerator(rawEnumerator);

    ITEMIDLIST* rawItem = nullptr;
    ULONG fetched = 0;
    result = enumerator->Next(1, &rawItem, &fetched);
    UniqueItemList item(rawItem);
    return result == S_FALSE ? S_FALSE : S_OK;
}

} // namespace

int createDirectoryTree(const wchar_t* path)
{
    // Top down, one level per backslash; each parent keeps its trailing
    // backslash. Existing levels (and the drive root) fail harmlessly.
    UniqueString level(joinStrings(1, path));
    for (wchar_t* cursor = level.get(); *cursor != L'\0'; ++cursor) {
        if (*cursor != L'\\' || cursor[1] == L'\0')
            continue;
        wchar_t saved = cursor[1];
        cursor[1] = L'\0';
        CreateDirectoryW(level.get(), nullptr);
        cursor[1] = saved;
    }
    CreateDirectoryW(path, nullptr);
    return 0;
}

int createShellLink(const wchar_t* linkPath, const wchar_t* targetPath, const wchar_t* arguments,
                    const wchar_t* workingDirectory, const wchar_t* description, const wchar_t* iconPath,
                    int iconIndex, int showCmd)
{
    CoInitialize(nullptr);

    UniqueString folder(joinStrings(1, linkPath));
    stripLastPathComponent(folder.get());
    PathRemoveBackslashW(folder.get());
    createDirectoryTree(folder.get());

    IShellLinkW* rawLink = nullptr;
    HRESULT result = CoCreateInstance(kShellLinkClass, nullptr, CLSCTX_INPROC_SERVER, kShellLinkInterface,
                                      reinterpret_cast<void**>(&rawLink));
    if (FAILED(result))
        return result;
    UniqueCom<IShellLinkW> link(rawLink);

    link->SetPath(targetPath);
    link->SetArguments(arguments);
    link->SetWorkingDirectory(workingDirectory);
    link->SetDescription(description);
    link->SetIconLocation(iconPath, iconIndex);
    link->SetShowCmd(showCmd);

    IPersistFile* rawPersist = nullptr;
    result = link->QueryInterface(kPersistFileInterface, reinterpret_cast<void**>(&rawPersist));
    if (FAILED(result))
        return result;
    UniqueCom<IPersistFile> persist(rawPersist);

    UniqueBstr savePath(SysAllocString(linkPath));
    // A shortcut that could not be written is reported, not passed off as made.
    return persist->Save(savePath.get(), TRUE);
}

int deleteShellLink(const wchar_t* linkPath)
{
    return DeleteFileW(linkPath) ? 0 : E_FAIL;
}

int removeShellFolder(const wchar_t* folderPath)
{
    if (!PathFileExistsW(folderPath))
        return E_FAIL;
    CoInitialize(nullptr);

    HRESULT found = findVisibleFile(folderPath);
    if (FAILED(found))
        return found;
    if (found != S_FALSE)
        return ERROR_FILE_EXISTS;

    // The shell sees no file; subfolders and hidden files still keep the
    // folder, and that is reported rather than passed off as removed.
    if (_wrmdir(folderPath) == 0)
        return 0;
    return errno == ENOTEMPTY ? HRESULT_FROM_WIN32(ERROR_DIR_NOT_EMPTY) : E_FAIL;
}
