// bench_runner.exe <pairs> <bench folder> <dist folder> <build>
// Times one build's deliverables inside Wine against floors of our own of the
// same build, as a user's machine runs them: the desktop kept up by a
// window-owning helper, each figure timed in rounds with its baselines, in an
// order drawn at random for every round (so that no figure pays for the exit
// of the one before it more often than another), medians of the rounds'
// ratios with their spread (the middle half of the rounds: [lower quartile,
// upper quartile]).
// The bench folder holds bin\ (the bench programs) and the suites suite-1k,
// suite-1m, suite-1g and suite-1g-nokey, each with the programs four levels
// below its root (a\b\c\d).

#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <numeric>
#include <random>
#include <string>
#include <vector>

namespace {

std::wstring gBench;
std::wstring gDist;
std::wstring gWorkFloor;
std::mt19937 gOrder;

double nowMs()
{
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return 1000.0 * static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

HANDLE start(const std::wstring& commandLine)
{
    std::vector<wchar_t> writable(commandLine.begin(), commandLine.end());
    writable.push_back(L'\0');
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, writable.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        fwprintf(stderr, L"cannot start %ls (error %lu)\n", commandLine.c_str(), GetLastError());
        ExitProcess(1);
    }
    CloseHandle(process.hThread);
    return process.hProcess;
}

// Milliseconds from the start of the command line to the end of its process.
double timed(const std::wstring& commandLine)
{
    const double begin = nowMs();
    HANDLE process = start(commandLine);
    WaitForSingleObject(process, INFINITE);
    const double end = nowMs();
    CloseHandle(process);
    return end - begin;
}

// What Wine does after a run (its desktop answering the broadcasts, its file
// change notifications) settles before the next timed run.
const DWORD kSettleMs = 100;

void untimed(const std::wstring& commandLine)
{
    HANDLE process = start(commandLine);
    WaitForSingleObject(process, INFINITE);
    CloseHandle(process);
    Sleep(kSettleMs);
}

// The value below which `fraction` of the values lie (linear between ranks).
double quantile(std::vector<double> values, double fraction)
{
    std::sort(values.begin(), values.end());
    const double rank = fraction * static_cast<double>(values.size() - 1);
    const size_t below = static_cast<size_t>(rank);
    const size_t above = std::min(below + 1, values.size() - 1);
    return values[below] + (values[above] - values[below]) * (rank - static_cast<double>(below));
}

double median(const std::vector<double>& values)
{
    return quantile(values, 0.5);
}

// A ratio as the table shows it: median and the middle half of the rounds.
struct Spread {
    double median, lower, upper;
};

Spread spread(const std::vector<double>& values)
{
    return {quantile(values, 0.5), quantile(values, 0.25), quantile(values, 0.75)};
}

std::wstring quoted(const std::wstring& path)
{
    return L"\"" + path + L"\"";
}

std::wstring benchProgram(const wchar_t* name)
{
    return quoted(gBench + L"\\bin\\" + name);
}

std::wstring installer(const wchar_t* suite)
{
    return quoted(gBench + L"\\" + suite + L"\\a\\b\\c\\d\\shortcut_installer.exe") + L" -INSTALL";
}

std::wstring remover(const wchar_t* suite)
{
    return quoted(gBench + L"\\" + suite + L"\\a\\b\\c\\d\\shortcut_remover.exe");
}

// Takes away what the work floor made, so that each of its runs starts from
// nothing, as each install run does after a removal.
void clearWorkFloor()
{
    wchar_t programs[MAX_PATH + 1] = L"";
    SHGetSpecialFolderPathW(nullptr, programs, CSIDL_COMMON_PROGRAMS, FALSE);
    const std::wstring folder = std::wstring(programs) + L"\\NIMBA Bench Floor";
    for (const wchar_t* link : {L"\\Uninstall NIMBA 1.lnk", L"\\Utilities\\Product & CAD Configuration 1.lnk",
                                L"\\Utilities\\CAD Configuration Manager 1.lnk",
                                L"\\Utilities\\File Association 1.lnk"})
        DeleteFileW((folder + link).c_str());
    RemoveDirectoryW((folder + L"\\Utilities").c_str());
    RemoveDirectoryW(folder.c_str());
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control\\Session Manager\\Environment", 0,
                      KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
        for (const wchar_t* name : {L"NIMBA_BENCH_SYSDIR", L"NIMBA_BENCH_ROOT", L"NIMBA_BENCH_DIR"})
            RegDeleteValueW(key, name);
        RegCloseKey(key);
    }
    Sleep(kSettleMs);
}

