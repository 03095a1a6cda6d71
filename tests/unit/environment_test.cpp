#include <gtest/gtest.h>

#include <windows.h>

#include <cwchar>
#include <string>
#include <vector>

#include <setup_support/environment.h>

#include "test_support.h"

namespace {

const wchar_t kMachineKey[] = L"System\\CurrentControlSet\\Control\\Session Manager\\Environment";
const wchar_t kUserKey[] = L"Environment";
const wchar_t kName[] = L"NIMBA_UNITTEST_ROOT";

struct StoredValue {
    LONG status = ERROR_FILE_NOT_FOUND;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

HKEY rootOf(int scope)
{
    return scope == kMachineScope ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

const wchar_t* keyOf(int scope)
{
    return scope == kMachineScope ? kMachineKey : kUserKey;
}

StoredValue readValue(int scope, const wchar_t* name)
{
    StoredValue value;
    HKEY key = nullptr;
    value.status = RegOpenKeyExW(rootOf(scope), keyOf(scope), 0, KEY_QUERY_VALUE, &key);
    if (value.status != ERROR_SUCCESS)
        return value;
    DWORD size = 0;
    value.status = RegQueryValueExW(key, name, nullptr, &value.type, nullptr, &size);
    if (value.status == ERROR_SUCCESS) {
        value.data.resize(size);
        value.status = RegQueryValueExW(key, name, nullptr, &value.type, value.data.data(), &size);
        value.data.resize(size);
    }
    RegCloseKey(key);
    return value;
}

std::vector<BYTE> stringBytes(const wchar_t* text)
{
    const BYTE* first = reinterpret_cast<const BYTE*>(text);
    return std::vector<BYTE>(first, first + (wcslen(text) + 1) * sizeof(wchar_t));
}

void storeDirectly(int scope, const wchar_t* name, const wchar_t* text)
{
    ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(rootOf(scope), keyOf(scope), name, REG_SZ, text,
                                             static_cast<DWORD>((wcslen(text) + 1) * sizeof(wchar_t))));
}

std::wstring processVariable(const wchar_t* name)
{
    wchar_t value[512] = L"";
    if (GetEnvironmentVariableW(name, value, 512) == 0)
        return L"<unset>";
    return value;
}

// The announcements that reached a top-level window of this thread.
int announcements = 0;

LRESULT CALLBACK countAnnouncements(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_SETTINGCHANGE && wParam == RegisterWindowMessageW(L"Environment") && lParam != 0 &&
        wcscmp(reinterpret_cast<const wchar_t*>(lParam), L"Environment") == 0)
        ++announcements;
    return DefWindowProcW(window, message, wParam, lParam);
}

// A broadcast sent from this thread reaches this thread's window before
// SendMessageTimeoutW returns, so each count is complete when read.
class Environment : public ::testing::Test {
protected:
    void SetUp() override
    {
        WNDCLASSW windowClass = {};
        windowClass.lpfnWndProc = countAnnouncements;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"NimbaUnitEnvironmentListener";
        RegisterClassW(&windowClass);
        listener = CreateWindowExW(0, windowClass.lpszClassName, L"", WS_OVERLAPPEDWINDOW, 0, 0, 10, 10, nullptr,
                                   nullptr, windowClass.hInstance, nullptr);
        ASSERT_NE(nullptr, listener) << "needs the null graphics driver in the prefix";
        forget(kName);
        announcements = 0;
    }
    void TearDown() override
    {
        forget(kName);
        if (listener != nullptr)
            DestroyWindow(listener);
        UnregisterClassW(L"NimbaUnitEnvironmentListener", GetModuleHandleW(nullptr));
    }

    static void forget(const wchar_t* name)
    {
        RegDeleteKeyValueW(HKEY_CURRENT_USER, kUserKey, name);
        RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kMachineKey, name);
        SetEnvironmentVariableW(name, nullptr);
    }

    HWND listener = nullptr;
};

TEST_F(Environment, StringIsStoredWithTerminatorAndSetInProcess)
{
    for (int scope : {kUserScope, kMachineScope}) {
        SCOPED_TRACE(scope);
        forget(kName);
        announcements = 0;
        EXPECT_EQ(0, setEnvVar(kName, L"C:\\Program Files\\NIMBA", REG_SZ, scope));
        StoredValue stored = readValue(scope, kName);
        ASSERT_EQ(ERROR_SUCCESS, stored.status);
        EXPECT_EQ(static_cast<DWORD>(REG_SZ), stored.type);
        EXPECT_EQ(stringBytes(L"C:\\Program Files\\NIMBA"), stored.data);
        EXPECT_EQ(ERROR_FILE_NOT_FOUND, readValue(1 - scope, kName).status) << "other scope touched";
        EXPECT_EQ(L"C:\\Program Files\\NIMBA", processVariable(kName));
        EXPECT_EQ(1, announcements);
    }
}

