#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include <setup_support/messages.h>

#include "test_support.h"

namespace {

const UINT kTickMs = 20;
// A box the watch never recognised is closed after this many ticks, so that
// no test waits for ever.
const int kFallbackTicks = 250;

// What the box showed while it stood, read from the box itself; the type it
// was asked for, read from the parameters its dialog starts with.
struct ShownBox {
    int boxes = 0;
    std::wstring caption;
    std::wstring text;
    bool owned = true;
    bool foreground = false;
    UINT askedType = 0;
};

ShownBox shown;
HWND standingBox = nullptr;
int ticks = 0;

bool isDialogBox(HWND window)
{
    wchar_t className[16] = L"";
    GetClassNameW(window, className, 16);
    return wcscmp(className, L"#32770") == 0;
}

// Other windows of the thread are activated too; only the box counts.
LRESULT CALLBACK watchActivation(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_ACTIVATE && isDialogBox(reinterpret_cast<HWND>(wParam)))
        standingBox = reinterpret_cast<HWND>(wParam);
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// A message box starts its dialog with the parameters it was asked for.
// Wine does not show MB_TOPMOST in the box's style, so the request is read here.
LRESULT CALLBACK watchDialogStart(int code, WPARAM wParam, LPARAM lParam)
{
    const CWPSTRUCT* call = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (code == HC_ACTION && call->message == WM_INITDIALOG && isDialogBox(call->hwnd)) {
        const MSGBOXPARAMSW* asked = reinterpret_cast<const MSGBOXPARAMSW*>(call->lParam);
        if (asked != nullptr && asked->cbSize == sizeof(MSGBOXPARAMSW))
            shown.askedType = asked->dwStyle;
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

BOOL CALLBACK closeDialogBox(HWND window, LPARAM)
{
    if (isDialogBox(window))
        PostMessageW(window, WM_COMMAND, IDOK, 0);
    return TRUE;
}

// Runs inside the box's modal loop: reads the box once it stands, then
// presses OK.
void CALLBACK readAndDismiss(HWND, UINT, UINT_PTR, DWORD)
{
    ++ticks;
    if (standingBox != nullptr && IsWindowVisible(standingBox)) {
        ++shown.boxes;
        shown.caption = unit::windowText(standingBox);
        shown.text = unit::windowText(GetDlgItem(standingBox, 0xFFFF));
        shown.owned = GetWindow(standingBox, GW_OWNER) != nullptr;
        shown.foreground = GetForegroundWindow() == standingBox;
        PostMessageW(standingBox, WM_COMMAND, IDOK, 0);
        standingBox = nullptr;
    } else if (ticks > kFallbackTicks) {
        EnumThreadWindows(GetCurrentThreadId(), closeDialogBox, 0);
    }
}

// Runs `show` with the watch in place and gives back what the box showed.
template <typename Show>
ShownBox watchBox(Show show)
{
    shown = ShownBox();
    standingBox = nullptr;
    ticks = 0;
    HHOOK activation = SetWindowsHookExW(WH_CBT, watchActivation, nullptr, GetCurrentThreadId());
    HHOOK dialogStart = SetWindowsHookExW(WH_CALLWNDPROC, watchDialogStart, nullptr, GetCurrentThreadId());
    UINT_PTR timer = SetTimer(nullptr, 0, kTickMs, readAndDismiss);
    show();
    KillTimer(nullptr, timer);
    UnhookWindowsHookEx(dialogStart);
    UnhookWindowsHookEx(activation);
    return shown;
}

std::wstring systemText(DWORD code)
{
    wchar_t* text = nullptr;
    if (FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM,
                       nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<wchar_t*>(&text), 0,
                       nullptr) == 0)
        return L"";
    std::wstring copy = text;
    LocalFree(text);
    return copy;
}

// Wine puts every new box in the foreground and ignores MB_TOPMOST: the box
// is checked to stand in front of a window that had the foreground, and to
// have been asked to stay on top.
TEST(ShowInformationMessage, ShowsTextUnderFixedCaptionInFront_WineShowsNoTopmost)
{
    HWND earlier = CreateWindowExW(0, L"STATIC", L"earlier", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 100, 100,
                                   nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(nullptr, earlier) << "needs the null graphics driver in the prefix";
    for (const wchar_t* text : {L"Setup finished.", L"Two\r\nlines", L"Gr\u00FC\u00DFe \u65E5\u672C\u8A9E", L""}) {
        SCOPED_TRACE(::testing::PrintToString(std::wstring(text)));
        SetForegroundWindow(earlier);
        EXPECT_EQ(earlier, GetForegroundWindow());
        int answer = 0;
        ShownBox box = watchBox([&] { answer = showInformationMessage(text); });
        EXPECT_EQ(IDOK, answer);
        EXPECT_EQ(1, box.boxes);
        EXPECT_EQ(L"INFORMATION", box.caption);
        EXPECT_EQ(text, box.text);
        EXPECT_FALSE(box.owned);
        EXPECT_TRUE(box.foreground);
        EXPECT_EQ(static_cast<UINT>(MB_OK | MB_ICONINFORMATION | MB_SETFOREGROUND | MB_TOPMOST), box.askedType);
    }
    DestroyWindow(earlier);
}

TEST(ShowSystemErrorMessage, ShowsTheSystemTextOrNamesACodeWithoutOne)
{
    struct ErrorCase {
        DWORD code;
        std::vector<std::wstring> named; // empty: the system's own text
    };
    const std::vector<ErrorCase> cases = {
        {ERROR_ACCESS_DENIED, {}},
        {ERROR_FILE_NOT_FOUND, {}},
        // A text with an insert, "%1", shown as it stands.
        {ERROR_BAD_EXE_FORMAT, {}},
        // No system text: a customer-defined code, one with every bit set and
        // one of fewer than eight hexadecimal digits.
        {0x20001234, {L"536875572", L"0x20001234"}},
        {0xFFFFFFFF, {L"4294967295", L"0xFFFFFFFF"}},
        {0xABCD, {L"Error 43981 (0x0000ABCD)"}},
    };
    for (const ErrorCase& row : cases) {
        SCOPED_TRACE(row.code);
        const std::wstring expected = systemText(row.code);
        ASSERT_EQ(row.named.empty(), !expected.empty()) << "the system's texts differ from those assumed here";
        ShownBox box = watchBox([&] { showSystemErrorMessage(row.code); });
        EXPECT_EQ(1, box.boxes);
        EXPECT_EQ(L"INFORMATION", box.caption);
        if (row.named.empty()) {
            EXPECT_EQ(expected, box.text);
        }
        for (const std::wstring& number : row.named)
            EXPECT_NE(std::wstring::npos, box.text.find(number)) << ::testing::PrintToString(box.text);
    }
}

} // namespace
