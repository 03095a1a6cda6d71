#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include <setup_support/launching.h>

#include "child_processes.h"
#include "owners.h"
#include "test_support.h"

namespace {

enum class Form { ShellAndWait, ShellOpen, HiddenAndWait, HiddenDetached };

const wchar_t* formName(Form form)
{
    const wchar_t* names[] = {L"shellExecuteAndWait", L"shellOpen", L"runHiddenAndWait", L"runHiddenDetached"};
    return names[static_cast<int>(form)];
}

bool waits(Form form)
{
    return form == Form::ShellAndWait || form == Form::HiddenAndWait;
}

// Starts `program` with `arguments` in the given form; the command-line forms
// quote the program path. A start that Wine lost is made once more.
void launch(Form form, const std::wstring& program, const std::wstring& arguments, int show)
{
    std::wstring commandLine = L"\"" + program + L"\" " + arguments;
    int result = 1;
    unit::retryingLostStart([&] {
        switch (form) {
        case Form::ShellAndWait:
            result = shellExecuteAndWait(program.c_str(), arguments.c_str(), show);
            break;
        case Form::ShellOpen:
            result = shellOpen(program.c_str(), arguments.c_str(), show);
            break;
        case Form::HiddenAndWait:
            runHiddenAndWait(&commandLine[0]);
            break;
        case Form::HiddenDetached:
            runHiddenDetached(&commandLine[0]);
            break;
        }
    });
    EXPECT_NE(0, result);
}

// The launch marker's report, waiting up to `waitMs` for it to appear.
std::wstring readMarker(const std::wstring& path, DWORD waitMs)
{
    for (DWORD waited = 0; !unit::pathExists(path) && waited < waitMs; waited += 50)
        Sleep(50);
    const std::string bytes = unit::readBytes(path);
    return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
}

// The waiting forms return only once the child has ended (its report is
// there); every form hands down the parameters and the show request, the
// command-line forms a hidden window and every inheritable handle.
TEST(Launching, ChildSeesParametersShowRequestAndHandles)
{
    struct Row {
        Form form;
        bool pathWithSpaces;
        int show;
        unsigned expectedShow;
    };
    const Row rows[] = {
        {Form::ShellAndWait, false, SW_SHOWMINNOACTIVE, SW_SHOWMINNOACTIVE},
        {Form::ShellAndWait, true, 0x10000 + SW_SHOWMAXIMIZED, SW_SHOWMAXIMIZED},
        {Form::ShellOpen, false, SW_SHOWNOACTIVATE, SW_SHOWNOACTIVATE},
        {Form::HiddenAndWait, false, 0, SW_HIDE},
        {Form::HiddenAndWait, true, 0, SW_HIDE},
        {Form::HiddenDetached, false, 0, SW_HIDE},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::wstring(formName(row.form)) + (row.pathWithSpaces ? L" spaced path" : L""));
        const bool hidden = row.form == Form::HiddenAndWait || row.form == Form::HiddenDetached;
        unit::TempFolder temp;
        std::wstring program = unit::toolPath(L"launch_marker");
        if (row.pathWithSpaces) {
            const std::wstring copy = temp / L"folder with spaces\\launch marker.exe";
            ASSERT_TRUE(CreateDirectoryW((temp / L"folder with spaces").c_str(), nullptr));
            ASSERT_TRUE(CopyFileW(program.c_str(), copy.c_str(), TRUE));
            program = copy;
        }
        const std::wstring markerPath = temp / L"marker.txt";
        SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
        HANDLE event = CreateEventW(&inheritable, TRUE, FALSE, nullptr);
        const std::wstring arguments =
            L"\"" + markerPath + L"\" " + std::to_wstring(hidden ? reinterpret_cast<ULONG_PTR>(event) : 0);

        launch(row.form, program, arguments, row.show);
        EXPECT_EQ(L"\"" + program + L"\" " + arguments + L"\n1\n" + std::to_wstring(row.expectedShow) +
                      (hidden ? L"\nset\n" : L"\nunset\n"),
                  readMarker(markerPath, waits(row.form) ? 0 : 10000));
        if (hidden) {
            EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(event, 0)) << "handle not inherited";
        }
        CloseHandle(event);
    }
}

