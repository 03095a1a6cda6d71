#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include <setup_support/platform.h>

#include "platform_internal.h"
#include "test_support.h"

namespace {

const wchar_t kCanary = L'#';

enum Flag { k2000, kXP, k2003, kVista, k2008, k2008R2, kHpc, k7, k8, kNone };

// The nine flags as digits in their order.
std::string flagDigits(const WindowsEditionFlags& flags)
{
    std::string digits;
    const unsigned char* flag = reinterpret_cast<const unsigned char*>(&flags);
    for (size_t i = 0; i < sizeof(flags); ++i)
        digits += static_cast<char>('0' + flag[i]);
    return digits;
}

std::string onlyFlag(Flag flag)
{
    std::string digits(sizeof(WindowsEditionFlags), '0');
    if (flag != kNone)
        digits[flag] = '1';
    return digits;
}

TEST(DecideWindowsEdition, ReleaseProductTypeAndHpcAnswer)
{
    const struct {
        DWORD major;
        DWORD minor;
        BYTE productType;
        int hpc;
        Flag flag;
    } rows[] = {
        {4, 0, VER_NT_WORKSTATION, 0, kNone},   {5, 0, VER_NT_SERVER, 0, k2000},
        {5, 1, VER_NT_WORKSTATION, 0, kXP},     {5, 2, VER_NT_WORKSTATION, 0, kXP},
        {5, 2, VER_NT_SERVER, 0, k2003},        {5, 2, VER_NT_DOMAIN_CONTROLLER, 0, k2003},
        {5, 3, VER_NT_WORKSTATION, 0, kNone},   {6, 0, VER_NT_WORKSTATION, 1, kVista},
        {6, 0, VER_NT_SERVER, 0, k2008},        {6, 0, VER_NT_DOMAIN_CONTROLLER, 1, kHpc},
        {6, 1, VER_NT_SERVER, 0, k2008R2},      {6, 1, VER_NT_SERVER, 1, kHpc},
        {6, 1, VER_NT_WORKSTATION, 1, k7},      {6, 2, VER_NT_WORKSTATION, 0, k8},
        {6, 2, VER_NT_SERVER, 1, kNone},        {6, 3, VER_NT_WORKSTATION, 0, kNone},
        {10, 0, VER_NT_WORKSTATION, 0, kNone},  {0, 0, 0, 0, kNone},
    };
    for (const auto& row : rows) {
        OSVERSIONINFOEXW version = {};
        version.dwOSVersionInfoSize = sizeof(version);
        version.dwMajorVersion = row.major;
        version.dwMinorVersion = row.minor;
        version.wProductType = row.productType;
        WindowsEditionFlags flags;
        memset(&flags, 7, sizeof(flags));
        auto hpcFound = [](DWORD, DWORD) { return 1; };
        auto hpcNotFound = [](DWORD, DWORD) { return 0; };
        decideWindowsEdition(&version, row.hpc ? +hpcFound : +hpcNotFound, &flags);
        EXPECT_EQ(onlyFlag(row.flag), flagDigits(flags))
            << row.major << "." << row.minor << " type " << int(row.productType) << " hpc " << row.hpc;
    }
}

TEST(IsProcessor64Bit, MarkersInExactCaseElseThePlatformWhenUnset)
{
    const struct {
        const wchar_t* identifier;
        int answer;
    } rows[] = {
        {L"Intel64 Family 6 Model 158 Stepping 10, GenuineIntel", 1},
        {L"AMD64 Family 23 Model 1 Stepping 1, AuthenticAMD", 1},
        {L"EM64T Family 15 Model 4 Stepping 1, GenuineIntel", 1},
        {L"x86 Family 6 Model 158 Stepping 10, GenuineIntel", 0},
        {L"amd64 Family 23 Model 1 Stepping 1, AuthenticAMD", 0},
        // Unset: the platform answers, 64-bit under the tests' wine64 for
        // either build. Set but empty: no marker.
        {nullptr, 1},
        {L"", 0},
    };
    for (const auto& row : rows) {
        unit::ScopedVariable identifier(L"PROCESSOR_IDENTIFIER", row.identifier);
        EXPECT_EQ(row.answer, isProcessor64Bit()) << (row.identifier ? row.identifier : L"<unset>");
    }
}

// The probes' keys stand in the 64-bit registry view, where the product
// looks for them on 64-bit Windows; a 32-bit process's own view is the
// redirected one (WOW6432Node), so the 32-bit build finds them only there.
const int kOwnViewIs64Bit = sizeof(void*) == 8 ? 1 : 0;

bool createKey(HKEY root, const std::wstring& path)
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_READ | KEY_WOW64_64KEY, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

void deleteKeyTree(HKEY root, const std::wstring& path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS)
        return;
    RegDeleteTreeW(key, nullptr);
    RegCloseKey(key);
    RegDeleteKeyExW(root, path.c_str(), KEY_WOW64_64KEY, 0);
}

