#pragma once

// What the unit tests share: throwaway names and folders, whole-file reads,
// shortcut reads, and a thread that runs as an administrator without elevation.

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <cwchar>
#include <array>
#include <string>
#include <vector>

namespace unit {

// A name no other test or run uses: the stem, the process id, a running number.
inline std::wstring uniqueName(const wchar_t* stem)
{
    static unsigned counter = 0;
    return std::wstring(stem) + L"_" + std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(++counter);
}

inline bool pathExists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

inline bool isFolder(const std::wstring& path)
{
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// The names in a folder, without "." and "..".
inline std::vector<std::wstring> folderEntries(const std::wstring& folder)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        std::wstring name = found.cFileName;
        if (name != L"." && name != L"..")
            names.push_back(name);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return names;
}

// Deletes a file or a whole folder tree, read-only and hidden entries included.
inline void removeTree(const std::wstring& path)
{
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return;
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        DeleteFileW(path.c_str());
        return;
    }
    for (const std::wstring& name : folderEntries(path))
        removeTree(path + L"\\" + name);
    RemoveDirectoryW(path.c_str());
}

inline bool writeBytes(const std::wstring& path, const std::string& bytes, DWORD attributes = FILE_ATTRIBUTE_NORMAL)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, attributes, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == bytes.size();
}

// The whole file; "<unreadable>" when it cannot be opened.
inline std::string readBytes(const std::wstring& path)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return "<unreadable>";
    std::string bytes;
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof(chunk), &got, nullptr) && got > 0)
        bytes.append(chunk, got);
    CloseHandle(file);
    return bytes;
}

// The running test program's full path.
inline std::wstring programPath()
{
    std::wstring path(32768, L'\0');
    path.resize(GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size())));
    return path;
}

// A uniquely named folder below the temporary folder, removed with all it holds.
class TempFolder {
public:
    TempFolder()
    {
        wchar_t base[MAX_PATH + 1] = L"";
        GetTempPathW(MAX_PATH + 1, base);
        path_ = std::wstring(base) + uniqueName(L"nimba_unit");
        CreateDirectoryW(path_.c_str(), nullptr);
    }
    ~TempFolder() { removeTree(path_); }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::wstring& path() const { return path_; }
    std::wstring operator/(const std::wstring& relative) const { return path_ + L"\\" + relative; }

private:
    std::wstring path_;
};

// Makes the calling thread run as the process's own user with
// BUILTIN\Administrators deny-only, as an administrator without elevation
// would; ends with revert() or the object.
class RestrictedImpersonation {
public:
    RestrictedImpersonation()
    {
        HANDLE process = nullptr;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY | TOKEN_ASSIGN_PRIMARY, &process))
            return;
        SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
        PSID administrators = nullptr;
        HANDLE restricted = nullptr;
        HANDLE impersonation = nullptr;
        if (AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0,
                                     0, 0, 0, &administrators)) {
            SID_AND_ATTRIBUTES denyOnly = {administrators, 0};
            if (CreateRestrictedToken(process, 0, 1, &denyOnly, 0, nullptr, 0, nullptr, &restricted) &&
                DuplicateToken(restricted, SecurityImpersonation, &impersonation))
                active_ = SetThreadToken(nullptr, impersonation) != FALSE;
            FreeSid(administrators);
        }
        if (impersonation != nullptr)
            CloseHandle(impersonation);
        if (restricted != nullptr)
            CloseHandle(restricted);
        CloseHandle(process);
    }
    ~RestrictedImpersonation() { revert(); }
    RestrictedImpersonation(const RestrictedImpersonation&) = delete;
    RestrictedImpersonation& operator=(const RestrictedImpersonation&) = delete;

    bool active() const { return active_; }
    void revert()
    {
        if (active_)
            RevertToSelf();
        active_ = false;
    }

private:
    bool active_ = false;
};

// Sets a variable of this process's environment (or removes it, with null)
// and restores its earlier state at the end of the scope.
class ScopedVariable {
public:
    ScopedVariable(const wchar_t* name, const wchar_t* value) : name_(name)
    {
        const DWORD needed = GetEnvironmentVariableW(name, nullptr, 0);
        if (needed > 0) {
            earlier_.assign(needed, L'\0');
            earlier_.resize(GetEnvironmentVariableW(name, &earlier_[0], needed));
            wasSet_ = true;
        }
        SetEnvironmentVariableW(name, value);
    }
    ~ScopedVariable() { SetEnvironmentVariableW(name_.c_str(), wasSet_ ? earlier_.c_str() : nullptr); }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    std::wstring name_;
    std::wstring earlier_;
    bool wasSet_ = false;
};