// A baseline run: the work floor from a clean state, like the installer.
double timedBaseline(const std::wstring& commandLine)
{
    if (commandLine == gWorkFloor)
        clearWorkFloor();
    return timed(commandLine);
}

// A figure: its own times and, pair by pair, its ratio to each baseline.
struct Figure {
    std::vector<double> ms;
    std::vector<std::vector<double>> ratios;
};

// Runs `pairs` rounds of the measured command and its baselines, each round in
// an order of its own drawn at random; `between` runs untimed after each
// measured run.
Figure measure(int pairs, const std::wstring& measured, const std::vector<std::wstring>& baselines,
               std::vector<std::vector<double>>* baselineMs, const std::function<void()>& between = {})
{
    Figure figure;
    figure.ratios.resize(baselines.size());
    baselineMs->assign(baselines.size(), {});
    // 0 is the measured command, i + 1 baseline i.
    std::vector<size_t> order(baselines.size() + 1);
    for (int round = 0; round < pairs; ++round) {
        std::vector<double> base(baselines.size());
        double own = 0;
        std::iota(order.begin(), order.end(), size_t{0});
        std::shuffle(order.begin(), order.end(), gOrder);
        for (size_t each : order) {
            if (each == 0) {
                own = timed(measured);
                if (between)
                    between();
            } else {
                base[each - 1] = timedBaseline(baselines[each - 1]);
            }
        }
        figure.ms.push_back(own);
        for (size_t i = 0; i < baselines.size(); ++i) {
            (*baselineMs)[i].push_back(base[i]);
            figure.ratios[i].push_back(own / base[i]);
        }
    }
    return figure;
}

void row(const wchar_t* name, double ms, const wchar_t* baseline = nullptr, Spread ratio = {},
         const wchar_t* note = L"")
{
    if (baseline == nullptr)
        wprintf(L"%-44ls %9.1f\n", name, ms);
    else
        wprintf(L"%-44ls %9.1f   %-24ls %6.2fx [%.2f, %.2f]%ls\n", name, ms, baseline, ratio.median, ratio.lower,
                ratio.upper, note);
    fflush(stdout);
}

