#pragma once

// Persistent environment variables: machine-wide (scope 1) or the current
// user's (scope 0). Results are HRESULTs: 0, E_INVALIDARG for any other scope
// (nothing touched), E_FAIL when the scope's key cannot be opened, or the
// registry's error as an HRESULT when a write or deletion fails.

inline constexpr int kMachineScope = 1;
inline constexpr int kUserScope = 0;

// Stores `data` under `name` in the scope's environment key. REG_SZ and
// REG_EXPAND_SZ take a wide string; every other type takes exactly 4 bytes.
// A REG_SZ value is also set in the running process. Announces the change.
int setEnvVar(const wchar_t* name, const void* data, unsigned type, int scope);

// Deletes `name` from the scope's key; a machine-scope deletion also deletes
// the user value of that name. An absent value is no failure. The running
// process loses the variable, and each key a value left is announced.
int deleteEnvVar(const wchar_t* name, int scope);

// The value of `name` in this process's environment as a new string,
// released with freeString; null when it is unset or empty.
wchar_t* allocProcessVariable(const wchar_t* name);

// Tells every top-level window that the environment changed (WM_SETTINGCHANGE
// with "Environment"), waiting at most 50 ms for each.
void broadcastEnvironmentChange();
