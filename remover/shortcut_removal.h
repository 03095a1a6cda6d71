#pragma once

// The remover's Start Menu steps. Each takes the Start Menu folder name and
// returns 0; what is not there is passed over.

int removeUninstallShortcut(const wchar_t* folderName);
int removeFileAssociationShortcut(const wchar_t* folderName);
int removeConfigurationShortcuts(const wchar_t* folderName);
// The companion client-tools folder and its two shortcuts.
int removeClientToolsFolder(const wchar_t* folderName);
// "Help" and "Utilities" go only when the shell shows no file in them.
int removeHelpFolder(const wchar_t* folderName);
int removeUtilitiesFolder(const wchar_t* folderName);
// The product folder itself, last and only when empty; never the Programs
// folder itself, so nothing happens for an empty name.
int removeProductFolder(const wchar_t* folderName);
