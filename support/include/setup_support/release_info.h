#pragma once

// Where the suite is installed and what its release information file says.

// Reads a whole file into a new byte buffer, one byte longer than what was
// read and ending in a zero byte; the caller frees *bytes with delete[].
// Returns 1 when the whole file was read, 0 when it cannot be opened, is too
// large to hold in memory, or a read fails (*bytes is left unset when the file
// was not opened). Never creates a file.
int readFileBytes(const wchar_t* path, char** bytes);

// Cuts a writable path in place back to its folder, keeping the folder's
// trailing backslash (C:\a\b.exe gives C:\a\). 1 when a backslash was found.
int stripLastPathComponent(wchar_t* path);

// Copies programPath into root (at least as long as programPath plus the
// terminator) and cuts it to the installation root: the file name and four
// directory levels, never above the drive root.
void stripToInstallRoot(const wchar_t* programPath, wchar_t* root);

// The running program's full path, however long, as a new string released
// with freeString.
wchar_t* getProgramPath();

// Installation root by the two-call protocol: with a capacity below the
// program path's length plus one, writes nothing and returns that count;
// otherwise writes the root into buffer and returns 0.
int getInstallRoot(wchar_t* buffer, int capacity);

// relinfo.xml lookups by the size-and-fill protocol. With value null they
// return the count of code units to allocate (1 when there is no value; a
// value of more than 32767 bytes, longer than any path, is no value). With
// the address of a buffer of `capacity` code units they write the value, or
// the empty string when there is none or it would not fit, and return the
// same count as the size query. Each call reads the file anew.
int getStartMenuFolderName(wchar_t** value, int capacity);
int getShortcutRevision(wchar_t** value, int capacity);
// The same key, from the relinfo.xml beside the running program.
int getLocalShortcutRevision(wchar_t** value, int capacity);

// Runs one of the lookups above by its two calls and hands out the value as a
// new string (empty when there is none), released with freeString.
wchar_t* allocReleaseValue(int (*lookup)(wchar_t** value, int capacity));
