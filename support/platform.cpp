#include <setup_support/platform.h>

#include <cwchar>

#include <setup_support/environment.h>
#include <setup_support/release_info.h>
#include <setup_support/wide_strings.h>

#include "owners.h"
#include "platform_internal.h"

namespace {

const wchar_t kProcessorVariable[] = L"PROCESSOR_IDENTIFIER";
const wchar_t* const kProcessor64BitMarkers[] = {L"EM64T", L"AMD64", L"Intel64"};

const wchar_t kHpcSearchKey[] = L"SOFTWARE\\Microsoft";
const wchar_t kHpcWord[] = L"HPC";

// Registry key names are at most 255 code units; longer ones are skipped.
const DWORD kSubkeyNameCapacity = 260;

using GetProductInfoFunction = BOOL(WINAPI*)(DWORD, DWORD, DWORD, DWORD, PDWORD);

// The cluster server product, or else a sub-key of SOFTWARE\Microsoft that
// names HPC, tells the HPC edition from an ordinary server.
int isHpcServer(DWORD majorVersion, DWORD minorVersion)
{
    // Resolved at run time: the call does not exist before Windows Vista.
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    FARPROC address = kernel != nullptr ? GetProcAddress(kernel, "GetProductInfo") : nullptr;
    if (address != nullptr) {
        auto getProductInfo = reinterpret_cast<GetProductInfoFunction>(reinterpret_cast<void*>(address));
        DWORD product = PRODUCT_UNDEFINED;
        if (getProductInfo(majorVersion, minorVersion, 0, 0, &product) && product == PRODUCT_CLUSTER_SERVER)
            return 1;
    }
    return hasSubkeyContaining(kHpcSearchKey, kHpcWord, isProcessor64Bit());
}

} // namespace

int isProcessor64Bit()
{
    UniqueString identifier(allocProcessVariable(kProcessorVariable));
    if (identifier) {
        for (const wchar_t* marker : kProcessor64BitMarkers) {
            if (wcsstr(identifier.get(), marker) != nullptr)
                return 1;
        }
        return 0;
    }
    // Set but empty, it names no 64-bit processor.
    SetLastError(ERROR_SUCCESS);
    if (GetEnvironmentVariableW(kProcessorVariable, nullptr, 0) != 0 || GetLastError() != ERROR_ENVVAR_NOT_FOUND)
        return 0;
    // Without the variable, ask the platform: a 32-bit program on 64-bit
    // Windows must still search the 64-bit registry view.
    SYSTEM_INFO system;
    ZeroMemory(&system, sizeof(system));
    GetNativeSystemInfo(&system);
    return system.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64 ? 1 : 0;
}

int hasSubkeyContaining(const wchar_t* keyPath, const wchar_t* word, int use64BitView)
{
    // Open, never create: a probe must leave the registry as it found it.
    const REGSAM view = use64BitView ? KEY_WOW64_64KEY : 0;
    HKEY rawKey = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS | view, &rawKey) !=
        ERROR_SUCCESS)
        return 0;
    UniqueRegKey key(rawKey);

    DWORD subkeyCount = 0;
    if (RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subkeyCount, nullptr, nullptr, nullptr, nullptr,
                         nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        return 0;

    UniqueString upperWord(joinStrings(1, word));
    upperCaseCopy(word, upperWord.get());
    wchar_t name[kSubkeyNameCapacity];
    wchar_t upperName[kSubkeyNameCapacity];
    for (DWORD index = 0; index < subkeyCount; ++index) {
        DWORD nameLength = kSubkeyNameCapacity;
        if (RegEnumKeyExW(key.get(), index, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            continue;
        upperCaseCopy(name, upperName);
        if (wcsstr(upperName, upperWord.get()) != nullptr)
            return 1;
    }
    return 0;
}

void decideWindowsEdition(const OSVERSIONINFOEXW* version, int (*hpcTest)(DWORD majorVersion, DWORD minorVersion),
                          WindowsEditionFlags* flags)
{
    ZeroMemory(flags, sizeof(*flags));
    const DWORD major = version->dwMajorVersion;
    const DWORD minor = version->dwMinorVersion;
    const bool workstation = version->wProductType == VER_NT_WORKSTATION;

    if (major == 5) {
        if (minor == 0)
            flags->windows2000 = 1;
        else if (minor == 1 || (minor == 2 && workstation))
            flags->windowsXP = 1;
        else if (minor == 2)
            flags->windowsServer2003 = 1;
    } else if (major == 6 && workstation) {
        if (minor == 0)
            flags->windowsVista = 1;
        else if (minor == 1)
            flags->windows7 = 1;
        else if (minor == 2)
            flags->windows8 = 1;
    } else if (major == 6 && minor <= 1) {
        if (hpcTest(major, minor))
            flags->windowsHpcServer = 1;
        else if (minor == 0)
            flags->windowsServer2008 = 1;
        else
            flags->windowsServer2008R2 = 1;
    }
}

void detectWindowsEdition(WindowsEditionFlags* flags)
{
    // A failed call leaves major version 0, which sets no flag.
    OSVERSIONINFOEXW version;
    ZeroMemory(&version, sizeof(version));
    version.dwOSVersionInfoSize = sizeof(version);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&version));
#pragma GCC diagnostic pop
    decideWindowsEdition(&version, isHpcServer, flags);
}

void readRegistryString(HKEY root, const wchar_t* subKey, wchar_t* destination, const wchar_t* valueName)
{
    HKEY rawKey = nullptr;
    if (RegOpenKeyExW(root, subKey, 0, KEY_QUERY_VALUE, &rawKey) != ERROR_SUCCESS)
        return;
    UniqueRegKey key(rawKey);

    // One unit more than offered, so that a value stored without its
    // terminator can still be terminated.
    wchar_t value[kRegistryStringCapacity + 1] = L"";
    DWORD type = REG_NONE;
    DWORD size = kRegistryStringCapacity * sizeof(wchar_t);
    destination[0] = L'\0';
    if (RegQueryValueExW(key.get(), valueName, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) !=
            ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return;
    value[size / sizeof(wchar_t)] = L'\0';
    copyWhenFits(value, destination, kRegistryStringCapacity);
}

int getModuleFilePath(wchar_t* buffer, int capacity)
{
    UniqueString path(getProgramPath());
    return copyWhenFits(path.get(), buffer, capacity);
}
