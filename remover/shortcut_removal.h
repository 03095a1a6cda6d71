#pragma once

// The remover's Start Menu steps. Each takes the Start Menu folder name and
// returns 0; what is not there is passed over.

int removeUninstallShortcut(const wchar_t* folderName);
int removeFileAssociationShortcut(const wchar_t* folderName);
int removeConfigurationShortcuts(const wchar_t* folderName);
// The companion client-tools folder's two shortcuts, then the folder.
int removeClientToolsFolder(const wchar_t* folderName);
// "Help" and "Utilities" go only when the shell shows no file in them.
// Without a folder name no folder is removed by these steps: there is no
// product folder, and the Programs folder's own entries are not the suite's.
int removeHelpFolder(const wchar_t* folderName);
int removeUtilitiesFolder(const wchar_t* folderName);
// The product folder itself, last and only when empty; then each emptied
// level of a nested folder name above it.
int removeProductFolder(const wchar_t* folderName);
