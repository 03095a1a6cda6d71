#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <algorithm>
#include <array>
#include <random>
#include <string>
#include <vector>

#include <setup_support/dialog_texts.h>
#include <setup_support/environment.h>
#include <setup_support/file_paths.h>
#include <setup_support/language.h>
#include <setup_support/launching.h>
#include <setup_support/messages.h>
#include <setup_support/platform.h>
#include <setup_support/privilege.h>
#include <setup_support/processes.h>
#include <setup_support/redirection_guard.h>
#include <setup_support/release_identity.h>
#include <setup_support/release_info.h>
#include <setup_support/secured_directories.h>
#include <setup_support/shell_links.h>
#include <setup_support/start_menu.h>
#include <setup_support/wide_strings.h>

#include "release_info_internal.h"
#include "test_support.h"

namespace {

const wchar_t kCanary = L'\x7e7e';
const size_t kCanaryUnits = 8;
const char kFolderNameKey[] = "startMenuFolderName";
const char kRevisionKey[] = "startMenuShortcutAppendRevision";
const size_t kLongestValue = 32767;

// ---------------------------------------------------------------- generated release information

struct Reading {
    int count;
    std::string value;
};

// The scan rule, read plainly: the text ends at its first zero byte; the value
// lies between the first two double quotes after the key's first occurrence,
// unless it is longer than any path.
Reading referenceReading(const std::string& bytes, const std::string& key)
{
    const std::string text = bytes.substr(0, bytes.find('\0'));
    const size_t found = text.find(key);
    const size_t opening = found == std::string::npos ? found : text.find('"', found);
    const size_t closing = opening == std::string::npos ? opening : text.find('"', opening + 1);
    if (closing == std::string::npos || closing - opening - 1 > kLongestValue)
        return {1, ""};
    std::string value = text.substr(opening + 1, closing - opening - 1);
    return {static_cast<int>(value.size()) + 1, value};
}

// How the value's bytes read as UTF-8: decoding, invalid bytes included, is
// the platform's business, not the scan's.
std::wstring decoded(const std::string& value)
{
    if (value.empty())
        return L"";
    std::wstring text(value.size(), L'\0');
    text.resize(MultiByteToWideChar(CP_UTF8, 0, value.data(), static_cast<int>(value.size()), &text[0],
                                    static_cast<int>(text.size())));
    return text;
}

const char* const kOddSequences[] = {
    "\xff", "\xfe\xff", "\xc3", "\xc0\xaf", "\xe0\x80\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80",
    "\xf0\x9f\x98", "\xc3\xa9", "\xe2\x82\xac", "\xf0\x9f\x98\x80", "&quot;", "\r\n", "<!--", "=",
};

// Real-looking release information, then a few byte-level mutations of it:
// quotes moved, keys cut, zero bytes, invalid and overlong UTF-8, values at
// and past the length limit.
std::string mutatedReleaseInfo(std::mt19937& random)
{
    auto pick = [&random](size_t count) { return static_cast<size_t>(random() % count); };
    std::string value = "NIMBA 18.1 \xc3\x84";
    if (pick(400) == 0)
        value.assign(kLongestValue - 1 + pick(3), 'v');
    std::string bytes = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<releaseInfo>\r\n  <startMenu " +
                        std::string(kFolderNameKey) + "=\"" + value + "\"\r\n    " + kRevisionKey +
                        "=\"2026 R1\"/>\r\n</releaseInfo>\r\n";
    for (size_t mutations = 1 + pick(4); mutations > 0 && !bytes.empty(); --mutations) {
        const size_t at = pick(bytes.size());
        switch (pick(7)) {
        case 0: { // move a quote
            const size_t quote = bytes.find('"', at);
            if (quote != std::string::npos) {
                bytes.erase(quote, 1);
                bytes.insert(pick(bytes.size() + 1), 1, '"');
            }
            break;
        }
        case 1: { // cut into a key
            const size_t key = bytes.find("startMenu", at);
            if (key != std::string::npos)
                bytes.erase(std::min(key + pick(20), bytes.size()), 1 + pick(4));
            break;
        }
        case 2:
            bytes.insert(at, 1, '\0');
            break;
        case 3:
            bytes.insert(at, kOddSequences[pick(sizeof(kOddSequences) / sizeof(kOddSequences[0]))]);
            break;
        case 4:
            bytes[at] = static_cast<char>(random());
            break;
        case 5:
            bytes.erase(at, 1 + pick(8));
            break;
        default:
            bytes.resize(at);
            break;
        }
    }
    return bytes;
}

// Random bytes, weighted towards quotes and the keys' own text.
std::string randomBytes(std::mt19937& random)
{
    const char* const pieces[] = {"\"", kFolderNameKey, kRevisionKey, "startMenu", "=\"", "\"\""};
    std::string bytes;
    for (size_t parts = random() % 24; parts > 0; --parts) {
        if (random() % 3 == 0)
            bytes += pieces[random() % (sizeof(pieces) / sizeof(pieces[0]))];
        else
            bytes += static_cast<char>(random());
    }
    return bytes;
}

// The fill call of a lookup, with `capacity` units and canaries past them:
// the value when it fits, else only the empty string.
void checkFill(const char* bytes, size_t size, const char* key, const Reading& expected, int capacity)
{
    std::vector<wchar_t> buffer(static_cast<size_t>(capacity) + kCanaryUnits, kCanary);
    wchar_t* value = buffer.data();
    ASSERT_EQ(expected.count, findReleaseValue(bytes, size, key, &value, capacity)) << "capacity " << capacity;
    size_t written = 0;
    if (capacity >= expected.count) {
        const std::wstring text = decoded(expected.value);
        ASSERT_EQ(text, std::wstring(buffer.data(), wcsnlen(buffer.data(), buffer.size())));
        written = text.size() + 1;
    } else if (capacity > 0) {
        ASSERT_EQ(L'\0', buffer[0]) << "capacity " << capacity;
        written = 1;
    }
    for (size_t i = written; i < buffer.size(); ++i)
        ASSERT_EQ(kCanary, buffer[i]) << "capacity " << capacity << ", written at " << i;
}

// The same reading with the bytes arriving in pieces of one to seven bytes,
// as a file read piece by piece hands them in: a key or a value split between
// pieces must read as it does whole.
void checkInPieces(const std::string& bytes, size_t size, const char* key, const Reading& expected,
                   std::mt19937& random)
{
    ReleaseValueScan scan;
    beginReleaseValueScan(&scan, key);
    for (size_t at = 0; at < size;) {
        const size_t piece = std::min<size_t>(1 + random() % 7, size - at);
        if (continueReleaseValueScan(&scan, bytes.data() + at, piece))
            break;
        at += piece;
    }
    std::vector<wchar_t> buffer(static_cast<size_t>(expected.count) + kCanaryUnits, kCanary);
    wchar_t* value = buffer.data();
    ASSERT_EQ(expected.count, finishReleaseValueScan(&scan, &value, expected.count)) << "in pieces";
    ASSERT_EQ(decoded(expected.value), buffer.data()) << "in pieces";
    ASSERT_EQ(kCanary, buffer[expected.count]) << "in pieces";
}

TEST(GeneratedReleaseInformation, LookupsFollowTheScanRuleWithinTheirCapacity)
{
    const unsigned seed = 20260518;
    const int kContents = 100000;
    // Every hundredth content also goes through a lookup of a real file.
    const int kThroughFileEvery = 100;
    std::wstring besideProgram = unit::programPath();
    besideProgram = besideProgram.substr(0, besideProgram.rfind(L'\\') + 1) + L"relinfo.xml";

    std::mt19937 random(seed);
    for (int round = 0; round < kContents; ++round) {
        const std::string bytes = random() % 4 == 0 ? randomBytes(random) : mutatedReleaseInfo(random);
        // Sometimes only the start of the bytes is handed in: the scan must end there.
        const size_t size = random() % 8 == 0 ? random() % (bytes.size() + 1) : bytes.size();
        SCOPED_TRACE("seed " + std::to_string(seed) + ", content " + std::to_string(round) + ": " +
                     bytes.substr(0, std::min<size_t>(size, 300)));
        for (const char* key : {kFolderNameKey, kRevisionKey}) {
            const Reading expected = referenceReading(bytes.substr(0, size), key);
            ASSERT_EQ(expected.count, findReleaseValue(bytes.data(), size, key, nullptr, 0)) << key;
            const int randomCapacity = static_cast<int>(random() % (expected.count + 4));
            for (int capacity : {expected.count, expected.count - 1, randomCapacity})
                checkFill(bytes.data(), size, key, expected, capacity);
            checkInPieces(bytes, size, key, expected, random);
            if (HasFatalFailure())
                return;
        }
        if (round % kThroughFileEvery == 0) {
            ASSERT_TRUE(unit::writeBytes(besideProgram, bytes.substr(0, size)));
            const Reading expected = referenceReading(bytes.substr(0, size), kRevisionKey);
            const int count = getLocalShortcutRevision(nullptr, 0);
            ASSERT_EQ(expected.count, count);
            std::vector<wchar_t> buffer(static_cast<size_t>(count) + kCanaryUnits, kCanary);
            wchar_t* value = buffer.data();
            ASSERT_EQ(count, getLocalShortcutRevision(&value, count));
            ASSERT_EQ(decoded(expected.value), buffer.data());
            ASSERT_EQ(kCanary, buffer[count]);
        }
    }
    DeleteFileW(besideProgram.c_str());
}

// ---------------------------------------------------------------- repeated operations

// Where the operations work: a temporary folder, the relinfo.xml beside this
// program, and a product folder of the test's own in the Start Menu.
struct Workspace {
    std::wstring folder;
    std::wstring newFolder;
    std::wstring link;
    std::wstring emptyFolder;
    std::wstring relinfo;
    std::wstring product;
    std::wstring productSubfolder;
    std::wstring productFolder;
    std::wstring quickProgram;
    HWND window;
};
const Workspace* place = nullptr;

const wchar_t kLinkName[] = L"File Association";
const wchar_t kVariable[] = L"NIMBA_HOSTILE_INPUT_TEST";

using CreateShortcut = int (*)(const wchar_t*, const wchar_t*, const wchar_t*, const wchar_t*, const wchar_t*,
                               const wchar_t*, const wchar_t*, const wchar_t*, int);

void createTestShortcut(CreateShortcut create)
{
    create(place->folder.c_str(), L"\\fileassoc.exe", L"-quiet", L"", L"%HOMEDRIVE%%HOMEPATH%",
           place->productSubfolder.c_str(), kLinkName, L"NIMBA File Association", SW_SHOWNORMAL);
}

int createSuffixedShortcut(const wchar_t* targetDirectory, const wchar_t* targetFileName, const wchar_t* arguments,
                           const wchar_t* iconPath, const wchar_t* workingDirectory, const wchar_t* subfolder,
                           const wchar_t* name, const wchar_t* description, int showCmd)
{
    return createStartMenuShortcut(targetDirectory, targetFileName, arguments, iconPath, workingDirectory, subfolder,
                                   name, description, showCmd, L"R");
}

// Each operation runs this many rounds, unless its line says otherwise.
const int kRounds = 1000;
// Every shortcut saved makes Wine start its menu builder (25 to 55 ms here),
// and every launch starts a process: fewer rounds keep the run short and
// still show a loss in every round.
const int kSavingRounds = 50;
const int kLaunchRounds = 20;
// The launch most callers repeat, as a setup step per file, gets more.
const int kHiddenLaunchRounds = 100;

// A copy of the quick program's command line, writable as the launches need.
std::vector<wchar_t> quickCommandLine()
{
    const std::wstring line = L"\"" + place->quickProgram + L"\"";
    return std::vector<wchar_t>(line.c_str(), line.c_str() + line.size() + 1);
}

BOOL CALLBACK answerIfMessageBox(HWND window, LPARAM)
{
    wchar_t className[16] = L"";
    GetClassNameW(window, className, 16);
    if (wcscmp(className, L"#32770") == 0)
        PostMessageW(window, WM_COMMAND, IDOK, 0);
    return TRUE;
}

// Closes the message boxes of this thread once they stand; runs as a thread
// timer inside the box's own message loop.
void CALLBACK closeMessageBoxes(HWND, UINT, UINT_PTR, DWORD)
{
    EnumThreadWindows(GetCurrentThreadId(), answerIfMessageBox, 0);
}

void answeredBox(void (*show)())
{
    const UINT_PTR timer = SetTimer(nullptr, 0, 5, closeMessageBoxes);
    show();
    KillTimer(nullptr, timer);
}

struct RepeatedOperation {
    const char* name;
    void (*round)();
    // Undoes a lasting effect of the round before the next one; null when
    // the round has none.
    void (*cleanUp)();
    int rounds = kRounds;
};

// Every operation of the library, one line each.
const RepeatedOperation kOperations[] = {
    {"joinStrings, freeString", [] { wchar_t* s = joinStrings(3, L"a", nullptr, L"b"); freeString(&s); }, nullptr},
    {"upperCaseCopy", [] { wchar_t out[8]; upperCaseCopy(L"nimba", out); }, nullptr},
    {"fileExists", [] { fileExists(place->folder.c_str()); }, nullptr},
    {"createDirectoryIfMissing", [] { createDirectoryIfMissing(place->newFolder.c_str()); },
     [] { RemoveDirectoryW(place->newFolder.c_str()); }},
    {"readFileBytes", [] { char* b = nullptr; readFileBytes(place->relinfo.c_str(), &b); delete[] b; }, nullptr},
    {"stripLastPathComponent", [] { wchar_t p[] = L"C:\\a\\b.exe"; stripLastPathComponent(p); }, nullptr},
    {"stripToInstallRoot", [] { wchar_t r[32]; stripToInstallRoot(L"C:\\a\\b\\c\\d\\e\\f.exe", r); }, nullptr},
    {"getProgramPath", [] { wchar_t* p = getProgramPath(); freeString(&p); }, nullptr},
    {"getInstallRoot",
     [] { std::vector<wchar_t> r(getInstallRoot(nullptr, 0)); getInstallRoot(r.data(), int(r.size())); }, nullptr},
    {"getStartMenuFolderName", [] { wchar_t* v = allocReleaseValue(getStartMenuFolderName); freeString(&v); },
     nullptr},
    {"getShortcutRevision", [] { wchar_t* v = allocReleaseValue(getShortcutRevision); freeString(&v); }, nullptr},
    {"getLocalShortcutRevision", [] { wchar_t* v = allocReleaseValue(getLocalShortcutRevision); freeString(&v); },
     nullptr},
    {"findReleaseValue", [] { wchar_t b[4]; wchar_t* v = b; findReleaseValue("k=\"abc\"", 7, "k", &v, 4); }, nullptr},
    {"isUserAdmin", [] { isUserAdmin(); }, nullptr},
    {"getServicePackName", [] { wchar_t* s = nullptr; getServicePackName(&s); freeString(&s); }, nullptr},
    {"createDirectoryTree", [] { createDirectoryTree((place->newFolder + L"\\a\\b").c_str()); },
     [] { unit::removeTree(place->newFolder); }},
    {"createShellLink, deleteShellLink",
     [] { createShellLink(place->link.c_str(), L"C:\\t.exe", L"", L"", L"", L"", 0, SW_SHOWNORMAL); },
     [] { deleteShellLink(place->link.c_str()); }, kSavingRounds},
    {"removeShellFolder", [] { removeShellFolder(place->emptyFolder.c_str()); },
     [] { CreateDirectoryW(place->emptyFolder.c_str(), nullptr); }},
    {"getProgramsFolder", [] { wchar_t f[MAX_PATH + 1]; getProgramsFolder(f, getProgramsFolder(nullptr, 0)); },
     nullptr},
    {"name checks",
     [] { isSafeStartMenuSubfolder(L"\\a\\CON"); namesFolderBelowPrograms(L"\\a"); isSafeShortcutNamePart(L"b."); },
     nullptr},
    {"createStartMenuShortcut, removeStartMenuShortcut", [] { createTestShortcut(createSuffixedShortcut); },
     [] { removeStartMenuShortcut(place->productSubfolder.c_str(), kLinkName, L"R"); }, kSavingRounds},
    {"createReleaseShortcut, removeReleaseShortcut", [] { createTestShortcut(createReleaseShortcut); },
     [] { removeReleaseShortcut(place->productSubfolder.c_str(), kLinkName); }, kSavingRounds},
    {"createRevisionedShortcut, removeRevisionedShortcut", [] { createTestShortcut(createRevisionedShortcut); },
     [] { removeRevisionedShortcut(place->productSubfolder.c_str(), kLinkName); }, kSavingRounds},
    {"createLocalRevisionedShortcut, removeLocalRevisionedShortcut",
     [] { createTestShortcut(createLocalRevisionedShortcut); },
     [] { removeLocalRevisionedShortcut(place->productSubfolder.c_str(), kLinkName); }, kSavingRounds},
    {"removeUnsuffixedShortcut", [] { removeUnsuffixedShortcut(place->productSubfolder.c_str(), kLinkName); },
     nullptr},
    {"removeStartMenuFolder", [] { removeStartMenuFolder((L"\\" + place->product + L"\\Help").c_str()); },
     [] { CreateDirectoryW((place->productFolder + L"\\Help").c_str(), nullptr); }},
    {"removeProgramsSubfolder", [] { removeProgramsSubfolder(place->product.c_str()); },
     [] { CreateDirectoryW(place->productFolder.c_str(), nullptr); }},
    {"setEnvVar, deleteEnvVar", [] { setEnvVar(kVariable, L"x", REG_SZ, kUserScope); },
     [] { deleteEnvVar(kVariable, kUserScope); }},
    {"broadcastEnvironmentChange", [] { broadcastEnvironmentChange(); }, nullptr},
    {"getReleaseCode, getReleaseFolderName",
     [] { wchar_t v[8]; getReleaseCode(v, getReleaseCode(nullptr, 0)); getReleaseFolderName(v, 8); }, nullptr},
    {"getRootFromEnvironment", [] { wchar_t v[MAX_PATH]; getRootFromEnvironment(v, MAX_PATH); }, nullptr},
    {"readDiscMarker", [] { wchar_t v[16]; readDiscMarker(place->folder.c_str(), v, 16); }, nullptr},
    {"getLanguageIndex", [] { getLanguageIndex(0, place->folder.c_str()); }, nullptr},
    {"languageIndexForCode, getLocaleLanguage", [] { languageIndexForCode(L"xx", 0); }, nullptr},
    {"getLanguageCodeFor", [] { wchar_t v[8]; getLanguageCodeFor(0, v, 8); }, nullptr},
    {"readSettingValue", [] { wchar_t b[8]; wchar_t* v = b; readSettingValue(place->relinfo.c_str(), &v, 8); }, nullptr},
    {"writeLanguageSettings", [] { writeLanguageSettings(kLanguageFrench, 1); }, nullptr},
    {"isProcessor64Bit", [] { isProcessor64Bit(); }, nullptr},
    {"enableRedirectionGuard", [] { enableRedirectionGuard(); }, nullptr},
    {"hasSubkeyContaining", [] { hasSubkeyContaining(L"SOFTWARE\\Microsoft", L"HPC", 1); }, nullptr},
    {"detectWindowsEdition", [] { WindowsEditionFlags flags; detectWindowsEdition(&flags); }, nullptr},
    {"readRegistryString",
     [] { wchar_t v[kRegistryStringCapacity]; readRegistryString(HKEY_CURRENT_USER, L"Environment", v, L"TEMP"); },
     nullptr},
    {"getModuleFilePath", [] { std::vector<wchar_t> p(getModuleFilePath(nullptr, 0)); getModuleFilePath(p.data(), int(p.size())); },
     nullptr},
    {"shellExecuteAndWait", [] { shellExecuteAndWait(place->quickProgram.c_str(), nullptr, SW_HIDE); }, nullptr,
     kLaunchRounds},
    {"shellOpen", [] { shellOpen(place->quickProgram.c_str(), L"", SW_HIDE); }, nullptr, kLaunchRounds},
    {"runHiddenAndWait", [] { runHiddenAndWait(quickCommandLine().data()); }, nullptr, kHiddenLaunchRounds},
    {"runHiddenDetached", [] { runHiddenDetached(quickCommandLine().data()); }, nullptr, kLaunchRounds},
    {"runProcessAndWait, not waiting", [] { runProcessAndWait(nullptr, quickCommandLine().data(), SW_HIDE, 1); },
     nullptr, kLaunchRounds},
    {"terminateProcessesByName", [] { terminateProcessesByName(L"no_nimba_process_is_named_so"); }, nullptr},
    {"createDirectoryForEveryone", [] { createDirectoryForEveryone(place->newFolder.c_str()); },
     [] { RemoveDirectoryW(place->newFolder.c_str()); }},
    {"showInformationMessage", [] { answeredBox([] { showInformationMessage(L"x"); }); }, nullptr, kLaunchRounds},
    {"showSystemErrorMessage", [] { answeredBox([] { showSystemErrorMessage(5); }); }, nullptr, kLaunchRounds},
    {"setDialogItemText, loadResourceText and the resource setters",
     [] {
         setDialogItemText(L"x", place->window, 1);
         setDialogItemResourceText(1, GetModuleHandleW(nullptr), place->window, 1, 0);
         setWindowResourceText(1, GetModuleHandleW(nullptr), place->window, 0);
     },
     nullptr},
};

// Busy bytes of every heap of the process: the runtime's own heap (new,
// malloc) and the process heap (COM, the shell, the platform).
size_t heapBytesInUse()
{
    HANDLE heaps[64];
    const DWORD count = GetProcessHeaps(sizeof(heaps) / sizeof(heaps[0]), heaps);
    size_t total = 0;
    for (DWORD i = 0; i < count && i < sizeof(heaps) / sizeof(heaps[0]); ++i) {
        if (!HeapLock(heaps[i]))
            continue;
        PROCESS_HEAP_ENTRY entry = {};
        while (HeapWalk(heaps[i], &entry)) {
            if ((entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) != 0)
                total += entry.cbData;
        }
        HeapUnlock(heaps[i]);
    }
    return total;
}

void runRounds(const RepeatedOperation& operation, int rounds)
{
    for (int round = 0; round < rounds; ++round) {
        operation.round();
        if (operation.cleanUp != nullptr)
            operation.cleanUp();
    }
}

// At most this many stretches of rounds are tried after the warm-up.
const size_t kMaxStretches = 8;

// Heap bytes in use and fresh handle slots, before and after a stretch of rounds.
struct Stretch {
    std::array<HANDLE, 8> handles[2];
    size_t heap[2];
};

// A block lost in every round adds at least a byte per round; a handle lost
// moves the fresh slots.
bool leftNothingBehind(const Stretch& stretch, int rounds)
{
    return stretch.handles[0] == stretch.handles[1] && stretch.heap[1] < stretch.heap[0] + static_cast<size_t>(rounds);
}

// The operations run in parts, each part every third operation of the table,
// so that no part takes much longer than the others.
const size_t kParts = 3;

class RepeatedOperations : public ::testing::TestWithParam<size_t> {
};

TEST_P(RepeatedOperations, LeaveNoHandleAndNoHeapBehind)
{
    // First uses load libraries and fill the platform's caches.
    const int kWarmUpRounds = 5;

    CoInitialize(nullptr);
    unit::TempFolder temp;
    Workspace workspace;
    workspace.folder = temp.path();
    workspace.newFolder = temp / L"made";
    workspace.link = temp / L"links\\Tool.lnk";
    workspace.emptyFolder = temp / L"empty";
    workspace.relinfo = unit::programPath();
    workspace.relinfo = workspace.relinfo.substr(0, workspace.relinfo.rfind(L'\\') + 1) + L"relinfo.xml";
    workspace.product = unit::uniqueName(L"nimba_unit_rounds");
    workspace.productSubfolder = L"\\" + workspace.product + L"\\Utilities\\";
    wchar_t programs[MAX_PATH + 1] = L"";
    ASSERT_TRUE(SHGetSpecialFolderPathW(nullptr, programs, CSIDL_COMMON_PROGRAMS, FALSE));
    workspace.productFolder = std::wstring(programs) + L"\\" + workspace.product;
    ASSERT_TRUE(CreateDirectoryW(workspace.emptyFolder.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(workspace.productFolder.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((workspace.productFolder + L"\\Help").c_str(), nullptr));
    ASSERT_TRUE(unit::writeBytes(workspace.relinfo, "<relinfo startMenuShortcutAppendRevision=\"R2\"/>"));
    workspace.quickProgram = unit::toolPath(L"exits_at_once");
    workspace.window = CreateWindowW(L"STATIC", L"", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, workspace.window);
    // The per-user language file goes to the test's own folder.
    unit::ScopedVariable appData(L"APPDATA", temp.path().c_str());
    place = &workspace;

    // After the warm-up, the rounds run in stretches of half the operation's
    // rounds, measured after each, until one stretch leaves the heap and the
    // handle slots as they were. A loss in every round shows in every stretch.
    // A platform cache does not: Wine 10's shell folder calls grow the heap by
    // 50-140 bytes a round for a few hundred rounds, then level off, or take
    // one lump of about 7.5 KB.
    const size_t count = sizeof(kOperations) / sizeof(kOperations[0]);
    std::vector<std::vector<Stretch>> measured(count);
    for (size_t i = GetParam(); i < count; i += kParts) {
        const int stretchRounds = kOperations[i].rounds / 2;
        runRounds(kOperations[i], kWarmUpRounds);
        Stretch stretch;
        stretch.heap[1] = heapBytesInUse();
        stretch.handles[1] = unit::freshHandleValues();
        do {
            stretch.heap[0] = stretch.heap[1];
            stretch.handles[0] = stretch.handles[1];
            runRounds(kOperations[i], stretchRounds);
            stretch.heap[1] = heapBytesInUse();
            stretch.handles[1] = unit::freshHandleValues();
            measured[i].push_back(stretch);
        } while (!leftNothingBehind(stretch, stretchRounds) && measured[i].size() < kMaxStretches);
    }
    place = nullptr;
    DestroyWindow(workspace.window);
    DeleteFileW(workspace.relinfo.c_str());
    unit::removeTree(workspace.productFolder);
    CoUninitialize();

    for (size_t i = GetParam(); i < count; i += kParts) {
        const Stretch& last = measured[i].back();
        EXPECT_TRUE(leftNothingBehind(last, kOperations[i].rounds / 2))
            << kOperations[i].name << ", in each of " << measured[i].size() << " stretches of "
            << kOperations[i].rounds / 2 << " rounds; the last: heap bytes in use " << last.heap[0] << " to "
            << last.heap[1] << ", handle slots " << ::testing::PrintToString(last.handles[0]) << " to "
            << ::testing::PrintToString(last.handles[1]);
    }
}

INSTANTIATE_TEST_SUITE_P(Parts, RepeatedOperations, ::testing::Range<size_t>(0, kParts));

} // namespace
