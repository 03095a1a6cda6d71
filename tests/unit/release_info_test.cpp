#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>

#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include <setup_support/release_info.h>
#include <setup_support/wide_strings.h>

#include "child_processes.h"
#include "owners.h"
#include "test_support.h"

namespace {

const wchar_t kCanary = L'\x7e7e';

// A copy of this program placed in a sample installation tree is started with
// this switch: it writes what the lookups found there into the named file and
// ends before any test runs.
const wchar_t kReportSwitch[] = L"--report-tree-lookups=";

// The text of a string the library handed out, which is released here.
std::wstring takeString(wchar_t* value)
{
    std::wstring copy = value != nullptr ? value : L"<null>";
    freeString(&value);
    return copy;
}

int reportTreeLookupsWhenAsked()
{
    int count = 0;
    UniqueLocal<wchar_t*> arguments(CommandLineToArgvW(GetCommandLineW(), &count));
    const size_t switchLength = wcslen(kReportSwitch);
    for (int i = 1; arguments && i < count; ++i) {
        const wchar_t* argument = arguments.get()[i];
        if (wcsncmp(argument, kReportSwitch, switchLength) != 0)
            continue;
        std::vector<wchar_t> root(getInstallRoot(nullptr, 0));
        getInstallRoot(root.data(), static_cast<int>(root.size()));
        std::wstring report = std::wstring(root.data()) + L"\n" + takeString(allocReleaseValue(getStartMenuFolderName)) +
                              L"\n" + takeString(allocReleaseValue(getShortcutRevision)) + L"\n" +
                              takeString(allocReleaseValue(getLocalShortcutRevision));
        std::string bytes(reinterpret_cast<const char*>(report.data()), report.size() * sizeof(wchar_t));
        ExitProcess(unit::writeBytes(argument + switchLength, bytes) ? 0 : 1);
    }
    return 0;
}

// Runs before the test runner starts.
[[maybe_unused]] const int treeLookupsReported = reportTreeLookupsWhenAsked();

TEST(StripLastPathComponent, CutsBackToFolderKeepingItsBackslash)
{
    const struct {
        const wchar_t* path;
        int result;
        const wchar_t* folder;
    } cases[] = {
        {L"C:\\a\\b.exe", 1, L"C:\\a\\"},
        {L"C:\\a\\b\\", 1, L"C:\\a\\"},
        {L"C:\\", 1, L"C:\\"},
        {L"setup.exe", 0, L"setup.exe"},
    };
    for (const auto& each : cases) {
        wchar_t path[32];
        wcscpy(path, each.path);
        EXPECT_EQ(each.result, stripLastPathComponent(path)) << each.path;
        EXPECT_STREQ(each.folder, path) << each.path;
    }
}

TEST(StripToInstallRoot, CutsFileNameAndFourLevels)
{
    wchar_t root[128];
    stripToInstallRoot(L"C:\\a\\b\\c\\d\\e\\setup.exe", root);
    EXPECT_STREQ(L"C:\\a", root);
    stripToInstallRoot(L"D:\\Program Files\\NIMBA\\18.1\\bin\\winx64\\tools\\setup.exe", root);
    EXPECT_STREQ(L"D:\\Program Files\\NIMBA", root);
}

TEST(StripToInstallRoot, StopsAtDriveRoot)
{
    wchar_t root[64];
    stripToInstallRoot(L"C:\\a\\b\\setup.exe", root);
    EXPECT_STREQ(L"C:\\", root);
    stripToInstallRoot(L"C:\\setup.exe", root);
    EXPECT_STREQ(L"C:\\", root);
}

class ReadFileBytes : public ::testing::Test {
protected:
    unit::TempFolder temp;
};

TEST_F(ReadFileBytes, MissingFileIsNeitherReadNorCreated)
{
    const std::wstring path = temp / L"relinfo.xml";
    char untouched = 0;
    char* bytes = &untouched;
    EXPECT_EQ(0, readFileBytes(path.c_str(), &bytes));
    EXPECT_EQ(&untouched, bytes);
    EXPECT_FALSE(unit::pathExists(path));
}

TEST_F(ReadFileBytes, FolderInPlaceOfFileIsNotRead)
{
    const std::wstring path = temp / L"relinfo.xml";
    ASSERT_TRUE(CreateDirectoryW(path.c_str(), nullptr));
    char* bytes = nullptr;
    EXPECT_EQ(0, readFileBytes(path.c_str(), &bytes));
    delete[] bytes;
}

// A size past 32 bits must be taken whole: its low half alone would read a
// few bytes of a file of over four gigabytes (and, in a 32-bit program, size
// the buffer below what is read into it).
TEST_F(ReadFileBytes, SizeBeyondThirtyTwoBitsIsTakenWhole)
{
    const std::wstring path = temp / L"large.xml";
    const LONGLONG tailOffset = 0x100000000LL;
    const char tail[] = "<startMenuFolderName value=\"Far\"/>";
    {
        UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                          nullptr));
        ASSERT_TRUE(static_cast<bool>(file));
        DWORD ignored = 0;
        // Holes read as zero bytes and cost no disk.
        DeviceIoControl(file.get(), FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &ignored, nullptr);
        LARGE_INTEGER offset;
        offset.QuadPart = tailOffset;
        ASSERT_TRUE(SetFilePointerEx(file.get(), offset, nullptr, FILE_BEGIN));
        DWORD written = 0;
        ASSERT_TRUE(WriteFile(file.get(), tail, sizeof(tail) - 1, &written, nullptr));
    }
    char* bytes = nullptr;
    int result = readFileBytes(path.c_str(), &bytes);
    DeleteFileW(path.c_str());
    if (bytes == nullptr)
        GTEST_SKIP() << "no room for a buffer of over four gigabytes here";
    std::unique_ptr<char[]> owned(bytes);
    EXPECT_EQ(1, result);
    EXPECT_EQ('\0', bytes[0]);
    EXPECT_EQ(0, memcmp(bytes + tailOffset, tail, sizeof(tail) - 1));
    EXPECT_EQ('\0', bytes[tailOffset + sizeof(tail) - 1]);
}

