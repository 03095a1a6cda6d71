#pragma once

// Publishes where the suite lives: NIMBA_SYSDIR, ZEP_ROOT<code> and
// NIMBA<code>_DIR, machine-wide for an administrator, else for the current
// user. Returns 0.
int registerProductEnvironment(const wchar_t* root);