// In either registry view.
bool keyExists(const std::wstring& path)
{
    for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | view, &key) == ERROR_SUCCESS) {
            RegCloseKey(key);
            return true;
        }
    }
    return false;
}

TEST(HasSubkeyContaining, AnyCaseOfWordInsideANameOpensOnly)
{
    const std::wstring parent = L"SOFTWARE\\" + unit::uniqueName(L"NimbaUnitKeys");
    for (const wchar_t* child : {L"\\Microsoft HpcPack 2008", L"\\Alpha"})
        ASSERT_TRUE(createKey(HKEY_LOCAL_MACHINE, parent + child));
    const std::wstring missing = parent + L"\\Missing";
    const struct {
        std::wstring key;
        const wchar_t* word;
        int use64BitView;
        int answer;
    } rows[] = {
        {parent, L"HPC", 0, kOwnViewIs64Bit}, {parent, L"hpc", 1, 1},    {parent, L"HPCX", 1, 0},
        {parent, L"alpha", 0, kOwnViewIs64Bit}, {parent, L"alpha", 1, 1}, {parent, L"Beta", 1, 0},
        {parent + L"\\Alpha", L"", 1, 0}, {missing, L"HPC", 0, 0},   {missing, L"HPC", 1, 0},
    };
    for (const auto& row : rows)
        EXPECT_EQ(row.answer, hasSubkeyContaining(row.key.c_str(), row.word, row.use64BitView)) << row.word;
    EXPECT_FALSE(keyExists(missing));
    deleteKeyTree(HKEY_LOCAL_MACHINE, parent);
}

TEST(ReadRegistryString, BoundedAlwaysTerminatedStringsOnly)
{
    const std::wstring keyPath = L"Software\\" + unit::uniqueName(L"NimbaUnitStrings");
    const std::wstring longest(kRegistryStringCapacity - 1, L'x');
    const std::wstring full(kRegistryStringCapacity, L'x');
    const DWORD number = 0x00410041; // "AA" if taken for text
    const struct {
        const wchar_t* name;
        DWORD type;
        const void* data;
        size_t bytes;
        std::wstring text;
    } rows[] = {
        {L"Path", REG_SZ, L"C:\\NIMBA", sizeof(L"C:\\NIMBA"), L"C:\\NIMBA"},
        {L"Expand", REG_EXPAND_SZ, L"%ROOT%", sizeof(L"%ROOT%"), L"%ROOT%"},
        {L"Longest", REG_SZ, longest.c_str(), (longest.size() + 1) * sizeof(wchar_t), longest},
        {L"TooLong", REG_SZ, full.c_str(), (full.size() + 1) * sizeof(wchar_t), L""},
        {L"FullUnterminated", REG_SZ, full.c_str(), full.size() * sizeof(wchar_t), L""},
        {L"Number", REG_DWORD, &number, sizeof(number), L""},
        {L"Missing", REG_NONE, nullptr, 0, L""},
    };
    for (const auto& row : rows) {
        if (row.data != nullptr)
            RegSetKeyValueW(HKEY_CURRENT_USER, keyPath.c_str(), row.name, row.type, row.data,
                            static_cast<DWORD>(row.bytes));
    }
    for (const auto& row : rows) {
        std::vector<wchar_t> destination(kRegistryStringCapacity + 1, kCanary);
        destination[kRegistryStringCapacity] = L'\0';
        readRegistryString(HKEY_CURRENT_USER, keyPath.c_str(), destination.data(), row.name);
        EXPECT_EQ(row.text, destination.data()) << row.name;
    }
    // A key that cannot be opened leaves the destination as it was.
    wchar_t destination[kRegistryStringCapacity] = L"prepared";
    readRegistryString(HKEY_CURRENT_USER, (keyPath + L"\\Missing").c_str(), destination, L"Path");
    EXPECT_STREQ(L"prepared", destination);
    RegDeleteTreeW(HKEY_CURRENT_USER, keyPath.c_str());
}