TEST_F(ReadFileBytes, EmptyFileGivesLoneTerminator)
{
    const std::wstring path = temp / L"empty.xml";
    ASSERT_TRUE(unit::writeBytes(path, ""));
    char* bytes = nullptr;
    EXPECT_EQ(1, readFileBytes(path.c_str(), &bytes));
    ASSERT_NE(nullptr, bytes);
    EXPECT_EQ('\0', bytes[0]);
    delete[] bytes;
}

TEST_F(ReadFileBytes, BinaryContentArrivesWholeAndTerminated)
{
    const char raw[] = "<r a=\"\xc3\xa9\"/>\r\n\0\xff\x01tail";
    const std::string content(raw, sizeof(raw) - 1);
    const std::wstring path = temp / L"binary.xml";
    ASSERT_TRUE(unit::writeBytes(path, content));
    char* bytes = nullptr;
    EXPECT_EQ(1, readFileBytes(path.c_str(), &bytes));
    ASSERT_NE(nullptr, bytes);
    EXPECT_EQ(content, std::string(bytes, content.size()));
    EXPECT_EQ('\0', bytes[content.size()]);
    delete[] bytes;
}

// The scan rule, through the relinfo.xml beside the running program.
class LocalShortcutRevision : public ::testing::Test {
protected:
    void SetUp() override
    {
        path = unit::programPath();
        path = path.substr(0, path.rfind(L'\\') + 1) + L"relinfo.xml";
        DeleteFileW(path.c_str());
    }
    void TearDown() override { DeleteFileW(path.c_str()); }

    void writeRelinfo(const std::string& attributes)
    {
        ASSERT_TRUE(unit::writeBytes(path, "<?xml version=\"1.0\"?>\r\n<relinfo " + attributes + " />\r\n"));
    }

    // Both calls of the protocol; the fill call's count must equal the size query's.
    std::wstring lookup(int* count)
    {
        *count = getLocalShortcutRevision(nullptr, 0);
        if (*count < 1)
            return L"<bad count>";
        std::vector<wchar_t> buffer(*count + 8, kCanary);
        wchar_t* value = buffer.data();
        EXPECT_EQ(*count, getLocalShortcutRevision(&value, *count));
        for (size_t i = *count; i < buffer.size(); ++i)
            EXPECT_EQ(kCanary, buffer[i]) << "written beyond the capacity at " << i;
        if (wcsnlen(buffer.data(), *count) == static_cast<size_t>(*count))
            return L"<unterminated>";
        return buffer.data();
    }

