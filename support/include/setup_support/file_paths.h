#pragma once

// Existence tests and folder creation on plain paths.

// 1 when the runtime's wide stat finds the path (file or folder), else 0.
// A folder given with a trailing backslash (other than a drive root) does not
// stat and counts as missing.
int fileExists(const wchar_t* path);

// Makes the last level of `path` when nothing exists there. Nonzero when the
// path exists afterwards (whatever kind of object it names).
int createDirectoryIfMissing(const wchar_t* path);
