/* The per-machine package's lock of its folders where Windows Installer does not
 * set it itself. Windows Installer 5.0 (Windows 7 and later) applies the
 * package's MsiLockPermissionsEx rows when CreateFolders runs; 4.5 and earlier
 * (Vista) ignore that table, and there this deferred action, run as LocalSystem
 * before any file is copied, gives each folder of the tree the same security
 * descriptor. */
#include <windows.h>
#include <aclapi.h>
#include <msi.h>
#include <msiquery.h>
#include <sddl.h>
#include <stdlib.h>
#include <wchar.h>

/* CustomActionData: the descriptor in SDDL, then each folder, parents first,
 * separated by '|', a character no path holds. Each folder gets the
 * descriptor's access list, protected: nothing is inherited from the folder
 * above, which may grant standard users more, and entries a user gave a folder
 * made before are gone. A folder below the first (the installation folder, the
 * administrator's choice, followed) that is a link, a junction another user
 * planted in a folder made before, would have LocalSystem lock whatever it
 * leads to; once its parent is locked no other user can swap it. A folder that
 * is a link or cannot be locked fails the installation, whose rollback then
 * removes what it made. */
UINT __stdcall LockInstallationFolders(MSIHANDLE install)
{
    WCHAR none[1] = L"";
    DWORD size = 0;
    WCHAR* data = NULL;
    WCHAR* folder = NULL;
    WCHAR* next = NULL;
    WCHAR* root = NULL;
    PSECURITY_DESCRIPTOR descriptor = NULL;
    PACL dacl = NULL;
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    UINT result = ERROR_INSTALL_FAILURE;

    if (MsiGetPropertyW(install, L"CustomActionData", none, &size) != ERROR_MORE_DATA)
        goto cleanup;
    size += 1;
    data = malloc(size * sizeof(WCHAR));
    if (data == NULL || MsiGetPropertyW(install, L"CustomActionData", data, &size) != ERROR_SUCCESS)
        goto cleanup;
    next = wcschr(data, L'|');
    if (next == NULL)
        goto cleanup;
    *next++ = L'\0';
    root = next;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(data, SDDL_REVISION_1, &descriptor, NULL) ||
        !GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) || !present || dacl == NULL)
        goto cleanup;
    while (next != NULL) {
        DWORD attributes;
        size_t length;
        folder = next;
        next = wcschr(folder, L'|');
        if (next != NULL)
            *next++ = L'\0';
        /* Folder properties end in a separator, through which a link's own
         * attributes would not be read: the target's would. */
        length = wcslen(folder);
        if (length > 3 && folder[length - 1] == L'\\')
            folder[length - 1] = L'\0';
        attributes = GetFileAttributesW(folder);
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
            (folder != root && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0))
            goto cleanup;
        if (SetNamedSecurityInfoW(folder, SE_FILE_OBJECT,
                                  DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, NULL, NULL,
                                  dacl, NULL) != ERROR_SUCCESS)
            goto cleanup;
    }
    result = ERROR_SUCCESS;

cleanup:
    LocalFree(descriptor);
    free(data);
    return result;
}