    std::wstring path;
};

TEST_F(LocalShortcutRevision, MissingFileOrKeyGivesEmptyValue)
{
    int count = 0;
    EXPECT_EQ(L"", lookup(&count));
    EXPECT_EQ(1, count);

    writeRelinfo("startMenuFolderName=\"NIMBA 18.1\"");
    EXPECT_EQ(L"", lookup(&count));
    EXPECT_EQ(1, count);
}

TEST_F(LocalShortcutRevision, ValueBetweenQuotesIsHandedOut)
{
    int count = 0;
    writeRelinfo("startMenuFolderName=\"NIMBA\" startMenuShortcutAppendRevision=\"R2\"");
    EXPECT_EQ(L"R2", lookup(&count));
    EXPECT_EQ(3, count);

    writeRelinfo("startMenuShortcutAppendRevision=\"\"");
    EXPECT_EQ(L"", lookup(&count));
    EXPECT_EQ(1, count);
}

TEST_F(LocalShortcutRevision, CountIsInBytesOfUtf8)
{
    int count = 0;
    writeRelinfo("startMenuShortcutAppendRevision=\"\xc3\xa9\xc3\xa0\xc3\xbc\"");
    EXPECT_EQ(L"\u00e9\u00e0\u00fc", lookup(&count));
    EXPECT_EQ(7, count);
}

TEST_F(LocalShortcutRevision, FirstOccurrenceOfKeyTextAndFirstTwoQuotesDecide)
{
    int count = 0;
    writeRelinfo("startMenuShortcutAppendRevisionX=\"a\" startMenuShortcutAppendRevision=\"b\"");
    EXPECT_EQ(L"a", lookup(&count));

    writeRelinfo("startMenuShortcutAppendRevision=R2 owner=\"x\"");
    EXPECT_EQ(L"x", lookup(&count));

    writeRelinfo("startMenuShortcutAppendRevision=R2");
    EXPECT_EQ(L"", lookup(&count));
    EXPECT_EQ(1, count);

    writeRelinfo("startMenuShortcutAppendRevision=\"R2");
    EXPECT_EQ(L"", lookup(&count));
    EXPECT_EQ(1, count);
}

TEST_F(LocalShortcutRevision, InvalidUtf8StaysWithinItsCount)
{
    int count = 0;
    writeRelinfo("startMenuShortcutAppendRevision=\"\xff\xfe\xc3\"");
    std::wstring value = lookup(&count);
    EXPECT_EQ(4, count);
    EXPECT_LT(value.size(), 4u);
}

// No value may be longer than a path can be: a megabyte of it is no value.
TEST_F(LocalShortcutRevision, ValueLongerThanAnyPathIsNoValue)
{
    const std::string longest(32767, 'x');
    writeRelinfo("startMenuShortcutAppendRevision=\"" + longest + "\"");
    int count = 0;
    EXPECT_EQ(std::wstring(32767, L'x'), lookup(&count));
    EXPECT_EQ(32768, count);

    writeRelinfo("startMenuShortcutAppendRevision=\"" + longest + "y\"");
    EXPECT_EQ(L"", lookup(&count));
    EXPECT_EQ(1, count);

    writeRelinfo("startMenuShortcutAppendRevision=\"" + std::string(1 << 20, 'x') + "\"");
    EXPECT_EQ(L"", lookup(&count));
    EXPECT_EQ(1, count);
}

