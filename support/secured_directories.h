#pragma once

// Folders that every user may change: one access entry for Everyone. Such a
// folder is every user's, not the caller's: with the rights below any user may
// rewrite its access list, delete it or put another folder or a link in its
// place. An elevated step must never write, run or delete anything below one.

#include <windows.h>

#include "owners.h"

// The security a folder open to Everyone is created with. `attributes` points
// at `descriptor`, whose DACL is `acl`; the owners free both.
struct EveryoneFolderSecurity {
    // Made in the library alone. Inline, they would be emitted by the
    // link-time-optimised library and again by every caller, and the 32-bit
    // linker keeps an optimised copy and an ordinary one as two definitions.
    EveryoneFolderSecurity();
    EveryoneFolderSecurity(EveryoneFolderSecurity&& other) noexcept;
    ~EveryoneFolderSecurity();

    UniqueLocal<ACL> acl;
    UniqueLocal<void> descriptor;
    SECURITY_ATTRIBUTES attributes;
};

// Builds that security: a DACL of one entry that grants Everyone (S-1-1-0)
// generic read, write and execute, delete, read control, write DAC and every
// specific right, inherited by subfolders and not by files; no owner or
// group. `descriptor` is null when any step failed.
EveryoneFolderSecurity buildEveryoneFolderSecurity();

// Creates the single folder `path` (no parents) with that security, so that
// any user may change it, its access list and what it holds, and delete or
// replace it. An existing folder keeps its own; when the security cannot be
// built no folder is made. Always 0.
int createDirectoryForEveryone(const wchar_t* path);
