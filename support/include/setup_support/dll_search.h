#pragma once

// Where the program's own DLL loads look. A setup helper runs elevated from a
// folder of the installed tree, which other users may be able to write to.

// Restricts the DLL search of this process to the system folder, so that a
// DLL that the system's libraries, COM or the shell load by bare name is
// never taken from the program's folder or the current folder. Call it first,
// before anything loads a DLL. 1 when only the system folder is searched; 0
// where the platform lacks that restriction (Windows Vista and 7 without
// their update), and then at least the current folder is out of the search.
int restrictDllSearchToSystemFolder();
