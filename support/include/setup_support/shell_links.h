#pragma once

// Shortcut files (.lnk) and the folders that hold them, on full paths.

// Creates `path` and every missing parent folder. Always 0.
int createDirectoryTree(const wchar_t* path);

// Writes the shortcut file `linkPath` through the shell link object, creating
// its folder first. 0, or the HRESULT of the step that failed (saving
// included).
int createShellLink(const wchar_t* linkPath, const wchar_t* targetPath, const wchar_t* arguments,
                    const wchar_t* workingDirectory, const wchar_t* description, const wchar_t* iconPath,
                    int iconIndex, int showCmd);

// Deletes one shortcut file: 0 when deleted, E_FAIL when not (missing too).
int deleteShellLink(const wchar_t* linkPath);

// Removes `folderPath` when the shell shows no file in it. 0 when the folder
// is gone; E_FAIL when it does not exist; 80 (ERROR_FILE_EXISTS) when it
// holds a file; HRESULT_FROM_WIN32(ERROR_DIR_NOT_EMPTY) when it holds only
// subfolders or hidden files and so stays; a failing COM result otherwise.
int removeShellFolder(const wchar_t* folderPath);
