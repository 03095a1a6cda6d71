#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "child_processes.h"
#include "launching.h"
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
// quote the program path.
void launch(Form form, const std::wstring& program, const std::wstring& arguments, int show)
{
    std::wstring commandLine = L"\"" + program + L"\" " + arguments;
    switch (form) {
    case Form::ShellAndWait:
        EXPECT_NE(0, shellExecuteAndWait(program.c_str(), arguments.c_str(), show));
        break;
    case Form::ShellOpen:
        EXPECT_NE(0, shellOpen(program.c_str(), arguments.c_str(), show));
        break;
    case Form::HiddenAndWait:
        runHiddenAndWait(&commandLine[0]);
        break;
    case Form::HiddenDetached:
        runHiddenDetached(&commandLine[0]);
        break;
    }
}

struct Marker {
    std::wstring commandLine;
    DWORD flags = 0;
    unsigned show = 0;
    std::wstring handle;
};

// The launch marker's report, waiting up to `waitMs` for it to appear; an
// empty command line when it did not.
Marker readMarker(const std::wstring& path, DWORD waitMs)
{
    for (DWORD waited = 0; !unit::pathExists(path) && waited < waitMs; waited += 50)
        Sleep(50);
    const std::string bytes = unit::readBytes(path);
    Marker marker;
    if (!unit::pathExists(path))
        return marker;
    std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
    std::wstring lines[4];
    size_t start = 0;
    for (std::wstring& line : lines) {
        const size_t end = text.find(L'\n', start);
        line = text.substr(start, end - start);
        start = end == std::wstring::npos ? end : end + 1;
    }
    marker.commandLine = lines[0];
    marker.flags = std::wcstoul(lines[1].c_str(), nullptr, 10);
    marker.show = std::wcstoul(lines[2].c_str(), nullptr, 10);
    marker.handle = lines[3];
    return marker;
}

bool endsWith(const std::wstring& text, const std::wstring& tail)
{
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// The waiting forms return only once the child has ended; every form hands
// down the parameters and the show request, the command-line forms also
// every inheritable handle and a hidden window.
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
        unit::TempFolder temp;
        std::wstring program = unit::toolPath(L"launch_marker");
        if (row.pathWithSpaces) {
            const std::wstring folder = temp / L"folder with spaces";
            ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
            const std::wstring copy = folder + L"\\launch marker.exe";
            ASSERT_TRUE(CopyFileW(program.c_str(), copy.c_str(), TRUE));
            program = copy;
        }
        const std::wstring markerPath = temp / L"marker.txt";
        SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
        HANDLE event = CreateEventW(&inheritable, TRUE, FALSE, nullptr);
        const std::wstring arguments =
            L"\"" + markerPath + L"\" " + std::to_wstring(reinterpret_cast<ULONG_PTR>(event));

        launch(row.form, program, arguments, row.show);
        const Marker marker = readMarker(markerPath, waits(row.form) ? 0 : 10000);
        if (waits(row.form)) {
            EXPECT_TRUE(unit::childProcessIds(program.substr(program.find_last_of(L'\\') + 1)).empty());
        }
        EXPECT_TRUE(endsWith(marker.commandLine, arguments)) << marker.commandLine;
        EXPECT_EQ(static_cast<DWORD>(STARTF_USESHOWWINDOW), marker.flags & STARTF_USESHOWWINDOW);
        EXPECT_EQ(row.expectedShow, marker.show);
        if (row.form == Form::HiddenAndWait || row.form == Form::HiddenDetached) {
            EXPECT_EQ(L"\"" + program + L"\" " + arguments, marker.commandLine);
            EXPECT_EQ(L"set", marker.handle);
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
        // A sleeper of 20 seconds: a form that waited would find it gone.
        launch(form, sleeper, L"20", SW_HIDE);
        const std::vector<DWORD> running = unit::childProcessIds(L"processes_sleeper.exe");
        EXPECT_EQ(1u, running.size());
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

    const wchar_t classKey[] = L"Software\\Classes\\NimbaUnitTest.Document";
    const wchar_t extensionKey[] = L"Software\\Classes\\.nimbaunittest";
    const std::wstring command = L"\"" + unit::toolPath(L"launch_marker") + L"\" \"" + markerPath + L"\" 0 ";
    const std::wstring inspect = command + L"inspect_verb";
    const std::wstring open = command + L"open_verb";
    auto setText = [](const std::wstring& key, const wchar_t* name, const std::wstring& text) {
        return RegSetKeyValueW(HKEY_LOCAL_MACHINE, key.c_str(), name, REG_SZ, text.c_str(),
                               static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    };
    ASSERT_EQ(ERROR_SUCCESS, setText(extensionKey, nullptr, L"NimbaUnitTest.Document"));
    ASSERT_EQ(ERROR_SUCCESS, setText(std::wstring(classKey) + L"\\shell", nullptr, L"inspect"));
    ASSERT_EQ(ERROR_SUCCESS, setText(std::wstring(classKey) + L"\\shell\\inspect\\command", nullptr, inspect));
    ASSERT_EQ(ERROR_SUCCESS, setText(std::wstring(classKey) + L"\\shell\\open\\command", nullptr, open));

    for (Form form : {Form::ShellAndWait, Form::ShellOpen}) {
        SCOPED_TRACE(formName(form));
        DeleteFileW(markerPath.c_str());
        launch(form, document, L"", SW_SHOWNORMAL);
        const std::wstring verb = form == Form::ShellAndWait ? L"inspect_verb" : L"open_verb";
        EXPECT_TRUE(endsWith(readMarker(markerPath, waits(form) ? 0 : 10000).commandLine, verb));
    }
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, classKey);
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, extensionKey);
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

// Each started program's process and thread handles are closed again.
TEST(Launching, RepeatedLaunchesLeakNoHandle)
{
    struct Row {
        Form form;
        int count;
    };
    const std::wstring quick = unit::toolPath(L"exits_at_once");
    for (const Row& row : {Row{Form::HiddenAndWait, 100}, Row{Form::ShellAndWait, 10}, Row{Form::HiddenDetached, 10}}) {
        SCOPED_TRACE(formName(row.form));
        // The first shell launch of a process opens what the shell keeps for
        // later: the probe starts after one launch.
        launch(row.form, quick, L"", SW_HIDE);
        const std::vector<HANDLE> before = unit::freshHandleValues();
        for (int i = 0; i < row.count; ++i)
            launch(row.form, quick, L"", SW_HIDE);
        EXPECT_EQ(before, unit::freshHandleValues());
    }
}

} // namespace