TEST_F(Environment, ExpandableStringAndNumberAreStoredButNotSetInProcess)
{
    for (int scope : {kUserScope, kMachineScope}) {
        SCOPED_TRACE(scope);
        forget(kName);
        announcements = 0;
        EXPECT_EQ(0, setEnvVar(kName, L"%ProgramFiles%\\NIMBA", REG_EXPAND_SZ, scope));
        StoredValue stored = readValue(scope, kName);
        EXPECT_EQ(static_cast<DWORD>(REG_EXPAND_SZ), stored.type);
        EXPECT_EQ(stringBytes(L"%ProgramFiles%\\NIMBA"), stored.data);
        EXPECT_EQ(L"<unset>", processVariable(kName));

        const DWORD number = 0x12345678;
        EXPECT_EQ(0, setEnvVar(kName, &number, REG_DWORD, scope));
        stored = readValue(scope, kName);
        EXPECT_EQ(static_cast<DWORD>(REG_DWORD), stored.type);
        ASSERT_EQ(sizeof(DWORD), stored.data.size());
        DWORD read = 0;
        memcpy(&read, stored.data.data(), sizeof(read));
        EXPECT_EQ(number, read);
        EXPECT_EQ(L"<unset>", processVariable(kName));
        EXPECT_EQ(2, announcements);
    }
}

TEST_F(Environment, OverwriteReplacesValueAndSize)
{
    EXPECT_EQ(0, setEnvVar(kName, L"D:\\a much longer installation root", REG_SZ, kUserScope));
    EXPECT_EQ(0, setEnvVar(kName, L"D:\\x", REG_SZ, kUserScope));
    EXPECT_EQ(stringBytes(L"D:\\x"), readValue(kUserScope, kName).data);
    EXPECT_EQ(L"D:\\x", processVariable(kName));
    EXPECT_EQ(2, announcements);
}

TEST_F(Environment, OtherScopesAreRefusedWithoutTouchingAnything)
{
    for (int scope : {2, -1}) {
        SCOPED_TRACE(scope);
        EXPECT_EQ(E_INVALIDARG, setEnvVar(L"NIMBA_UNITTEST_NEVER", L"x", REG_SZ, scope));
        EXPECT_EQ(ERROR_FILE_NOT_FOUND, readValue(kUserScope, L"NIMBA_UNITTEST_NEVER").status);
        EXPECT_EQ(ERROR_FILE_NOT_FOUND, readValue(kMachineScope, L"NIMBA_UNITTEST_NEVER").status);

        storeDirectly(kUserScope, kName, L"user");
        storeDirectly(kMachineScope, kName, L"machine");
        EXPECT_EQ(E_INVALIDARG, deleteEnvVar(kName, scope));
        EXPECT_EQ(ERROR_SUCCESS, readValue(kUserScope, kName).status);
        EXPECT_EQ(ERROR_SUCCESS, readValue(kMachineScope, kName).status);
    }
    forget(L"NIMBA_UNITTEST_NEVER");
    EXPECT_EQ(0, announcements);
}

// A value name beyond the registry's 16383 characters is the one refusal of a
// write that can be provoked on demand.
TEST_F(Environment, RefusedWriteIsReportedAsRegistryError)
{
    const std::wstring tooLong = L"NIMBA_UNITTEST_" + std::wstring(16384, L'X');
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, kUserKey, 0, KEY_SET_VALUE, &key));
    const LONG refusal = RegSetValueExW(key, tooLong.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(L"x"), 4);
    RegDeleteValueW(key, tooLong.c_str());
    RegCloseKey(key);
    if (refusal == ERROR_SUCCESS)
        GTEST_SKIP() << "this registry accepts the overlong name";

    EXPECT_EQ(HRESULT_FROM_WIN32(refusal), setEnvVar(tooLong.c_str(), L"x", REG_SZ, kUserScope));
    EXPECT_TRUE(FAILED(HRESULT_FROM_WIN32(refusal)));
    EXPECT_EQ(L"<unset>", processVariable(tooLong.c_str()));
    EXPECT_EQ(0, announcements);
}

TEST_F(Environment, DeletingAbsentValueIsSuccessWithoutAnnouncement)
{
    EXPECT_EQ(0, deleteEnvVar(kName, kUserScope));
    EXPECT_EQ(0, deleteEnvVar(kName, kMachineScope));
    EXPECT_EQ(0, announcements);
}

TEST_F(Environment, MachineDeletionClearsBothKeysAndAnnouncesEach)
{
    storeDirectly(kUserScope, kName, L"user");
    storeDirectly(kMachineScope, kName, L"machine");
    SetEnvironmentVariableW(kName, L"user");

    EXPECT_EQ(0, deleteEnvVar(kName, kMachineScope));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, readValue(kUserScope, kName).status);
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, readValue(kMachineScope, kName).status);
    EXPECT_EQ(L"<unset>", processVariable(kName));
    EXPECT_EQ(2, announcements);
}

TEST_F(Environment, MachineDeletionAnnouncesOnlyKeysAValueLeft)
{
    storeDirectly(kUserScope, kName, L"user");
    EXPECT_EQ(0, deleteEnvVar(kName, kMachineScope));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, readValue(kUserScope, kName).status);
    EXPECT_EQ(1, announcements);

    storeDirectly(kMachineScope, kName, L"machine");
    EXPECT_EQ(0, deleteEnvVar(kName, kMachineScope));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, readValue(kMachineScope, kName).status);
    EXPECT_EQ(2, announcements);
}

TEST_F(Environment, UserDeletionLeavesMachineValue)
{
    storeDirectly(kUserScope, kName, L"user");
    storeDirectly(kMachineScope, kName, L"machine");

    EXPECT_EQ(0, deleteEnvVar(kName, kUserScope));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, readValue(kUserScope, kName).status);
    StoredValue machine = readValue(kMachineScope, kName);
    ASSERT_EQ(ERROR_SUCCESS, machine.status);
    EXPECT_EQ(stringBytes(L"machine"), machine.data);
    EXPECT_EQ(1, announcements);
}

} // namespace
