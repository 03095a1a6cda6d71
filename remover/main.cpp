#include <windows.h>

#include <setup_support/dll_search.h>
#include <setup_support/redirection_guard.h>
#include <setup_support/release_info.h>
#include <setup_support/wide_strings.h>

#include "environment_removal.h"
#include "shortcut_removal.h"

// Pre-removal step of the suite's setup: takes no options, shows nothing and
// exits 0. Shortcuts go first so that their folders can be empty when the
// folders' turn comes; the product folder goes last.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    // Elevated, from a folder others may write to: no DLL from there, and no
    // junction or link another user made there is followed where Windows can
    // refuse it.
    restrictDllSearchToSystemFolder();
    enableRedirectionGuard();

    wchar_t* folderName = allocReleaseValue(getStartMenuFolderName);

    removeUninstallShortcut(folderName);
    removeFileAssociationShortcut(folderName);
    removeConfigurationShortcuts(folderName);
    removeClientToolsFolder(folderName);
    unregisterProductEnvironment();
    removeHelpFolder(folderName);
    removeUtilitiesFolder(folderName);
    removeProductFolder(folderName);

    freeString(&folderName);
    return 0;
}
