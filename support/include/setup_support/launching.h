#pragma once

// Starting other programs: through the shell by file and parameters, or by a
// raw command line in a hidden window; waiting for them or leaving them to run.

// Starts `file` with its default verb and `parameters` (may be null), showing
// its window by the low 16 bits of `showCommand`, and waits without a time
// limit for the process that the shell started (at once when the shell served
// the request without one). Nonzero on success; 0 when the shell refused, with
// the Windows error left for GetLastError. Shows no error box.
int shellExecuteAndWait(const wchar_t* file, const wchar_t* parameters, int showCommand);

// As shellExecuteAndWait, with the verb "open" and without waiting.
int shellOpen(const wchar_t* file, const wchar_t* parameters, int showCommand);

// Runs `commandLine` (writable: CreateProcessW may change it during the call;
// a program path with spaces must be quoted) with a hidden main window and
// every inheritable handle of the caller, and waits without a time limit for
// it to end. A program that cannot be started is not reported.
void runHiddenAndWait(wchar_t* commandLine);

// As runHiddenAndWait, but returns once the program has started; it runs on
// in a process group of its own.
void runHiddenDetached(wchar_t* commandLine);
