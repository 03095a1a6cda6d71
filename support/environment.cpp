#include <setup_support/environment.h>

#include <windows.h>

#include <cwchar>

#include "owners.h"

namespace {

const wchar_t kMachineEnvironmentKey[] = L"System\\CurrentControlSet\\Control\\Session Manager\\Environment";
const wchar_t kUserEnvironmentKey[] = L"Environment";
const wchar_t kEnvironmentMessage[] = L"Environment";
// Each window gets this long to answer; a hung window must not hold up setup.
const UINT kBroadcastTimeoutMs = 50;

bool isValidScope(int scope)
{
    return scope == kMachineScope || scope == kUserScope;
}

// Opens (never creates) the scope's environment key; null when it cannot.
HKEY openEnvironmentKey(int scope)
{
    HKEY root = scope == kMachineScope ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
    const wchar_t* subkey = scope == kMachineScope ? kMachineEnvironmentKey : kUserEnvironmentKey;
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, subkey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return nullptr;
    return key;
}

// Deletes one value and, when it was there, takes the variable out of the
// running process and announces the change. An absent value is success.
HRESULT deleteValueAndAnnounce(HKEY key, const wchar_t* name)
{
    LONG status = RegDeleteValueW(key, name);
    if (status == ERROR_FILE_NOT_FOUND)
        return S_OK;
    if (status != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(status);
    SetEnvironmentVariableW(name, nullptr);
    broadcastEnvironmentChange();
    return S_OK;
}

} // namespace

wchar_t* allocProcessVariable(const wchar_t* name)
{
    const DWORD needed = GetEnvironmentVariableW(name, nullptr, 0);
    if (needed <= 1)
        return nullptr;
    UniqueString value(new wchar_t[needed]);
    // A value that changed since the size query is taken as none.
    const DWORD got = GetEnvironmentVariableW(name, value.get(), needed);
    if (got == 0 || got >= needed)
        return nullptr;
    return value.release();
}

void broadcastEnvironmentChange()
{
    UINT message = RegisterWindowMessageW(kEnvironmentMessage);
    DWORD_PTR answer = 0;
    SendMessageTimeoutW(HWND_BROADCAST, WM_SETTINGCHANGE, message, reinterpret_cast<LPARAM>(kEnvironmentMessage),
                        SMTO_NORMAL, kBroadcastTimeoutMs, &answer);
}

int setEnvVar(const wchar_t* name, const void* data, unsigned type, int scope)
{
    if (!isValidScope(scope))
        return E_INVALIDARG;
    UniqueRegKey key(openEnvironmentKey(scope));
    if (!key)
        return E_FAIL;

    const bool isString = type == REG_SZ || type == REG_EXPAND_SZ;
    DWORD size = isString ? static_cast<DWORD>((wcslen(static_cast<const wchar_t*>(data)) + 1) * sizeof(wchar_t))
                          : static_cast<DWORD>(sizeof(DWORD));
    LONG status = RegSetValueExW(key.get(), name, 0, type, static_cast<const BYTE*>(data), size);
    if (status != ERROR_SUCCESS)
        return HRESULT_FROM_WIN32(status);

    // An expandable value would need expanding first; the running process
    // keeps its old view of it.
    if (type == REG_SZ)
        SetEnvironmentVariableW(name, static_cast<const wchar_t*>(data));
    broadcastEnvironmentChange();
    return S_OK;
}

int deleteEnvVar(const wchar_t* name, int scope)
{
    if (!isValidScope(scope))
        return E_INVALIDARG;
    UniqueRegKey key(openEnvironmentKey(scope));

    // A machine-wide deletion also clears the user's value of that name, so
    // that no stale per-user copy shadows the removal.
    HRESULT userResult = S_OK;
    if (scope == kMachineScope) {
        UniqueRegKey userKey(openEnvironmentKey(kUserScope));
        if (userKey)
            userResult = deleteValueAndAnnounce(userKey.get(), name);
    }

    if (!key)
        return E_FAIL;
    HRESULT result = deleteValueAndAnnounce(key.get(), name);
    return FAILED(result) ? result : userResult;
}
