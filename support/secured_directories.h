#pragma once

// Folders that every user may change: one access entry for Everyone.

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

// Creates the single folder `path` (no parents) with that security. An
// existing folder keeps its own; when the security cannot be built no folder
// is made. Always 0.
int createDirectoryForEveryone(const wchar_t* path);
