#pragma once

// Folders that every user may change: one access entry for Everyone. Such a
// folder is every user's, not the caller's: with the rights below any user may
// rewrite its access list, delete it or put another folder or a link in its
// place. An elevated step must never write, run or delete anything below one.

// Creates the single folder `path` (no parents) with a DACL of one entry that
// grants Everyone (S-1-1-0) generic read, write and execute, delete, read
// control, write DAC and every specific right, inherited by subfolders and not
// by files, and no owner or group: any user may change it, its access list and
// what it holds, and delete or replace it. An existing folder keeps its own
// security; when that security cannot be built no folder is made. Always 0.
int createDirectoryForEveryone(const wchar_t* path);
