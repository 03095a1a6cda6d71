#include <gtest/gtest.h>

#include <windows.h>

#include <cwchar>
#include <functional>
#include <string>
#include <vector>

#include <setup_support/dialog_texts.h>

#include "test_support.h"

namespace {

// The numbers of dialog_texts_test.rc.
const int kPlainText = 100;
const int kRenderedGerman = 101;
const int kRenderedJapanese = 102;
const int kBeyondWesternCodePage = 103;
const int kPlainWesternText = 104;
const int kLongPlainText = 105;
const int kLongRenderedText = 106;
const int kMissingText = 107;
const int kDialog = 200;
const int kEditItem = 201;
const int kLabelItem = 202;

const size_t kReadLength = 4159;
const wchar_t kUnfilled = 0xCCCC;

HINSTANCE testModule()
{
    return GetModuleHandleW(nullptr);
}

std::wstring repeated(const std::wstring& unit, size_t times)
{
    std::wstring text;
    for (size_t i = 0; i < times; ++i)
        text += unit;
    return text;
}

// The first 4159 stored characters: 2079 pairs that decode to "ü", then a
// lone lead byte that decodes to the replacement character.
std::wstring cutRenderedText()
{
    return repeated(L"\u00FC", kReadLength / 2) + L"\uFFFD";
}

struct StoredText {
    int stringId;
    int idOffset;
    std::wstring expected;
    // Only a text that decodes cleanly is sure to end with its terminator
    // inside the decoded count.
    bool countIsLengthPlusTwo;
    // Set: the text as loaded by a probe that runs under this Unix locale,
    // whose ANSI code page is not 1252.
    const wchar_t* locale = nullptr;
};

// The probe's report of one text: its ANSI code page and the text.
std::wstring loadUnderLocale(const wchar_t* locale, int stringId)
{
    unit::ScopedVariable unixLocale(L"LC_ALL", locale);
    const std::string bytes = unit::runThroughWineLoader(
        unit::toolPath(L"resource_text_probe"), L"\"" + unit::programPath() + L"\" " + std::to_wstring(stringId));
    return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
}

TEST(LoadResourceText, MeasuredCountFillsATerminatedDecodedText)
{
    const std::wstring longPlain = repeated(L"0123456789", 500).substr(0, kReadLength);
    const std::vector<StoredText> texts = {
        {kPlainText, 0, L"Product & CAD Configuration", true},
        {kRenderedGerman, 0, L"Gr\u00FC\u00DFe", true},
        {kRenderedJapanese, 0, L"\u65E5\u672C\u8A9E", true},
        {kPlainText, kRenderedJapanese - kPlainText, L"\u65E5\u672C\u8A9E", true},
        {kRenderedJapanese, kRenderedGerman - kRenderedJapanese, L"Gr\u00FC\u00DFe", true},
        // Best fit where there is one, the default character elsewhere.
        {kBeyondWesternCodePage, 0, L"OA?", true},
        {kPlainWesternText, 0, L"Caf\uFFFD", false},
        {kLongPlainText, 0, longPlain, true},
        {kLongRenderedText, 0, cutRenderedText(), false},
        {kMissingText, 0, L"", true},
        // Decoded from 1252, not from the system's ANSI code page.
        {kRenderedGerman, 0, L"Gr\u00FC\u00DFe", true, L"ja_JP.UTF-8"},
        {kRenderedJapanese, 0, L"\u65E5\u672C\u8A9E", true, L"ja_JP.UTF-8"},
    };
    for (const StoredText& row : texts) {
        SCOPED_TRACE(::testing::Message() << row.stringId << "+" << row.idOffset);
        if (row.locale != nullptr) {
            EXPECT_EQ(L"932\n" + row.expected + L"\n", loadUnderLocale(row.locale, row.stringId));
            continue;
        }
        const int measured = loadResourceText(row.stringId, testModule(), row.idOffset, nullptr, 0);
        if (row.countIsLengthPlusTwo) {
            EXPECT_EQ(static_cast<int>(row.expected.size()) + 2, measured);
        }
        ASSERT_GT(measured, static_cast<int>(row.expected.size()));

        std::vector<wchar_t> buffer(measured, kUnfilled);
        EXPECT_EQ(measured, loadResourceText(row.stringId, testModule(), row.idOffset, buffer.data(), measured));
        const size_t length = wcsnlen(buffer.data(), buffer.size());
        ASSERT_LT(length, buffer.size()) << "not terminated";
        EXPECT_EQ(row.expected, std::wstring(buffer.data(), length));

        // The count holds one unit to spare; one less than the text needs
        // must fail. (A buffer of no units is the measuring call.)
        if (row.expected.empty())
            continue;
        std::vector<wchar_t> tooSmall(measured - 2, kUnfilled);
        EXPECT_EQ(1, loadResourceText(row.stringId, testModule(), row.idOffset, tooSmall.data(), measured - 2));
        EXPECT_EQ(L'\0', tooSmall[0]);
    }
}

INT_PTR CALLBACK noHandling(HWND, UINT, WPARAM, LPARAM)
{
    return FALSE;
}

struct TextSetting {
    const char* what;
    std::function<void(HWND dialog)> set;
    int itemId; // 0: the dialog window itself
    std::wstring expected;
};

TEST(DialogTexts, TextsReachTheDialogItemOrWindowWithOffsetApplied)
{
    HWND dialog = CreateDialogParamW(testModule(), MAKEINTRESOURCEW(kDialog), nullptr, noHandling, 0);
    ASSERT_NE(nullptr, dialog) << "needs the null graphics driver in the prefix";
    const std::wstring unchanged = L"before";
    const std::vector<TextSetting> settings = {
        {"direct", [](HWND d) { setDialogItemText(L"Direct \u00FC text", d, kEditItem); }, kEditItem,
         L"Direct \u00FC text"},
        {"item, offset", [](HWND d) { setDialogItemResourceText(kPlainText, testModule(), d, kEditItem, 1); },
         kEditItem, L"Gr\u00FC\u00DFe"},
        {"item, cut", [](HWND d) { setDialogItemResourceText(kLongRenderedText, testModule(), d, kLabelItem, 0); },
         kLabelItem, cutRenderedText()},
        {"item, missing string", [](HWND d) { setDialogItemResourceText(kMissingText, testModule(), d, kLabelItem, 0); },
         kLabelItem, L""},
        {"missing item", [](HWND d) { setDialogItemResourceText(kPlainText, testModule(), d, 999, 0); }, 0, unchanged},
        {"window, offset",
         [](HWND d) { setWindowResourceText(kRenderedJapanese, testModule(), d, kRenderedGerman - kRenderedJapanese); },
         0, L"Gr\u00FC\u00DFe"},
    };
    for (const TextSetting& row : settings) {
        SCOPED_TRACE(row.what);
        for (HWND window : {dialog, GetDlgItem(dialog, kEditItem), GetDlgItem(dialog, kLabelItem)})
            SetWindowTextW(window, unchanged.c_str());
        row.set(dialog);
        HWND target = row.itemId == 0 ? dialog : GetDlgItem(dialog, row.itemId);
        EXPECT_EQ(row.expected, unit::windowText(target));
        for (int other : {0, kEditItem, kLabelItem}) {
            if (other != row.itemId) {
                EXPECT_EQ(unchanged, unit::windowText(other == 0 ? dialog : GetDlgItem(dialog, other))) << other;
            }
        }
    }
    DestroyWindow(dialog);
}

} // namespace
