#pragma once

// Which links the program's file operations follow. A setup helper runs
// elevated from a folder of the installed tree, where another user may plant
// a junction or a symbolic link that leads its writes elsewhere.

// Asks Windows to refuse, for the rest of this process, every junction and
// link that was not made by an administrator or the system (RedirectionGuard).
// Call it at entry. 1 when Windows took the request; 0 where Windows lacks it
// (Vista and 7 have no such call, and it is refused on versions before the
// policy came), and then nothing changed.
int enableRedirectionGuard();
