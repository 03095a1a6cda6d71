#pragma once

// Not part of the library's interface, and never installed: the security that
// createDirectoryForEveryone gives a folder, built apart so that the unit
// tests can read it (Wine does not store a folder's security).

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
