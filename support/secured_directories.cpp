#include <setup_support/secured_directories.h>

#include <aclapi.h>

#include <utility>

#include "secured_directories_internal.h"

namespace {

// Every right but WRITE_OWNER and SYNCHRONIZE. Without WRITE_OWNER no user
// becomes the folder's owner, yet WRITE_DAC lets any user grant themselves
// whatever they like, and DELETE lets them remove or replace the folder.
const DWORD kEveryoneRights =
    GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | DELETE | READ_CONTROL | WRITE_DAC | 0x1FFF;

} // namespace

EveryoneFolderSecurity::EveryoneFolderSecurity()
{
    ZeroMemory(&attributes, sizeof(attributes));
}

// The descriptor moves with its owner, so the attributes still point at it.
EveryoneFolderSecurity::EveryoneFolderSecurity(EveryoneFolderSecurity&& other) noexcept
    : acl(std::move(other.acl)), descriptor(std::move(other.descriptor)), attributes(other.attributes)
{
    ZeroMemory(&other.attributes, sizeof(other.attributes));
}

EveryoneFolderSecurity::~EveryoneFolderSecurity() = default;

EveryoneFolderSecurity buildEveryoneFolderSecurity()
{
    EveryoneFolderSecurity security;

    SID_IDENTIFIER_AUTHORITY worldAuthority = SECURITY_WORLD_SID_AUTHORITY;
    PSID rawSid = nullptr;
    if (!AllocateAndInitializeSid(&worldAuthority, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &rawSid))
        return security;
    UniqueSid everyone(rawSid);

    EXPLICIT_ACCESS_W entry;
    ZeroMemory(&entry, sizeof(entry));
    entry.grfAccessPermissions = kEveryoneRights;
    entry.grfAccessMode = SET_ACCESS;
    // Subfolders made later inherit the entry; files there get their own.
    entry.grfInheritance = CONTAINER_INHERIT_ACE;
    entry.Trustee.pMultipleTrustee = nullptr;
    entry.Trustee.MultipleTrusteeOperation = NO_MULTIPLE_TRUSTEE;
    entry.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    entry.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
    entry.Trustee.ptstrName = static_cast<LPWSTR>(everyone.get());

    PACL rawAcl = nullptr;
    if (SetEntriesInAclW(1, &entry, nullptr, &rawAcl) != ERROR_SUCCESS)
        return security;
    UniqueLocal<ACL> acl(rawAcl);

    UniqueLocal<void> descriptor(LocalAlloc(LPTR, SECURITY_DESCRIPTOR_MIN_LENGTH));
    if (!descriptor || !InitializeSecurityDescriptor(descriptor.get(), SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorDacl(descriptor.get(), TRUE, acl.get(), FALSE))
        return security;

    security.attributes.nLength = sizeof(security.attributes);
    security.attributes.lpSecurityDescriptor = descriptor.get();
    security.attributes.bInheritHandle = FALSE;
    security.acl = std::move(acl);
    security.descriptor = std::move(descriptor);
    return security;
}

int createDirectoryForEveryone(const wchar_t* path)
{
    // Without its security the folder would be closed to other users: better
    // none at all.
    EveryoneFolderSecurity security = buildEveryoneFolderSecurity();
    if (!security.descriptor)
        return 0;
    // An existing folder keeps its own security; the refusal is not an error.
    CreateDirectoryW(path, &security.attributes);
    return 0;
}