// The file can grow between the size query and the fill call.
TEST_F(LocalShortcutRevision, FillBeyondCapacityWritesOnlyEmptyString)
{
    writeRelinfo("startMenuShortcutAppendRevision=\"R2\"");
    const int count = getLocalShortcutRevision(nullptr, 0);
    ASSERT_EQ(3, count);
    writeRelinfo("startMenuShortcutAppendRevision=\"R2-hotfix-7\"");

    // The count allocated for the old value, and one unit short of the new one.
    std::vector<wchar_t> buffer(32, kCanary);
    wchar_t* value = buffer.data();
    for (int capacity : {count, 11}) {
        buffer.assign(32, kCanary);
        EXPECT_EQ(12, getLocalShortcutRevision(&value, capacity));
        EXPECT_EQ(L'\0', buffer[0]);
        for (size_t i = 1; i < buffer.size(); ++i)
            EXPECT_EQ(kCanary, buffer[i]) << "capacity " << capacity << ", written at " << i;
    }

    for (int capacity : {0, -1}) {
        buffer.assign(32, kCanary);
        EXPECT_EQ(12, getLocalShortcutRevision(&value, capacity));
        for (size_t i = 0; i < buffer.size(); ++i)
            EXPECT_EQ(kCanary, buffer[i]) << "capacity " << capacity << ", written at " << i;
    }
}

TEST_F(LocalShortcutRevision, AllocReleaseValueHandsOutValue)
{
    EXPECT_EQ(L"", takeString(allocReleaseValue(getLocalShortcutRevision)));
    writeRelinfo("startMenuShortcutAppendRevision=\"SP3 \xc3\xa9\"");
    EXPECT_EQ(L"SP3 \u00e9", takeString(allocReleaseValue(getLocalShortcutRevision)));
}

TEST(GetInstallRoot, TwoCallsGiveRootOfRunningProgram)
{
    const std::wstring program = unit::programPath();
    const int count = getInstallRoot(nullptr, 0);
    EXPECT_EQ(static_cast<int>(program.size()) + 1, count);

    std::vector<wchar_t> expected(program.size() + 1);
    stripToInstallRoot(program.c_str(), expected.data());
    std::vector<wchar_t> root(count, kCanary);
    EXPECT_EQ(0, getInstallRoot(root.data(), count));
    EXPECT_STREQ(expected.data(), root.data());
}

TEST(GetInstallRoot, TooSmallCapacityWritesNothing)
{
    const int count = getInstallRoot(nullptr, 0);
    std::vector<wchar_t> root(count, kCanary);
    EXPECT_EQ(count, getInstallRoot(root.data(), count - 1));
    for (size_t i = 0; i < root.size(); ++i)
        EXPECT_EQ(kCanary, root[i]) << "written at " << i;
}

// The installer runs four levels below the installation root and reads the
// tree's relinfo.xml there; a copy of this program stands in for it.
TEST(ReleaseInfoInTree, CopyInsideTreeReadsTreeAndLocalFiles)
{
    unit::TempFolder temp;
    const std::wstring root = temp / L"suite";
    std::wstring folder = root;
    ASSERT_TRUE(CreateDirectoryW(root.c_str(), nullptr));
    for (const wchar_t* level : {L"NIMBA", L"bin", L"winx64", L"tools"}) {
        folder += std::wstring(L"\\") + level;
        ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    }
    const std::wstring program = folder + L"\\release_info_probe.exe";
    ASSERT_TRUE(CopyFileW(unit::programPath().c_str(), program.c_str(), TRUE));
    ASSERT_TRUE(unit::writeBytes(folder + L"\\relinfo.xml", "<relinfo startMenuShortcutAppendRevision=\"LOCAL\"/>"));
    CreateDirectoryW((root + L"\\commonfiles").c_str(), nullptr);
    CreateDirectoryW((root + L"\\commonfiles\\globalsettings").c_str(), nullptr);
    ASSERT_TRUE(unit::writeBytes(root + L"\\commonfiles\\globalsettings\\relinfo.xml",
                                 "<relinfo startMenuFolderName=\"NIMBA 18.1\" "
                                 "startMenuShortcutAppendRevision=\"R3\"/>"));

    const std::wstring report = temp / L"report.txt";
    std::wstring commandLine = L"\"" + program + L"\" \"" + kReportSwitch + report + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    ASSERT_TRUE(unit::startProgram(program.c_str(), &commandLine[0], FALSE, &startup, &process));
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD exitCode = 1;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    ASSERT_EQ(0u, exitCode);

    const std::string bytes = unit::readBytes(report);
    const std::wstring lookups(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
    EXPECT_EQ(root + L"\nNIMBA 18.1\nR3\nLOCAL", lookups);
}

} // namespace
