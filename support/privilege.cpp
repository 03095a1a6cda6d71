#include <setup_support/privilege.h>

#include <windows.h>

#include <cwchar>

#include <setup_support/wide_strings.h>

#include "owners.h"

namespace {

// Private rights of the descriptor that only administrators may access.
const DWORD kAccessRead = 1;
const DWORD kAccessWrite = 2;

// The ACL header, one access-allowed ACE, and the SID less the ACE's own
// first SID word.
DWORD daclLength(PSID sid)
{
    return sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + GetLengthSid(sid) - sizeof(DWORD);
}

// The token the access check judges: the thread's when it impersonates,
// otherwise the process's. Any other failure to open the thread token is not
// papered over with the process token.
HANDLE openCallerToken()
{
    HANDLE token = nullptr;
    if (OpenThreadToken(GetCurrentThread(), TOKEN_DUPLICATE | TOKEN_QUERY, TRUE, &token))
        return token;
    if (GetLastError() != ERROR_NO_TOKEN)
        return nullptr;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY, &token))
        return token;
    return nullptr;
}

} // namespace

int isUserAdmin()
{
    // Asking AccessCheck rather than reading group names means only an enabled
    // Administrators group counts: a deny-only group (no elevation) does not.
    UniqueHandle token(openCallerToken());
    if (!token)
        return 0;

    HANDLE rawImpersonation = nullptr;
    if (!DuplicateToken(token.get(), SecurityImpersonation, &rawImpersonation))
        return 0;
    UniqueHandle impersonation(rawImpersonation);

    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    PSID rawSid = nullptr;
    if (!AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0,
                                  0, 0, 0, &rawSid))
        return 0;
    UniqueSid administrators(rawSid);

    UniqueLocal<void> descriptor(LocalAlloc(LPTR, SECURITY_DESCRIPTOR_MIN_LENGTH));
    if (!descriptor || !InitializeSecurityDescriptor(descriptor.get(), SECURITY_DESCRIPTOR_REVISION))
        return 0;

    DWORD aclSize = daclLength(administrators.get());
    UniqueLocal<ACL> dacl(static_cast<ACL*>(LocalAlloc(LPTR, aclSize)));
    if (!dacl || !InitializeAcl(dacl.get(), aclSize, ACL_REVISION2) ||
        !AddAccessAllowedAce(dacl.get(), ACL_REVISION2, kAccessRead | kAccessWrite, administrators.get()) ||
        !SetSecurityDescriptorDacl(descriptor.get(), TRUE, dacl.get(), FALSE))
        return 0;

    SetSecurityDescriptorGroup(descriptor.get(), administrators.get(), FALSE);
    SetSecurityDescriptorOwner(descriptor.get(), administrators.get(), FALSE);
    if (!IsValidSecurityDescriptor(descriptor.get()))
        return 0;

    GENERIC_MAPPING mapping = {kAccessRead, kAccessWrite, 0, kAccessRead | kAccessWrite};
    PRIVILEGE_SET privileges;
    DWORD privilegesLength = sizeof(privileges);
    DWORD granted = 0;
    BOOL status = FALSE;
    if (!AccessCheck(descriptor.get(), impersonation.get(), kAccessRead, &mapping, &privileges, &privilegesLength,
                     &granted, &status))
        return 0;
    return status ? 1 : 0;
}

wchar_t* getServicePackName(wchar_t** servicePack)
{
    OSVERSIONINFOW version;
    ZeroMemory(&version, sizeof(version));
    version.dwOSVersionInfoSize = sizeof(version);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    GetVersionExW(&version);
#pragma GCC diagnostic pop
    *servicePack = joinStrings(1, version.szCSDVersion);
    return *servicePack;
}