long long fileSize(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
        return -1;
    return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 5) {
        fwprintf(stderr, L"usage: bench_runner.exe <pairs> <bench folder> <dist folder> <build: x86 or x64>\n");
        return 2;
    }
    const int pairs = std::max(10, _wtoi(argv[1]));
    gBench = argv[2];
    gDist = argv[3];
    const std::wstring build = argv[4];
    const unsigned seed = std::random_device{}();
    gOrder.seed(seed);

    HANDLE keeper = start(benchProgram(L"desktop_keeper.exe"));
    for (int wait = 0; wait < 100 && FindWindowW(L"NimbaBenchDesktopKeeper", nullptr) == nullptr; ++wait)
        Sleep(50);

    const std::wstring empty = benchProgram(L"empty_program.exe");
    const std::wstring work = benchProgram(L"work_floor.exe") + L" " + quoted(gBench + L"\\suite-1k");
    gWorkFloor = work;
    // First runs fill caches that later runs find full.
    for (const std::wstring& warm : {empty, work, installer(L"suite-1k"), remover(L"suite-1k")})
        untimed(warm);

    wprintf(L"Cost of a run of the %ls build under Wine: medians of %d rounds in random order (seed %u),\n"
            L"ratios with [lower, upper quartile], the desktop kept up\n\n",
            build.c_str(), pairs, seed);
    wprintf(L"%-44ls %9ls   %-24ls %7ls\n", L"figure", L"ms", L"baseline", L"ratio");

    std::vector<std::vector<double>> floorMs;
    // Each install finds a clean machine, as the work floor does.
    Figure install = measure(pairs, installer(L"suite-1k"), {empty, work}, &floorMs,
                             [] { untimed(remover(L"suite-1k")); });
    const double emptyMs = median(floorMs[0]);
    const double workMs = median(floorMs[1]);
    std::vector<std::vector<double>> removalFloorMs;
    // Each removal finds an installation: the install before it is not timed.
    untimed(installer(L"suite-1k"));
    Figure removal = measure(pairs, remover(L"suite-1k"), {empty, work}, &removalFloorMs,
                             [] { untimed(installer(L"suite-1k")); });
    untimed(remover(L"suite-1k"));

    std::vector<double> workRatios;
    for (size_t i = 0; i < floorMs[0].size(); ++i)
        workRatios.push_back(floorMs[1][i] / floorMs[0][i]);
    row(L"empty program (the floor)", emptyMs);
    row(L"work floor (the same platform work)", workMs, L"empty program", spread(workRatios));
    const Spread installWork = spread(install.ratios[1]);
    const Spread installEmpty = spread(install.ratios[0]);
    row(L"installer -INSTALL", median(install.ms), L"work floor", installWork);
    row(L"", median(install.ms), L"empty program", installEmpty);
    row(L"remover (each after an install)", median(removal.ms), L"work floor", spread(removal.ratios[1]));
    row(L"", median(removal.ms), L"empty program", spread(removal.ratios[0]));

    wprintf(L"\n");
    const std::wstring base = installer(L"suite-1k");
    const struct {
        const wchar_t* suite;
        const wchar_t* name;
    } relinfoRows[] = {
        {L"suite-1m", L"installer, relinfo.xml 1 MB"},
        {L"suite-1g", L"installer, relinfo.xml 1 GiB, key at start"},
        {L"suite-1g-nokey", L"installer, relinfo.xml 1 GiB, no key"},
    };
    std::vector<std::vector<double>> oneKbMs;
    double largestRatio = 0;
    for (const auto& each : relinfoRows) {
        Figure figure = measure(pairs, installer(each.suite), {base}, &oneKbMs);
        untimed(remover(each.suite));
        untimed(remover(L"suite-1k"));
        const Spread ratio = spread(figure.ratios[0]);
        wchar_t note[64];
        swprintf(note, 64, L"   (1 KB: %.1f ms)", median(oneKbMs[0]));
        row(each.name, median(figure.ms), L"relinfo.xml 1 KB", ratio, note);
        if (wcsstr(each.name, L"key at start") != nullptr)
            largestRatio = ratio.median;
    }

    wprintf(L"\n");
    const double zeroHung = median(install.ms);
    row(L"installer, 0 hung windows", zeroHung);
    for (int windows : {1, 10}) {
        const std::wstring eventName = L"NimbaBenchHungReady" + std::to_wstring(windows);
        HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, eventName.c_str());
        HANDLE hung = start(benchProgram(L"hung_windows.exe") + L" " + std::to_wstring(windows) + L" " + eventName);
        WaitForSingleObject(ready, 10000);
        std::vector<std::vector<double>> ignored;
        Figure figure = measure(pairs, installer(L"suite-1k"), {empty}, &ignored,
                                [] { untimed(remover(L"suite-1k")); });
        TerminateProcess(hung, 0);
        WaitForSingleObject(hung, INFINITE);
        CloseHandle(hung);
        CloseHandle(ready);
        const double ms = median(figure.ms);
        wchar_t name[64];
        wchar_t note[64];
        swprintf(name, 64, L"installer, %d hung window%ls", windows, windows == 1 ? L"" : L"s");
        swprintf(note, 64, L"   (+%.0f ms)", ms - zeroHung);
        const Spread own = spread(figure.ms);
        row(name, ms, L"0 hung windows", {own.median / zeroHung, own.lower / zeroHung, own.upper / zeroHung}, note);
    }

    wprintf(L"\n");
    long long sizes[2][2];
    const wchar_t* arches[] = {L"x86", L"x64"};
    const wchar_t* programs[] = {L"shortcut_installer.exe", L"shortcut_remover.exe"};
    for (int a = 0; a < 2; ++a) {
        for (int p = 0; p < 2; ++p) {
            sizes[a][p] = fileSize(gDist + L"\\" + arches[a] + L"\\" + programs[p]);
            wprintf(L"size %ls %-39ls %9lld bytes (%.1f KiB)\n", a == 0 ? L"i686" : L"x64 ", programs[p],
                    sizes[a][p], static_cast<double>(sizes[a][p]) / 1024);
        }
    }

    wprintf(L"\n%ls: installer %.2fx work floor [%.2f, %.2f], %.1fx empty [%.1f, %.1f]; i686 %.0f KiB / %.0f KiB; "
            L"1 GiB relinfo %.1fx 1 KB\n",
            build.c_str(), installWork.median, installWork.lower, installWork.upper, installEmpty.median,
            installEmpty.lower, installEmpty.upper, static_cast<double>(sizes[0][0]) / 1024,
            static_cast<double>(sizes[0][1]) / 1024, largestRatio);

    TerminateProcess(keeper, 0);
    CloseHandle(keeper);
    return 0;
}
