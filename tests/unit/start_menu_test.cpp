#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <algorithm>
#include <string>
#include <vector>

#include <setup_support/start_menu.h>

#include "test_support.h"

namespace {

const wchar_t kCanary = L'\x7e7e';
const wchar_t kName[] = L"File Association";
const wchar_t kUserShellFolders[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";

std::wstring shellFolder(int csidl)
{
    wchar_t folder[MAX_PATH + 1] = L"";
    if (!SHGetSpecialFolderPathW(nullptr, folder, csidl, FALSE))
        return L"";
    return folder;
}

std::wstring programsFolder()
{
    std::vector<wchar_t> folder(getProgramsFolder(nullptr, 0));
    getProgramsFolder(folder.data(), static_cast<int>(folder.size()));
    return folder.data();
}

std::vector<std::wstring> sorted(std::vector<std::wstring> names)
{
    std::sort(names.begin(), names.end());
    return names;
}

// Points one of the user's shell folders (a value of User Shell Folders) at a
// folder of the test's, and back to what it was when the test ends.
class RedirectedShellFolder {
public:
    explicit RedirectedShellFolder(const wchar_t* valueName) : name_(valueName)
    {
        if (RegOpenKeyExW(HKEY_CURRENT_USER, kUserShellFolders, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key_) !=
            ERROR_SUCCESS) {
            key_ = nullptr;
            return;
        }
        saved_.resize(32768);
        DWORD size = static_cast<DWORD>(saved_.size() * sizeof(wchar_t));
        if (RegQueryValueExW(key_, name_, nullptr, &savedType_, reinterpret_cast<BYTE*>(&saved_[0]), &size) !=
            ERROR_SUCCESS) {
            RegCloseKey(key_);
            key_ = nullptr;
            return;
        }
        saved_.resize(size / sizeof(wchar_t));
    }
    ~RedirectedShellFolder()
    {
        if (key_ == nullptr)
            return;
        RegSetValueExW(key_, name_, 0, savedType_, reinterpret_cast<const BYTE*>(saved_.data()),
                       static_cast<DWORD>(saved_.size() * sizeof(wchar_t)));
        RegCloseKey(key_);
    }
    RedirectedShellFolder(const RedirectedShellFolder&) = delete;
    RedirectedShellFolder& operator=(const RedirectedShellFolder&) = delete;

    bool pointAt(const std::wstring& folder)
    {
        return key_ != nullptr &&
               RegSetValueExW(key_, name_, 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(folder.c_str()),
                              static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
    }

private:
    const wchar_t* name_;
    HKEY key_ = nullptr;
    std::wstring saved_;
    DWORD savedType_ = REG_EXPAND_SZ;
};

TEST(GetProgramsFolder, TwoCallProtocol)
{
    const std::wstring expected = shellFolder(CSIDL_COMMON_PROGRAMS);
    ASSERT_FALSE(expected.empty());
    const int count = getProgramsFolder(nullptr, 0);
    EXPECT_EQ(static_cast<int>(expected.size()) + 1, count);

    std::vector<wchar_t> buffer(count + 4, kCanary);
    EXPECT_EQ(count, getProgramsFolder(buffer.data(), 0));
    EXPECT_EQ(kCanary, buffer[0]);

    EXPECT_EQ(count, getProgramsFolder(buffer.data(), count - 1));
    EXPECT_EQ(L'\0', buffer[0]);
    for (size_t i = 1; i < buffer.size(); ++i)
        EXPECT_EQ(kCanary, buffer[i]) << "written at " << i;

    EXPECT_EQ(0, getProgramsFolder(buffer.data(), count));
    EXPECT_EQ(expected, buffer.data());
    EXPECT_EQ(kCanary, buffer[count]);
}

TEST(GetProgramsFolder, NegativeCapacityWritesNothing)
{
    std::vector<wchar_t> buffer(MAX_PATH + 2, kCanary);
    EXPECT_EQ(getProgramsFolder(nullptr, 0), getProgramsFolder(buffer.data(), -1));
    for (size_t i = 0; i < buffer.size(); ++i)
        EXPECT_EQ(kCanary, buffer[i]) << "written at " << i;
}

TEST(GetProgramsFolder, AllUsersForAdministratorOwnForOthers)
{
    const std::wstring common = shellFolder(CSIDL_COMMON_PROGRAMS);
    EXPECT_EQ(common, programsFolder());

    unit::RestrictedImpersonation restricted;
    ASSERT_TRUE(restricted.active());
    const std::wstring own = shellFolder(CSIDL_PROGRAMS);
    ASSERT_FALSE(own.empty());
    ASSERT_NE(common, own);
    EXPECT_EQ(own, programsFolder());
}

TEST(IsSafeStartMenuSubfolder, AcceptsPlacesInsideProgramsOnly)
{
    for (const wchar_t* subfolder : {L"", L"\\Vendor\\Suite\\", L"\\NIMBA 18.1\\Utilities\\", L"\\NIMBA\\Help",
                                     L"\\CONSOLE\\COM10\\LPT\\", L"\\x.con\\.nul\\NULL.txt"})
        EXPECT_EQ(1, isSafeStartMenuSubfolder(subfolder)) << subfolder;
    for (const wchar_t* subfolder : {L"\\..\\x", L"\\a\\..\\..\\b", L"\\C:\\x", L"x", L"\\a/../../b", L"\\.. \\b",
                                     L"\\.\\b", L"\\a\\...", L"\\a:stream", L"\\a*\\b", L"\\a\tb",
                                     // Device names and names the platform would trim: the shell
                                     // could not parse back what was created.
                                     L"\\CON", L"\\Suite\\aux.txt\\", L"\\prn\\x", L"\\Nul .log", L"\\a/com1",
                                     L"\\LPT9\\", L"\\Suite \\x", L"\\Suite.\\", L"\\a\\b."})
        EXPECT_EQ(0, isSafeStartMenuSubfolder(subfolder)) << subfolder;
    EXPECT_EQ(0, isSafeStartMenuSubfolder(nullptr));
}

TEST(IsSafeShortcutNamePart, AcceptsPlainFileNamePartsOnly)
{
    for (const wchar_t* part : {L"", L"File Association", L"18.1", L"Product & CAD Configuration", L"COM", L"Console"})
        EXPECT_EQ(1, isSafeShortcutNamePart(part)) << part;
    for (const wchar_t* part : {L"a\\b", L"..\\x", L"a/b", L"C:x", L"a?", L"a\"b", L"a|b", L"con", L"AUX.lnk", L"Com7",
                                L"R.", L"R ", L"."})
        EXPECT_EQ(0, isSafeShortcutNamePart(part)) << part;
    EXPECT_EQ(0, isSafeShortcutNamePart(nullptr));
}

// Shortcuts in a product folder of our own in the real all-users Programs folder.
class StartMenu : public ::testing::Test {
protected:
    void SetUp() override
    {
        CoInitialize(nullptr);
        programs = shellFolder(CSIDL_COMMON_PROGRAMS);
        ASSERT_FALSE(programs.empty());
        product = unit::uniqueName(L"nimba_unit");
        productFolder = programs + L"\\" + product;
        utilities = productFolder + L"\\Utilities";
        // The installer's form: leading and trailing backslash.
        subfolder = L"\\" + product + L"\\Utilities\\";
        targetDirectory = temp / L"tools\\winx64\\";
        unit::removeTree(productFolder);
    }
    void TearDown() override
    {
        unit::removeTree(productFolder);
        CoUninitialize();
    }

    void createShortcut(const std::wstring& folder, const wchar_t* name, const wchar_t* suffix)
    {
        createStartMenuShortcut(targetDirectory.c_str(), L"fileassoc.exe", L"-quiet",
                                (targetDirectory + L"fileassoc.exe").c_str(), L"%HOMEDRIVE%%HOMEPATH%",
                                folder.c_str(), name, L"NIMBA File Association", SW_SHOWMINNOACTIVE, suffix);
    }

    unit::TempFolder temp;
    std::wstring programs;
    std::wstring product;
    std::wstring productFolder;
    std::wstring utilities;
    std::wstring subfolder;
    std::wstring targetDirectory;
};

TEST_F(StartMenu, ShortcutIsNamedFromSubfolderNameAndSuffix)
{
    createShortcut(subfolder, kName, L"R");
    EXPECT_EQ(std::vector<std::wstring>{L"File Association R.lnk"}, unit::folderEntries(utilities));

    unit::LinkFields fields = unit::readLink(utilities + L"\\File Association R.lnk");
    ASSERT_EQ(S_OK, fields.loaded);
    // Wine may hand the quoted target back without its quotes.
    EXPECT_NE(std::wstring::npos, fields.target.find(targetDirectory + L"fileassoc.exe")) << fields.target;
    EXPECT_EQ(L"-quiet", fields.arguments);
    EXPECT_EQ(L"%HOMEDRIVE%%HOMEPATH%", fields.workingDirectory);
    EXPECT_EQ(L"NIMBA File Association", fields.description);
    EXPECT_EQ(targetDirectory + L"fileassoc.exe", fields.iconPath);
    EXPECT_EQ(0, fields.iconIndex);
    EXPECT_EQ(SW_SHOWMINNOACTIVE, fields.showCmd);

    // Removal composes the same path, the doubled backslash included.
    removeStartMenuShortcut(subfolder.c_str(), kName, L"R");
    EXPECT_TRUE(unit::folderEntries(utilities).empty());
}

TEST_F(StartMenu, EachRemovalVariantDeletesItsOwnShortcutOnly)
{
    createShortcut(subfolder, kName, L"R");
    createShortcut(subfolder, kName, L"");
    createReleaseShortcut(targetDirectory.c_str(), L"fileassoc.exe", L"", L"", L"", subfolder.c_str(), kName, L"",
                          SW_SHOWNORMAL);
    ASSERT_EQ((std::vector<std::wstring>{L"File Association 18.1.lnk", L"File Association R.lnk",
                                         L"File Association.lnk"}),
              sorted(unit::folderEntries(utilities)));

    removeReleaseShortcut(subfolder.c_str(), kName);
    EXPECT_EQ((std::vector<std::wstring>{L"File Association R.lnk", L"File Association.lnk"}),
              sorted(unit::folderEntries(utilities)));
    removeUnsuffixedShortcut(subfolder.c_str(), kName);
    EXPECT_EQ(std::vector<std::wstring>{L"File Association R.lnk"}, unit::folderEntries(utilities));
}

TEST_F(StartMenu, FoldersGoOnlyOnceEmptied)
{
    createShortcut(subfolder, kName, L"");
    const std::wstring utilitiesSubfolder = L"\\" + product + L"\\Utilities";

    removeStartMenuFolder(utilitiesSubfolder.c_str());
    EXPECT_TRUE(unit::isFolder(utilities));
    removeProgramsSubfolder(product.c_str());
    EXPECT_TRUE(unit::isFolder(productFolder));

    removeUnsuffixedShortcut(subfolder.c_str(), kName);
    // Its subfolder still keeps the product folder.
    removeProgramsSubfolder(product.c_str());
    EXPECT_TRUE(unit::isFolder(utilities));

    // The form with a trailing backslash, as the client tools' folder is named.
    removeStartMenuFolder(subfolder.c_str());
    EXPECT_FALSE(unit::pathExists(utilities));
    removeProgramsSubfolder(product.c_str());
    EXPECT_FALSE(unit::pathExists(productFolder));
}

// The shell parses no path of MAX_PATH code units or more: from there on a
// shortcut or folder is refused, in creation and removal alike.
TEST_F(StartMenu, PathsFromMaxPathOnAreRefused)
{
    const std::wstring name = L"N";
    for (const size_t length : {static_cast<size_t>(MAX_PATH - 1), static_cast<size_t>(MAX_PATH)}) {
        // <Programs>\<product>\<padding>\ + \N.lnk (the doubled separator counts).
        const size_t fixedPart = programs.size() + product.size() + name.size() + 8;
        const std::wstring padding(length - fixedPart, L'p');
        const std::wstring linkSubfolder = L"\\" + product + L"\\" + padding + L"\\";
        ASSERT_EQ(length, (programs + linkSubfolder + L"\\" + name + L".lnk").size());
        const std::wstring link = productFolder + L"\\" + padding + L"\\" + name + L".lnk";
        const bool fits = length < MAX_PATH;

        createShortcut(linkSubfolder, name.c_str(), L"");
        EXPECT_EQ(fits, unit::pathExists(link)) << length;
        CreateDirectoryW(productFolder.c_str(), nullptr);
        CreateDirectoryW((productFolder + L"\\" + padding).c_str(), nullptr);
        ASSERT_TRUE(unit::pathExists(link) || unit::writeBytes(link, "link"));
        removeUnsuffixedShortcut(linkSubfolder.c_str(), name.c_str());
        EXPECT_EQ(!fits, unit::pathExists(link)) << length;
        unit::removeTree(productFolder);
    }

    // An empty folder just short of the limit still goes (longer ones the
    // shell itself does not parse here).
    const std::wstring folderSubfolder =
        L"\\" + product + L"\\" + std::wstring(MAX_PATH - 1 - programs.size() - product.size() - 2, L'f');
    ASSERT_TRUE(CreateDirectoryW(productFolder.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((programs + folderSubfolder).c_str(), nullptr));
    removeStartMenuFolder(folderSubfolder.c_str());
    EXPECT_FALSE(unit::pathExists(programs + folderSubfolder));
}

// Names come from relinfo.xml: none may lead outside the Programs folder.
class StartMenuEscape : public StartMenu {
protected:
    void SetUp() override
    {
        StartMenu::SetUp();
        startMenu = programs.substr(0, programs.rfind(L'\\'));
        outsider = unit::uniqueName(L"nimba_unit_outside");
        outside = startMenu + L"\\" + outsider;
        unit::removeTree(outside);
    }
    void TearDown() override
    {
        unit::removeTree(outside);
        unit::removeTree(outside + L".lnk");
        StartMenu::TearDown();
    }

    std::wstring startMenu;
    std::wstring outsider;
    std::wstring outside;
};

TEST_F(StartMenuEscape, CreatesNothingOutsidePrograms)
{
    createShortcut(L"\\..\\" + outsider + L"\\", kName, L"");
    EXPECT_FALSE(unit::pathExists(outside));

    createShortcut(subfolder, (L"..\\..\\..\\" + outsider).c_str(), L"");
    EXPECT_FALSE(unit::pathExists(outside + L".lnk"));

    createShortcut(subfolder, kName, (L"x\\..\\..\\..\\..\\" + outsider).c_str());
    EXPECT_FALSE(unit::pathExists(outside + L".lnk"));

    createShortcut(L"\\" + product + L"\\C:\\" + outsider + L"\\", kName, L"");
    // Not even the folders of the parts that were safe.
    EXPECT_FALSE(unit::pathExists(productFolder));
}

TEST_F(StartMenuEscape, RemovesNothingOutsidePrograms)
{
    ASSERT_TRUE(CreateDirectoryW(outside.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((outside + L"\\Utilities").c_str(), nullptr));
    ASSERT_TRUE(unit::writeBytes(outside + L"\\File Association.lnk", "link"));

    removeStartMenuShortcut((L"\\..\\" + outsider + L"\\").c_str(), kName, L"");
    removeStartMenuFolder((L"\\..\\" + outsider + L"\\Utilities").c_str());
    removeProgramsSubfolder((L"..\\" + outsider + L"\\Utilities").c_str());
    EXPECT_TRUE(unit::pathExists(outside + L"\\File Association.lnk"));
    EXPECT_TRUE(unit::isFolder(outside + L"\\Utilities"));
}

// Windows starts what the Startup folders hold at every logon. Which folders
// those are is the platform's to say: the user's is pointed here at a folder
// of another name in the Programs folder, as a Windows of another language
// names it.
class StartupFolders : public StartMenu {
protected:
    void SetUp() override
    {
        StartMenu::SetUp();
        commonStartup = shellFolder(CSIDL_COMMON_STARTUP);
        ASSERT_EQ(programs, commonStartup.substr(0, programs.size()));
        commonName = commonStartup.substr(programs.size() + 1);
        userName = unit::uniqueName(L"nimba_unit_Autostart");
        userStartup = programs + L"\\" + userName;
        ASSERT_TRUE(startupValue.pointAt(userStartup));
        ASSERT_TRUE(CreateDirectoryW(userStartup.c_str(), nullptr));
        ASSERT_EQ(userStartup, shellFolder(CSIDL_STARTUP));
        ASSERT_TRUE(unit::folderEntries(commonStartup).empty());
    }
    void TearDown() override
    {
        unit::removeTree(userStartup);
        for (const std::wstring& entry : unit::folderEntries(commonStartup))
            unit::removeTree(commonStartup + L"\\" + entry);
        CreateDirectoryW(commonStartup.c_str(), nullptr);
        StartMenu::TearDown();
    }

    std::wstring commonStartup;
    std::wstring commonName;
    std::wstring userStartup;
    std::wstring userName;
    RedirectedShellFolder startupValue{L"Startup"};
};

TEST_F(StartupFolders, NothingIsCreatedOrRemovedThere)
{
    std::wstring lowerName = commonName;
    for (wchar_t& unit : lowerName)
        unit = static_cast<wchar_t>(towlower(unit));
    // The 8.3 name of the user's Startup folder names it as well.
    wchar_t shortPath[MAX_PATH + 1] = L"";
    ASSERT_NE(0u, GetShortPathNameW(userStartup.c_str(), shortPath, MAX_PATH + 1));
    const std::wstring shortName = std::wstring(shortPath).substr(std::wstring(shortPath).rfind(L'\\') + 1);
    ASSERT_NE(userName, shortName);
    struct Place {
        std::wstring folder;     // below the Programs folder
        std::wstring startup;    // the Startup folder it lies in
    };
    const Place places[] = {
        {L"\\" + commonName, commonStartup},
        {L"\\" + lowerName + L"\\" + product + L"\\Utilities", commonStartup},
        {L"\\\\" + commonName + L"/" + product, commonStartup},
        {L"\\" + userName, userStartup},
        {L"\\" + shortName + L"\\" + product, userStartup},
        {L"\\" + userName + L"\\" + product, userStartup},
    };
    for (const Place& place : places) {
        const std::wstring planted = place.startup + L"\\File Association.lnk";
        ASSERT_TRUE(unit::writeBytes(planted, "theirs"));
        removeStartMenuShortcut((place.folder + L"\\").c_str(), kName, L"");
        EXPECT_TRUE(unit::pathExists(planted)) << place.folder;
        ASSERT_TRUE(DeleteFileW(planted.c_str()));

        createShortcut(place.folder + L"\\", kName, L"");
        EXPECT_EQ(std::vector<std::wstring>{}, unit::folderEntries(place.startup)) << place.folder;
        unit::removeTree(place.startup + L"\\" + product);

        removeStartMenuFolder(place.folder.c_str());
        removeStartMenuFolderLevels((place.folder + L"\\" + product).c_str());
        removeProgramsSubfolder(place.folder.substr(1).c_str());
        EXPECT_TRUE(unit::isFolder(place.startup)) << place.folder;
        CreateDirectoryW(place.startup.c_str(), nullptr);
    }
    // A folder beside them whose name merely begins like theirs is the suite's.
    createShortcut(L"\\" + commonName + L" Tools\\", kName, L"");
    EXPECT_TRUE(unit::pathExists(programs + L"\\" + commonName + L" Tools\\File Association.lnk"));
    unit::removeTree(programs + L"\\" + commonName + L" Tools");
}

// The real Programs folders hold subfolders and could not be removed anyway:
// the user's one is pointed at an empty folder, which a faulty removal would
// take away.
class EmptyProgramsFolder : public ::testing::Test {
protected:
    void SetUp() override
    {
        emptyPrograms = temp / L"Programs";
        ASSERT_TRUE(CreateDirectoryW(emptyPrograms.c_str(), nullptr));
        ASSERT_TRUE(programsValue.pointAt(emptyPrograms));
        ASSERT_TRUE(restricted.active());
        ASSERT_EQ(emptyPrograms, programsFolder());
    }
    void TearDown() override
    {
        restricted.revert();
    }

    unit::TempFolder temp;
    unit::RestrictedImpersonation restricted;
    RedirectedShellFolder programsValue{L"Programs"};
    std::wstring emptyPrograms;
};

TEST_F(EmptyProgramsFolder, NeverRemoved)
{
    for (const wchar_t* subfolder : {L"", L"\\", L"\\\\", L"\\.", L"\\nimba_unit_absent\\.."})
        removeStartMenuFolder(subfolder);
    removeProgramsSubfolder(L"");
    removeProgramsSubfolder(L"\\");
    EXPECT_TRUE(unit::isFolder(emptyPrograms));
}

// A Programs folder the shell cannot give (here: one that does not exist)
// must not turn the composed paths into ones below the drive's root.
TEST_F(EmptyProgramsFolder, UnknownFolderTouchesNothing)
{
    const std::wstring missing = temp / L"missing\\Programs";
    ASSERT_TRUE(programsValue.pointAt(missing));
    ASSERT_EQ(1, getProgramsFolder(nullptr, 0));
    EXPECT_EQ(L"", programsFolder());

    // A folder at the drive root under the product's name, which a path
    // composed from an empty Programs folder would reach.
    const std::wstring product = L"nimba_unit_unknown_" + std::to_wstring(GetCurrentProcessId());
    const std::wstring atRoot = L"\\" + product;
    ASSERT_TRUE(CreateDirectoryW(atRoot.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((atRoot + L"\\Utilities").c_str(), nullptr));

    createStartMenuShortcut(L"C:\\", L"fileassoc.exe", L"", L"", L"", (L"\\" + product + L"\\Utilities\\").c_str(),
                            kName, L"", SW_SHOWNORMAL, L"");
    const bool linkWritten = unit::pathExists(atRoot + L"\\Utilities\\File Association.lnk");
    removeStartMenuFolder((L"\\" + product + L"\\Utilities").c_str());
    const bool utilitiesKept = unit::isFolder(atRoot + L"\\Utilities");
    removeProgramsSubfolder(product.c_str());
    const bool productKept = unit::isFolder(atRoot);

    DeleteFileW((atRoot + L"\\Utilities\\File Association.lnk").c_str());
    RemoveDirectoryW((atRoot + L"\\Utilities").c_str());
    RemoveDirectoryW(atRoot.c_str());
    EXPECT_FALSE(linkWritten);
    EXPECT_TRUE(utilitiesKept);
    EXPECT_TRUE(productKept);
    EXPECT_FALSE(unit::pathExists(missing));
}

} // namespace
