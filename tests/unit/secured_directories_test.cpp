#include <gtest/gtest.h>

#include <windows.h>
#include <sddl.h>

#include <string>

#include <setup_support/secured_directories.h>

#include "secured_directories_internal.h"
#include "test_support.h"

namespace {

std::wstring sidText(PSID sid)
{
    wchar_t* text = nullptr;
    if (!ConvertSidToStringSidW(sid, &text))
        return L"<none>";
    std::wstring copy = text;
    LocalFree(text);
    return copy;
}

// Wine keeps no folder security (a folder reads back its default DACL), so
// the security is checked as it is handed to CreateDirectoryW.
TEST(CreateDirectoryForEveryone, SecurityGrantsEveryoneOneInheritableEntry)
{
    const EveryoneFolderSecurity security = buildEveryoneFolderSecurity();
    ASSERT_NE(nullptr, security.descriptor);
    EXPECT_EQ(sizeof(SECURITY_ATTRIBUTES), security.attributes.nLength);
    EXPECT_EQ(security.descriptor.get(), security.attributes.lpSecurityDescriptor);
    EXPECT_FALSE(security.attributes.bInheritHandle);

    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ASSERT_TRUE(GetSecurityDescriptorControl(security.descriptor.get(), &control, &revision));
    EXPECT_EQ(static_cast<DWORD>(SECURITY_DESCRIPTOR_REVISION), revision);
    EXPECT_EQ(SE_DACL_PRESENT, control & (SE_DACL_PRESENT | SE_DACL_DEFAULTED | SE_SELF_RELATIVE));

    PSID owner = nullptr;
    PSID group = nullptr;
    BOOL defaulted = FALSE;
    ASSERT_TRUE(GetSecurityDescriptorOwner(security.descriptor.get(), &owner, &defaulted));
    ASSERT_TRUE(GetSecurityDescriptorGroup(security.descriptor.get(), &group, &defaulted));
    EXPECT_EQ(nullptr, owner);
    EXPECT_EQ(nullptr, group);

    BOOL present = FALSE;
    PACL dacl = nullptr;
    ASSERT_TRUE(GetSecurityDescriptorDacl(security.descriptor.get(), &present, &dacl, &defaulted));
    EXPECT_EQ(security.acl.get(), dacl);
    ACL_SIZE_INFORMATION size = {};
    ASSERT_TRUE(GetAclInformation(dacl, &size, sizeof(size), AclSizeInformation));
    ASSERT_EQ(1u, size.AceCount);
    ACCESS_ALLOWED_ACE* entry = nullptr;
    ASSERT_TRUE(GetAce(dacl, 0, reinterpret_cast<void**>(&entry)));
    EXPECT_EQ(ACCESS_ALLOWED_ACE_TYPE, entry->Header.AceType);
    EXPECT_EQ(CONTAINER_INHERIT_ACE, entry->Header.AceFlags);
    EXPECT_EQ(0xE0071FFFu, entry->Mask);
    EXPECT_EQ(L"S-1-1-0", sidText(&entry->SidStart));
}

// Only the last level is made; whatever stands there already is left alone.
TEST(CreateDirectoryForEveryone, MakesOnlyAMissingLastLevel)
{
    struct Row {
        const wchar_t* name;
        bool existing;
        bool folderAfter;
    };
    const Row rows[] = {
        {L"open", false, true},
        {L"open", true, true},
        {L"missing parent\\open", false, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        unit::TempFolder temp;
        const std::wstring path = temp / row.name;
        if (row.existing) {
            ASSERT_TRUE(CreateDirectoryW(path.c_str(), nullptr));
            ASSERT_TRUE(unit::writeBytes(path + L"\\kept.txt", "kept"));
        }
        EXPECT_EQ(0, createDirectoryForEveryone(path.c_str()));
        EXPECT_EQ(row.folderAfter, unit::isFolder(path));
        // No parent is made for a path whose parent is missing.
        EXPECT_EQ(row.folderAfter ? 1u : 0u, unit::folderEntries(temp.path()).size());
        if (row.existing) {
            EXPECT_EQ("kept", unit::readBytes(path + L"\\kept.txt"));
        }
    }
}

} // namespace
