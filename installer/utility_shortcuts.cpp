#include "utility_shortcuts.h"

#include <windows.h>
#include <shlwapi.h>

#include <setup_support/file_paths.h>
#include <setup_support/start_menu.h>
#include <setup_support/wide_strings.h>

#include "owners.h"
#include "suite_names.h"

namespace {

// The suite's utilities run with the user's home folder as working folder;
// the shell expands the references when the shortcut is started.
const wchar_t kWorkingDirectory[] = L"%HOMEDRIVE%%HOMEPATH%";
const wchar_t kPlatformFolder[] = L"winx64\\";
const wchar_t kCadBinFolder[] = L"\\commonfiles\\CAD\\bin\\";
const wchar_t kToolsFolder[] = L"\\commonfiles\\tools\\";
const int kShowNormal = SW_SHOWNORMAL;

struct UtilityShortcut {
    const wchar_t* programFolder;   // below the root, starting and ending with a backslash
    const wchar_t* platformFolder;  // appended to programFolder, or null
    const wchar_t* executable;
    bool inUtilities;               // in the product folder's "Utilities", else directly in it
    const wchar_t* name;
    const wchar_t* description;
    bool onlyWhenProgramExists;
};

// Composes one utility's shortcut from the root R and the folder name F: the
// target from R without its trailing backslash, the icon from R as handed in.
int createUtilityShortcut(const wchar_t* root, const wchar_t* folderName, const UtilityShortcut& utility)
{
    UniqueString trimmedRoot(joinStrings(1, root));
    PathRemoveBackslashW(trimmedRoot.get());
    UniqueString targetDirectory(joinStrings(3, trimmedRoot.get(), utility.programFolder, utility.platformFolder));
    trimmedRoot.reset();

    UniqueString iconPath(joinStrings(4, root, utility.programFolder, utility.platformFolder, utility.executable));
    UniqueString subfolder(utility.inUtilities ? joinStrings(5, L"\\", folderName, L"\\", kUtilitiesFolder, L"\\")
                                               : joinStrings(3, L"\\", folderName, L"\\"));

    if (utility.onlyWhenProgramExists && !fileExists(iconPath.get()))
        return 0;
    createRevisionedShortcut(targetDirectory.get(), utility.executable, L"", iconPath.get(), kWorkingDirectory,
                             subfolder.get(), utility.name, utility.description, kShowNormal);
    return 0;
}

const UtilityShortcut kUninstall = {L"\\", nullptr, L"Uninstall.exe", false,
                                    kUninstallShortcutName, L"Uninstall Products", false};
const UtilityShortcut kProductConfig = {L"\\", nullptr, L"ProductConfig.exe", true, kProductConfigShortcutName,
                                        L"NIMBA Product & CAD Configuration", false};
const UtilityShortcut kCadConfigManager = {kCadBinFolder, kPlatformFolder, L"Qel.CadInt.CADConfigUtilityGUI.exe",
                                           true, kCadConfigManagerShortcutName, L"CAD Configuration Manager", true};
const UtilityShortcut kFileAssociation = {kToolsFolder, kPlatformFolder, L"fileassoc.exe", true,
                                          kFileAssociationShortcutName, L"NIMBA File Association", false};

} // namespace

int createUninstallShortcut(const wchar_t* root, const wchar_t* folderName)
{
    return createUtilityShortcut(root, folderName, kUninstall);
}

int createProductConfigShortcut(const wchar_t* root, const wchar_t* folderName)
{
    return createUtilityShortcut(root, folderName, kProductConfig);
}

int createCadConfigManagerShortcut(const wchar_t* root, const wchar_t* folderName)
{
    return createUtilityShortcut(root, folderName, kCadConfigManager);
}

int createFileAssociationShortcut(const wchar_t* root, const wchar_t* folderName)
{
    return createUtilityShortcut(root, folderName, kFileAssociation);
}
