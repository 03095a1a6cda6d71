#pragma once

// The Start Menu shortcuts of the suite's utility programs. Each takes the
// installation root and the Start Menu folder name and returns 0.

// "Uninstall NIMBA", directly in the product folder.
int createUninstallShortcut(const wchar_t* root, const wchar_t* folderName);
// "Product & CAD Configuration", in the product folder's "Utilities".
int createProductConfigShortcut(const wchar_t* root, const wchar_t* folderName);
// "CAD Configuration Manager", in "Utilities", only when its program exists.
int createCadConfigManagerShortcut(const wchar_t* root, const wchar_t* folderName);
// "File Association", in "Utilities".
int createFileAssociationShortcut(const wchar_t* root, const wchar_t* folderName);
