#include "shortcut_removal.h"

#include <setup_support/start_menu.h>
#include <setup_support/wide_strings.h>

#include "owners.h"
#include "suite_names.h"

namespace {

// The companion client tools install their own shortcuts into the product
// folder; the suite's removal takes them along.
const wchar_t kClientToolsFolder[] = L"Client Tools";
const wchar_t kClientToolsConfigShortcutName[] = L"Client Tools Configuration";
const wchar_t kClientToolsHelpShortcutName[] = L"Client Tools Documentation";

// "\" + F + "\" + child + trailing, the form the installer composed.
wchar_t* allocProductSubfolder(const wchar_t* folderName, const wchar_t* child, const wchar_t* trailing)
{
    return joinStrings(5, L"\\", folderName, child != nullptr ? L"\\" : nullptr, child, trailing);
}

// The remover's folder removals stay inside the product folder. Without a
// folder name there is none, and a "Help", "Utilities" or "Client Tools"
// directly in the Programs folder may belong to anyone.
void removeProductSubfolder(const wchar_t* folderName, const wchar_t* child)
{
    if (!namesFolderBelowPrograms(folderName))
        return;
    UniqueString subfolder(allocProductSubfolder(folderName, child, nullptr));
    removeStartMenuFolder(subfolder.get());
}

} // namespace

int removeUninstallShortcut(const wchar_t* folderName)
{
    UniqueString subfolder(allocProductSubfolder(folderName, nullptr, L"\\"));
    removeRevisionedShortcut(subfolder.get(), kUninstallShortcutName);
    return 0;
}

int removeFileAssociationShortcut(const wchar_t* folderName)
{
    UniqueString subfolder(allocProductSubfolder(folderName, kUtilitiesFolder, L"\\"));
    removeRevisionedShortcut(subfolder.get(), kFileAssociationShortcutName);
    return 0;
}

int removeConfigurationShortcuts(const wchar_t* folderName)
{
    UniqueString subfolder(allocProductSubfolder(folderName, kUtilitiesFolder, L"\\"));
    removeRevisionedShortcut(subfolder.get(), kProductConfigShortcutName);
    removeRevisionedShortcut(subfolder.get(), kCadConfigManagerShortcutName);
    return 0;
}

int removeClientToolsFolder(const wchar_t* folderName)
{
    UniqueString subfolder(allocProductSubfolder(folderName, kClientToolsFolder, L"\\"));
    removeRevisionedShortcut(subfolder.get(), kClientToolsConfigShortcutName);
    removeRevisionedShortcut(subfolder.get(), kClientToolsHelpShortcutName);
    removeProductSubfolder(folderName, kClientToolsFolder);
    return 0;
}

int removeHelpFolder(const wchar_t* folderName)
{
    removeProductSubfolder(folderName, kHelpFolder);
    return 0;
}

int removeUtilitiesFolder(const wchar_t* folderName)
{
    removeProductSubfolder(folderName, kUtilitiesFolder);
    return 0;
}

int removeProductFolder(const wchar_t* folderName)
{
    // Without a folder name this would address the Programs folder itself. A
    // nested name ("Vendor\\Suite") made every level; each emptied one goes.
    if (namesFolderBelowPrograms(folderName)) {
        UniqueString productFolder(joinStrings(2, L"\\", folderName));
        removeStartMenuFolderLevels(productFolder.get());
    }
    return 0;
}
