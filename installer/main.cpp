#include <windows.h>

#include <setup_support/dll_search.h>
#include <setup_support/redirection_guard.h>
#include <setup_support/release_info.h>
#include <setup_support/wide_strings.h>

#include "command_line.h"
#include "product_environment.h"
#include "toolbar_list.h"
#include "utility_shortcuts.h"

// Post-installation step of the suite's setup: no window, no output, and exit
// status 0 whatever happened, so that setup never stops on it.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    // Elevated, from a folder others may write to: no DLL from there, and no
    // junction or link another user made there is followed where Windows can
    // refuse it.
    restrictDllSearchToSystemFolder();
    enableRedirectionGuard();

    const wchar_t* commandLine = GetCommandLineW();
    InstallerOptions options;
    options.installFlag = 0;
    options.productConfigShortcutFlag = 1;
    parseInstallerCommandLine(&options, commandLine);

    int rootCount = getInstallRoot(nullptr, 0);
    wchar_t* root = new wchar_t[rootCount];
    getInstallRoot(root, rootCount);

    wchar_t* folderName = allocReleaseValue(getStartMenuFolderName);

    createUninstallShortcut(root, folderName);
    if (options.productConfigShortcutFlag == 1) {
        createProductConfigShortcut(root, folderName);
        createCadConfigManagerShortcut(root, folderName);
    }
    createFileAssociationShortcut(root, folderName);
    if (options.installFlag != 0)
        writeToolbarList(root);
    registerProductEnvironment(root);

    freeString(&root);
    freeString(&folderName);
    return 0;
}
