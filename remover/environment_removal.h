#pragma once

// Deletes the suite's release-specific environment variables (ZEP_LOCALE<code>,
// ZEP_ROOT<code>, NIMBA<code>_DIR) in the caller's scope; an administrator's
// machine-wide deletions clear the user values too. NIMBA_SYSDIR stays.
// Returns 0.
int unregisterProductEnvironment();