// Wine reports a Windows version per program file name; Wine 8.0 reports
// win7 as a 6.1 server and win2008r2 as a 6.1 workstation. The probe runs
// from a path of more than 520 code units, which only a start through the
// Wine loader accepts, and reports its path's size query, a fill call with
// one unit too few, the fill call, and the path. Wine's 32-bit side starts a
// program from a path of up to 259 units and fails at 260 (MAX_PATH),
// measured with Wine 8 and Wine 10; much longer paths crash its loader. There
// the probe runs from a path of exactly 259 units, wherever the Temp folder is.
TEST(PlatformProbes, ReportedVersionsWithAndWithoutHpcKeyFromLongPath)
{
    unit::TempFolder temp;
    std::wstring folder = temp.path();
    const std::wstring name = L"\\platform_probe.exe";
    const size_t probeLength = sizeof(void*) == 8 ? 540 : MAX_PATH - 1;
    ASSERT_LT(folder.size() + name.size(), probeLength);
    for (wchar_t letter = L'a'; folder.size() + name.size() < probeLength; ++letter) {
        // Levels of up to 100 units, the last one cut to reach the length exactly.
        const size_t remaining = probeLength - folder.size() - name.size();
        size_t level = std::min<size_t>(100, remaining - 1);
        if (remaining - 1 - level == 1)
            --level;
        folder += L"\\" + std::wstring(level, letter);
        ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    }
    const std::wstring probe = folder + name;
    ASSERT_EQ(probeLength, probe.size());
    ASSERT_TRUE(CopyFileW(unit::toolPath(L"platform_probe").c_str(), probe.c_str(), TRUE));

    const std::wstring appDefaults = L"Software\\Wine\\AppDefaults\\platform_probe.exe";
    const std::wstring hpcKey = L"SOFTWARE\\Microsoft\\" + unit::uniqueName(L"NimbaUnit hPc Pack");
    const struct {
        const wchar_t* version;
        bool hpcKey;
        Flag flag;
    } rows[] = {
        {L"win2008", false, k2008}, {L"win2008", true, kHpc}, {L"win7", false, k2008R2},
        {L"win2008r2", true, k7},   {L"winxp64", false, kXP},
    };
    for (const auto& row : rows) {
        RegSetKeyValueW(HKEY_CURRENT_USER, appDefaults.c_str(), L"Version", REG_SZ, row.version,
                        static_cast<DWORD>((wcslen(row.version) + 1) * sizeof(wchar_t)));
        if (row.hpcKey) {
            ASSERT_TRUE(createKey(HKEY_LOCAL_MACHINE, hpcKey));
        }
        const std::string bytes = unit::runThroughWineLoader(probe, L"");
        deleteKeyTree(HKEY_LOCAL_MACHINE, hpcKey);
        RegDeleteKeyW(HKEY_CURRENT_USER, appDefaults.c_str());

        const std::wstring report(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
        const std::string flags(report.begin(), report.begin() + std::min<size_t>(report.size(), 9));
        EXPECT_EQ(onlyFlag(row.flag), flags) << row.version << (row.hpcKey ? " with" : " without") << " HPC key";
        const std::wstring needed = std::to_wstring(probe.size() + 1);
        EXPECT_EQ(L"\n" + needed + L" " + needed + L" 0 " + probe, report.substr(flags.size())) << row.version;
    }
    EXPECT_FALSE(keyExists(hpcKey));
}

} // namespace
