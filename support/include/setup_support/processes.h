#pragma once

// Stopping running programs by name, and running a program for a bounded time.

// Terminates (exit code 0) every other process whose executable file name
// contains `namePart`, case-sensitively: "app" matches myapp.exe and app.exe,
// not App.exe. 1 when every matching process that could be opened was
// terminated, also when none matched; 0 when the process list cannot be taken
// or a termination failed. An empty or null `namePart` would match every
// process on the machine: nothing is terminated and the answer is 0.
int terminateProcessesByName(const wchar_t* namePart);

// Starts a program: `applicationName`, or when it is null the first token of
// `commandLine` (writable: CreateProcessW may change it during the call), its
// main window shown by the low 16 bits of `showWindow`, no handle inherited.
// Unless `noWait` is 1, polls it once a second and terminates it (exit code 0)
// when it still runs at the thirtieth poll. Always 0; a program that cannot be
// started is not waited for.
int runProcessAndWait(const wchar_t* applicationName, wchar_t* commandLine, int showWindow, int noWait);
