// setup_support_consumer.exe RESULTS ROOT [--refuse-allocations]
//
// A windowless setup tool that uses a few of setup_support's calls and writes
// what they answered to the file RESULTS, one "name=value" line each (UTF-8);
// it shows nothing. ROOT is an installation root, whose
// commonfiles\Language\languagesettings.txt may name the language.
//
// With --refuse-allocations it also shows that the tool's own allocator
// (counting_allocator.cpp) serves the library, and that a std::bad_alloc it
// throws inside a library call comes back to the tool with nothing left
// allocated: each allocation of a getLanguageIndex call, then of an
// allocReleaseValue call, is refused in turn.
//
// Exit status: 0 when every result was written, 1 on a wrong command line, 2
// when RESULTS cannot be written, 3 when memory ran out outside the refusals.

#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <memory>
#include <new>
#include <string>

#include <setup_support/language.h>
#include <setup_support/release_identity.h>
#include <setup_support/release_info.h>
#include <setup_support/version.h>
#include <setup_support/wide_strings.h>

#include "counting_allocator.h"

#if SETUP_SUPPORT_VERSION_MAJOR != 18
#error "this tool is written for setup_support 18"
#endif

namespace {

std::string toUtf8(const wchar_t* text)
{
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string bytes(size > 0 ? size - 1 : 0, '\0');
    if (size > 1)
        WideCharToMultiByte(CP_UTF8, 0, text, -1, &bytes[0], size, nullptr, nullptr);
    return bytes;
}

struct Results {
    std::FILE* file;

    void put(const char* name, const std::string& value) { std::fprintf(file, "%s=%s\n", name, value.c_str()); }
    void put(const char* name, long value) { put(name, std::to_string(value)); }
    void put(const char* name, const wchar_t* value) { put(name, toUtf8(value)); }
};

void reportCalls(Results& results, const wchar_t* root)
{
    results.put("version", SETUP_SUPPORT_VERSION);
    results.put("version_major", static_cast<long>(SETUP_SUPPORT_VERSION_MAJOR));

    // Buffer and capacity: the size query gives the count to allocate, the
    // fill call 0.
    const int releaseCodeSize = getReleaseCode(nullptr, 0);
    std::unique_ptr<wchar_t[]> releaseCode(new wchar_t[releaseCodeSize]);
    const int releaseCodeFill = getReleaseCode(releaseCode.get(), releaseCodeSize);
    results.put("release_code_size", static_cast<long>(releaseCodeSize));
    results.put("release_code_fill", static_cast<long>(releaseCodeFill));
    results.put("release_code", releaseCode.get());

    const LanguageIndex language = getLanguageIndex(0, root);
    results.put("language_index", static_cast<long>(language));
    // getLanguageCodeFor returns the needed length from both calls.
    const int codeSize = getLanguageCodeFor(language, nullptr, 0);
    std::unique_ptr<wchar_t[]> code(new wchar_t[codeSize > 0 ? codeSize : 1]());
    results.put("language_code_fill", static_cast<long>(getLanguageCodeFor(language, code.get(), codeSize)));
    results.put("language_code", code.get());

    // The library's strings are released with freeString.
    wchar_t* settings = joinStrings(3, root, nullptr, L"\\commonfiles\\Language");
    results.put("settings_folder", settings);
    freeString(&settings);
    results.put("settings_folder_after_free", settings == nullptr ? "null" : "kept");
}

// Calls whose every allocation is refused in turn.
struct RefusedCall {
    const char* name;
    void (*call)(const wchar_t* root);
};
const RefusedCall kRefusedCalls[] = {
    {"getLanguageIndex", [](const wchar_t* root) { getLanguageIndex(0, root); }},
    {"allocReleaseValue", [](const wchar_t*) {
         wchar_t* revision = allocReleaseValue(getShortcutRevision);
         freeString(&revision);
     }},
};

void reportRefusedAllocations(Results& results, const wchar_t* root)
{
    for (const RefusedCall& refusedCall : kRefusedCalls) {
        long refused = 0;
        long caught = 0;
        long leftAllocated = 0;
        for (long nth = 1;; ++nth) {
            const long before = countLiveBlocks();
            refuseAllocation(nth);
            bool thrown = false;
            try {
                refusedCall.call(root);
            } catch (const std::bad_alloc&) {
                thrown = true;
            }
            const bool reached = !isRefusalPending();
            refuseAllocation(0);
            // A call that no longer reaches the refusal has had each of its
            // allocations refused once.
            if (!reached)
                break;
            ++refused;
            if (thrown)
                ++caught;
            leftAllocated += countLiveBlocks() - before;
        }
        const std::string name = refusedCall.name;
        results.put((name + ".refused").c_str(), refused);
        results.put((name + ".bad_alloc_caught").c_str(), caught);
        results.put((name + ".blocks_left").c_str(), leftAllocated);
    }
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argv == nullptr || argc < 3)
        return 1;
    const std::wstring mode = argc > 3 ? argv[3] : L"";
    if (argc > 4 || (!mode.empty() && mode != L"--refuse-allocations"))
        return 1;
    std::FILE* file = _wfopen(argv[1], L"wb");
    if (file == nullptr)
        return 2;
    Results results{file};
    int status = 0;
    try {
        reportCalls(results, argv[2]);
        if (!mode.empty())
            reportRefusedAllocations(results, argv[2]);
    } catch (const std::bad_alloc&) {
        status = 3;
    }
    if (std::fclose(file) != 0)
        status = 2;
    LocalFree(argv);
    return status;
}
