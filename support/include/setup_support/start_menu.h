#pragma once

// Where the suite's shortcuts live in the Start Menu and how they are named.
// Every operation returns 0; nothing is created or removed when the Programs
// folder is unknown, a path part could lead outside it or the shell could not
// parse it, the whole path would not fit MAX_PATH (shorter than 260 code units
// with a shortcut's suffix and extension), or the path is or lies below the
// all-users or the user's Startup folder, whose shortcuts Windows starts at
// every logon.

// The all-users Programs folder for an administrator, the current user's
// otherwise, by the two-call protocol: with a capacity below the folder's
// length plus one, writes nothing beyond an empty string and returns that
// count; otherwise writes the folder and returns 0. An unknown folder is the
// empty string.
int getProgramsFolder(wchar_t* buffer, int capacity);

// 1 when `subfolder` (empty, or starting with a backslash) names a place
// inside the Programs folder that the shell parses back: no drive, colon or
// stream, no character a file name cannot hold, no component that ends in a
// dot or a blank (".." included) or is a device name (CON, PRN, AUX, NUL,
// COM1-COM9, LPT1-LPT9, in any case, with or without an extension).
int isSafeStartMenuSubfolder(const wchar_t* subfolder);

// 1 when `subfolder` (or a folder name) holds more than separators, so that
// it names a folder below the Programs folder and not the Programs folder.
int namesFolderBelowPrograms(const wchar_t* subfolder);

// 1 when `part` (a shortcut name or suffix) is a plain file-name part: no
// separator, colon or character a file name cannot hold, not a device name,
// not ending in a dot or a blank. The empty part is plain.
int isSafeShortcutNamePart(const wchar_t* part);

// Writes <Programs><subfolder>\<name>[ <suffix>].lnk pointing at the quoted
// targetDirectory + targetFileName, creating missing folders.
int createStartMenuShortcut(const wchar_t* targetDirectory, const wchar_t* targetFileName,
                            const wchar_t* arguments, const wchar_t* iconPath, const wchar_t* workingDirectory,
                            const wchar_t* subfolder, const wchar_t* name, const wchar_t* description,
                            int showCmd, const wchar_t* suffix);

// Deletes <Programs><subfolder>\<name>[ <suffix>].lnk.
int removeStartMenuShortcut(const wchar_t* subfolder, const wchar_t* name, const wchar_t* suffix);

// Removes <Programs><subfolder> when the shell shows no file in it.
int removeStartMenuFolder(const wchar_t* subfolder);

// Removes <Programs>\<name> when the shell shows no file in it.
int removeProgramsSubfolder(const wchar_t* name);

// Removes <Programs><subfolder> as removeStartMenuFolder does, then each of
// its parent levels below the Programs folder, deepest first, up to the
// first level that stays.
int removeStartMenuFolderLevels(const wchar_t* subfolder);

// Suffix variants: the release ("18.1"), the revision of the installation
// tree's relinfo.xml, the revision of the relinfo.xml beside the program, or
// none.
int createReleaseShortcut(const wchar_t* targetDirectory, const wchar_t* targetFileName, const wchar_t* arguments,
                          const wchar_t* iconPath, const wchar_t* workingDirectory, const wchar_t* subfolder,
                          const wchar_t* name, const wchar_t* description, int showCmd);
int createRevisionedShortcut(const wchar_t* targetDirectory, const wchar_t* targetFileName,
                             const wchar_t* arguments, const wchar_t* iconPath, const wchar_t* workingDirectory,
                             const wchar_t* subfolder, const wchar_t* name, const wchar_t* description,
                             int showCmd);
int createLocalRevisionedShortcut(const wchar_t* targetDirectory, const wchar_t* targetFileName,
                                  const wchar_t* arguments, const wchar_t* iconPath,
                                  const wchar_t* workingDirectory, const wchar_t* subfolder, const wchar_t* name,
                                  const wchar_t* description, int showCmd);
int removeRevisionedShortcut(const wchar_t* subfolder, const wchar_t* name);
int removeReleaseShortcut(const wchar_t* subfolder, const wchar_t* name);
int removeUnsuffixedShortcut(const wchar_t* subfolder, const wchar_t* name);
int removeLocalRevisionedShortcut(const wchar_t* subfolder, const wchar_t* name);
