#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include <setup_support/release_identity.h>

#include "test_support.h"

namespace {

const wchar_t kCanary = L'#';

// What a fill call left: its result and the buffer's text, or "<untouched>"
// when it wrote nothing.
struct Filled {
    int result;
    std::wstring text;
};

template <typename Call>
Filled fill(int capacity, Call call)
{
    std::vector<wchar_t> buffer(capacity + 1, kCanary);
    Filled filled{call(capacity == 0 ? nullptr : buffer.data(), capacity), L"<untouched>"};
    if (buffer[0] != kCanary)
        filled.text = buffer.data();
    return filled;
}

TEST(ReleaseNames, CopyOnlyWhenCapacityHoldsTheTerminator)
{
    using Getter = int (*)(wchar_t*, int);
    const struct {
        Getter getter;
        int capacity;
        int result;
        const wchar_t* text;
    } rows[] = {
        {getReleaseCode, 0, 4, L"<untouched>"},      {getReleaseCode, 3, 4, L"<untouched>"},
        {getReleaseCode, 4, 0, L"182"},              {getReleaseFolderName, 0, 5, L"<untouched>"},
        {getReleaseFolderName, 4, 5, L"<untouched>"}, {getReleaseFolderName, 5, 0, L"v182"},
    };
    for (const auto& row : rows) {
        const Filled filled = fill(row.capacity, row.getter);
        EXPECT_EQ(row.result, filled.result) << row.text << " capacity " << row.capacity;
        EXPECT_EQ(row.text, filled.text) << "capacity " << row.capacity;
    }
}

TEST(GetRootFromEnvironment, SizeQueryThenFillUnsetLeavesBuffer)
{
    const std::wstring root = L"D:\\Suites\\NIMBA_18.1";
    const struct {
        const wchar_t* value;
        int capacity;
        int result;
        const wchar_t* text;
    } rows[] = {
        {root.c_str(), 0, 21, L"<untouched>"}, {root.c_str(), 20, 21, L"<untouched>"},
        {root.c_str(), 21, 0, root.c_str()},   {L"", 1, 0, L""},
        {nullptr, 0, 0, L"<untouched>"},       {nullptr, 30, 0, L"<untouched>"},
    };
    for (const auto& row : rows) {
        unit::ScopedVariable variable(L"ZEP_ROOT182", row.value);
        const Filled filled = fill(row.capacity, getRootFromEnvironment);
        EXPECT_EQ(row.result, filled.result) << "capacity " << row.capacity;
        EXPECT_EQ(row.text, filled.text) << "capacity " << row.capacity;
    }
}

TEST(ReadDiscMarker, FirstWordOfAtMostNineUnits)
{
    unit::TempFolder temp;
    const struct {
        const char* content; // null: no marker file
        const wchar_t* word;
    } rows[] = {
        {nullptr, L""},
        {"", L""},
        {" \t\r\n", L""},
        {"DISC1 NIMBA 18.1\r\nmore", L"DISC1"},
        {"\r\n  182\tx", L"182"},
        {"123456789", L"123456789"},
        {"123456789 tail", L"123456789"},
        {"1234567890", L""},
    };
    for (const auto& row : rows) {
        DeleteFileW((temp / L"182-1.dvd").c_str());
        if (row.content != nullptr) {
            ASSERT_TRUE(unit::writeBytes(temp / L"182-1.dvd", row.content));
        }
        auto read = [&](wchar_t* buffer, int capacity) { return readDiscMarker(temp.path().c_str(), buffer, capacity); };
        const int needed = static_cast<int>(wcslen(row.word)) + 1;
        EXPECT_EQ(needed, fill(0, read).result) << row.word;
        EXPECT_EQ(L"<untouched>", fill(needed - 1, read).text) << row.word;
        EXPECT_EQ(row.word, fill(needed, read).text);
    }
}

} // namespace
