#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "child_processes.h"
#include "test_support.h"

namespace {

// A program in a folder that also holds a planted DLL loads that DLL by bare
// name until its DLL search is restricted; afterwards the name is not found.
TEST(RestrictDllSearchToSystemFolder, PlantedDllBesideTheProgramIsNoLongerLoaded)
{
    unit::TempFolder temp;
    const std::wstring probe = temp / L"dll_search_probe.exe";
    std::wstring planted = unit::toolPath(L"dll_search_probe");
    planted.replace(planted.find_last_of(L'\\') + 1, std::wstring::npos, L"nimba_planted.dll");
    ASSERT_TRUE(CopyFileW(unit::toolPath(L"dll_search_probe").c_str(), probe.c_str(), TRUE));
    ASSERT_TRUE(CopyFileW(planted.c_str(), (temp / L"nimba_planted.dll").c_str(), TRUE));
    const std::wstring marker = temp / L"nimba_planted.dll.loaded";

    const struct {
        const wchar_t* form;
        DWORD status;
        bool loaded;
    } rows[] = {{L"open", ERROR_DLL_INIT_FAILED, true}, {L"restricted", ERROR_MOD_NOT_FOUND, false}};
    for (const auto& row : rows) {
        DeleteFileW(marker.c_str());
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        // Started from elsewhere: the program's own folder is what counts.
        EXPECT_EQ(row.status, unit::exitStatusOf(L"\"" + probe + L"\" " + row.form, &startup, FALSE)) << row.form;
        EXPECT_EQ(row.loaded, unit::pathExists(marker)) << row.form;
    }
}

} // namespace