TEST(Launching, NonWaitingFormsReturnWhileChildRuns)
{
    const std::wstring sleeper = unit::toolPath(L"processes_sleeper");
    for (Form form : {Form::ShellOpen, Form::HiddenDetached}) {
        SCOPED_TRACE(formName(form));
        // A sleeper of 3 seconds: a form that waited would find it gone.
        launch(form, sleeper, L"3", SW_HIDE);
        const std::vector<DWORD> running = unit::childProcessIds(L"processes_sleeper.exe");
        EXPECT_EQ(1u, running.size());
        // It ends by itself (exit code 3). Wine 10 may leave the console host of a
        // console program ended while it still starts running for ever, and that
        // host holds the test runner's output open.
        for (DWORD id : running) {
            UniqueHandle process(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id));
            DWORD exitCode = 0;
            EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process.get(), 30000));
            EXPECT_TRUE(GetExitCodeProcess(process.get(), &exitCode) && exitCode == 3) << exitCode;
        }
        unit::endProcesses(running);
    }
}

// The document's default verb is not "open": the waiting form follows the
// default verb, shellOpen asks for "open".
TEST(Launching, ShellFormsUseDefaultVerbOrOpen)
{
    unit::TempFolder temp;
    const std::wstring markerPath = temp / L"marker.txt";
    const std::wstring document = temp / L"model.nimbaunittest";
    ASSERT_TRUE(unit::writeBytes(document, "document"));

    const std::wstring classKey = L"Software\\Classes\\NimbaUnitTest.Document";
    const std::wstring extensionKey = L"Software\\Classes\\.nimbaunittest";
    const std::wstring command = L"\"" + unit::toolPath(L"launch_marker") + L"\" \"" + markerPath + L"\" 0 ";
    const std::pair<std::wstring, std::wstring> defaults[] = {
        {extensionKey, L"NimbaUnitTest.Document"},
        {classKey + L"\\shell", L"inspect"},
        {classKey + L"\\shell\\inspect\\command", command + L"inspect_verb"},
        {classKey + L"\\shell\\open\\command", command + L"open_verb"},
    };
    for (const auto& value : defaults)
        ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_LOCAL_MACHINE, value.first.c_str(), nullptr, REG_SZ,
                                                 value.second.c_str(),
                                                 static_cast<DWORD>((value.second.size() + 1) * sizeof(wchar_t))));

    for (Form form : {Form::ShellAndWait, Form::ShellOpen}) {
        SCOPED_TRACE(formName(form));
        DeleteFileW(markerPath.c_str());
        launch(form, document, L"", SW_SHOWNORMAL);
        const std::wstring verb = form == Form::ShellAndWait ? L"inspect_verb" : L"open_verb";
        const std::wstring report = readMarker(markerPath, waits(form) ? 0 : 10000);
        EXPECT_NE(std::wstring::npos, report.find(verb + L"\n")) << report;
    }
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, classKey.c_str());
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, extensionKey.c_str());
}

// Counts the error boxes this thread shows, and closes each at once.
int boxesShown = 0;

LRESULT CALLBACK closeBoxes(int code, WPARAM wParam, LPARAM lParam)
{
    wchar_t className[16] = L"";
    if (code == HCBT_ACTIVATE && GetClassNameW(reinterpret_cast<HWND>(wParam), className, 16) &&
        wcscmp(className, L"#32770") == 0) {
        ++boxesShown;
        PostMessageW(reinterpret_cast<HWND>(wParam), WM_COMMAND, IDOK, 0);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

TEST(Launching, ShellRefusalReturnsZeroWithErrorAndShowsNoBox)
{
    unit::TempFolder temp;
    const std::wstring missing = temp / L"missing.exe";
    HHOOK hook = SetWindowsHookExW(WH_CBT, closeBoxes, nullptr, GetCurrentThreadId());
    ASSERT_NE(nullptr, hook);
    for (auto execute : {shellExecuteAndWait, shellOpen}) {
        boxesShown = 0;
        SetLastError(ERROR_SUCCESS);
        const int result = execute(missing.c_str(), nullptr, SW_SHOWNORMAL);
        const DWORD error = GetLastError();
        EXPECT_EQ(0, result);
        EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), error);
        EXPECT_EQ(0, boxesShown);
    }
    UnhookWindowsHookEx(hook);
}

} // namespace
