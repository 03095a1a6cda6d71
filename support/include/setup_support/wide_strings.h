#pragma once

// Wide string helpers shared by every part of the setup helpers.
//
// The library allocates with the program's global operator new, here and in
// every call that builds a string. When memory runs out, what that operator
// does happens inside the call: the standard one throws std::bad_alloc, which
// leaves the call after its owners have released what it held; a program
// whose operator new ends the run instead (shortcut_installer and
// shortcut_remover end with status 3) ends there.

// Concatenates `count` strings (null pointers contribute nothing) into one new
// heap string; the caller releases it with freeString. Running out of memory
// raises std::bad_alloc (see above).
wchar_t* joinStrings(unsigned count, ...);

// Releases a string handed out by joinStrings or any other producer of the
// library and leaves the variable null; a null variable is left alone.
void freeString(wchar_t** value);

// The two-call size protocol for a value the caller already holds: copies
// `value` into `buffer` when `capacity` holds it and its terminator and
// returns 0, else writes nothing and returns that needed length.
int copyWhenFits(const wchar_t* value, wchar_t* buffer, int capacity);

// Writes `source` into `destination` with only the letters a to z upper-cased.
// `destination` must hold at least the source's length plus one code units.
void upperCaseCopy(const wchar_t* source, wchar_t* destination);
