/* The per-user package's check of the installing user's token, a custom action
 * DLL run before the launch conditions. Its deferred actions run with that token
 * (impersonated), and the programs choose all users or this user by it: an
 * administrator's token would put the shortcuts and variables machine-wide
 * while the files went below the user's profile. Windows Installer's own
 * Privileged and AdminUser properties do not tell an elevated administrator
 * from a standard user reliably (a policy, compatibility rules, and Wine sets
 * both for everyone), so the token itself is asked. */
#include <windows.h>
#include <msi.h>
#include <msiquery.h>

/* Sets NIMBA_ADMINISTRATOR to 1 when this process's token holds the
 * Administrators group enabled (an elevated administrator, or one without UAC);
 * a filtered or restricted token holds it for denial only. Never fails. */
UINT __stdcall CheckInstallingToken(MSIHANDLE install)
{
    BYTE administrators[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof(administrators);
    BOOL member = FALSE;

    if (CreateWellKnownSid(WinBuiltinAdministratorsSid, NULL, administrators, &size) &&
        CheckTokenMembership(NULL, administrators, &member) && member)
        MsiSetPropertyW(install, L"NIMBA_ADMINISTRATOR", L"1");
    return ERROR_SUCCESS;
}