// The values of a few handles opened afresh and closed again. Wine answers 0
// to GetProcessHandleCount but hands out the lowest free slots, so a handle
// leaked between two probes changes their values.
// No heap is used, so that the probe itself leaves the heap as it was.
inline std::array<HANDLE, 8> freshHandleValues()
{
    std::array<HANDLE, 8> values;
    for (HANDLE& value : values)
        value = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    for (HANDLE value : values)
        CloseHandle(value);
    return values;
}

// A window's whole text.
inline std::wstring windowText(HWND window)
{
    std::wstring text(GetWindowTextLengthW(window) + 1, L'\0');
    text.resize(GetWindowTextW(window, &text[0], static_cast<int>(text.size())));
    return text;
}

// A test tool built beside the unit tests: build/x64/tests/tools/<name>.exe.
inline std::wstring toolPath(const wchar_t* name)
{
    std::wstring folder = programPath();
    folder.resize(folder.find_last_of(L'\\'));
    folder.resize(folder.find_last_of(L'\\'));
    return folder + L"\\tools\\" + name + L".exe";
}

// Starts a Windows program as a start from Linux does, through the Wine
// loader (the WINE variable, else /usr/lib/wine/wine64), so that this
// process's environment also becomes the program's Unix environment: only
// there does LC_ALL fix the user locale. The loader gives no process handle,
// so the program takes a report file and an event name as its first two
// arguments and sets the event once the report is complete. Returns the
// report's bytes, or "<no report>" when the event stays unset for 20 seconds.
inline std::string runThroughWineLoader(const std::wstring& program, const std::wstring& arguments)
{
    wchar_t base[MAX_PATH + 1] = L"";
    GetTempPathW(MAX_PATH + 1, base);
    const std::wstring report = std::wstring(base) + uniqueName(L"nimba_report") + L".txt";
    const std::wstring eventName = uniqueName(L"nimba_report_done");
    HANDLE done = CreateEventW(nullptr, TRUE, FALSE, eventName.c_str());

    wchar_t loader[MAX_PATH] = L"";
    if (GetEnvironmentVariableW(L"WINE", loader, MAX_PATH) == 0 || loader[0] != L'/')
        wcscpy(loader, L"/usr/lib/wine/wine64");
    // Found through drive Z:, the Unix root; the loader finds its companions
    // through the Unix path it is called by.
    std::wstring loaderFile = std::wstring(L"Z:") + loader;
    for (wchar_t& unit : loaderFile) {
        if (unit == L'/')
            unit = L'\\';
    }
    std::wstring command =
        L"\"" + std::wstring(loader) + L"\" \"" + program + L"\" \"" + report + L"\" " + eventName + L" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    std::string bytes = "<no report>";
    if (CreateProcessW(loaderFile.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                       &process) &&
        WaitForSingleObject(done, 20000) == WAIT_OBJECT_0)
        bytes = readBytes(report);
    if (process.hThread != nullptr)
        CloseHandle(process.hThread);
    if (process.hProcess != nullptr)
        CloseHandle(process.hProcess);
    CloseHandle(done);
    DeleteFileW(report.c_str());
    return bytes;
}

struct LinkFields {
    HRESULT loaded = E_FAIL;
    std::wstring target;
    std::wstring arguments;
    std::wstring workingDirectory;
    std::wstring description;
    std::wstring iconPath;
    int iconIndex = -1;
    int showCmd = -1;
};

// Reads a shortcut file back through the shell's own link object.
inline LinkFields readLink(const std::wstring& linkPath)
{
    LinkFields fields;
    IShellLinkW* link = nullptr;
    fields.loaded = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                     reinterpret_cast<void**>(&link));
    if (FAILED(fields.loaded))
        return fields;
    IPersistFile* persist = nullptr;
    fields.loaded = link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&persist));
    if (SUCCEEDED(fields.loaded)) {
        fields.loaded = persist->Load(linkPath.c_str(), STGM_READ);
        persist->Release();
    }
    if (SUCCEEDED(fields.loaded)) {
        wchar_t text[INFOTIPSIZE] = L"";
        link->GetPath(text, MAX_PATH, nullptr, SLGP_RAWPATH);
        fields.target = text;
        text[0] = L'\0';
        link->GetArguments(text, INFOTIPSIZE);
        fields.arguments = text;
        text[0] = L'\0';
        link->GetWorkingDirectory(text, MAX_PATH);
        fields.workingDirectory = text;
        text[0] = L'\0';
        link->GetDescription(text, INFOTIPSIZE);
        fields.description = text;
        text[0] = L'\0';
        link->GetIconLocation(text, MAX_PATH, &fields.iconIndex);
        fields.iconPath = text;
    }
    link->Release();
    // Wine's link object loads every show command as SW_SHOWNORMAL; the file
    // header holds the stored one at offset 0x3C.
    const std::string header = readBytes(linkPath);
    if (header.size() >= 0x40)
        fields.showCmd = static_cast<unsigned char>(header[0x3C]) | static_cast<unsigned char>(header[0x3D]) << 8;
    return fields;
}

} // namespace unit
