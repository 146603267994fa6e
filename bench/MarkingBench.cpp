// Marking many files of one type with a warm extraction cache, under the real Win32 layer:
// files per second for N and 4N files (linear work gives a time ratio of about 4), and the
// ratio to a floor measured in the same run. Marking (a marker, a colour, a marker over a
// colour) against a floor that only writes the same two streams and one journal line per
// file; removals (marker, colour, everything) and the rollback of the whole journal
// against a floor that deletes the two streams per file and rewrites the journal once.
//
//   marking_bench <Main.icl> [N [case ...]]     (N defaults to 1000; cases by name, "-" for a space)
//   marking_bench <Main.icl> --profile [N]
//     where one marked file's time goes: the steps of marking, each timed over N files
#include "imaging/IconLibrary.h"  // before windows.h and its RGB macros

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "app/common/FileHelpers.h"
#include "bench/BenchClock.h"
#include "app/engine/ChangeJournal.h"
#include "app/engine/MarkerStreams.h"
#include "app/engine/MarkingRun.h"
#include "app/engine/VantrelClass.h"
#include "app/window/kvProgress.h"
#include "app/registration/RegisterIconHandlerUnit.h"

using namespace vantrel;

namespace {

using bench::Now;

void SetDefault(const std::wstring& key, const std::wstring& value) {
    RegSetKeyValueW(HKEY_LOCAL_MACHINE, key.c_str(), nullptr, REG_SZ, value.c_str(),
                    DWORD((value.size() + 1) * sizeof(wchar_t)));
}

// The files go into folders of 100, as documents usually lie: Wine looks a name up by
// scanning its folder, so one folder of thousands of files (and their stream files)
// would measure that scan rather than the marking.
std::vector<std::wstring> MakeFiles(const std::wstring& folder, int count) {
    std::vector<std::wstring> files;
    for (int i = 0; i < count; ++i) {
        const std::wstring sub = folder + L"\\" + std::to_wstring(i / 100);
        if (i % 100 == 0) ForceFolder(sub);
        files.push_back(sub + L"\\doc" + std::to_wstring(i) + L".vtbench");
        WriteFileBytes(files.back(), "text", 4);
    }
    return files;
}

// The floor: the same two streams and one journal line per file, nothing else.
double Floor(const std::vector<std::wstring>& files, const std::string& icon, const std::string& info,
             const std::wstring& journal) {
    const double start = Now();
    HANDLE j = CreateFileW(journal.c_str(), FILE_APPEND_DATA, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
    for (const std::wstring& file : files) {
        WriteFileBytes(IconStreamPath(file), icon.data(), icon.size());
        WriteFileBytes(InfoStreamPath(file), info.data(), info.size());
        std::string line(file.begin(), file.end());
        line += "\r\n";
        DWORD put = 0;
        WriteFile(j, line.data(), DWORD(line.size()), &put, nullptr);
    }
    CloseHandle(j);
    return Now() - start;
}

// Each step of marking one file, run over every file in turn and timed on its own: the
// checks, the info stream, the type's icon location, the icon stream, the journal and the
// message pump. What an operation works out once for all its files (type and volume
// facts, extraction, tint, composition, encoding) is timed once, as "shared work".
void Profile(TVantrel& core, const std::vector<std::wstring>& files, const std::wstring& library, int index) {
    struct Step {
        const char* name;
        double seconds = 0;
    };
    std::vector<Step> steps;
    auto timed = [&](const char* name, auto body) {
        const double start = Now();
        for (const std::wstring& file : files) body(file);
        steps.push_back({name, Now() - start});
    };
    timed("checks: file exists", [&](const std::wstring& f) { (void)FileExists(f); });
    timed("checks: write probe", [&](const std::wstring& f) {
        std::wstring e;
        (void)CanWriteStreams(f, e);
    });
    // Outside an operation nothing is shared: every file asks again for its type's and its
    // drive's facts, which an operation asks once.
    timed("checks: all, facts asked anew", [&](const std::wstring& f) { (void)core.CheckCanCustomize(f); });
    timed("info stream", [&](const std::wstring& f) {
        OpenInfoStream(f).Edit([&](IniText& info) {
            info.Write(kInfoSection, kOverlayIconFileKey, library);
            info.Write(kInfoSection, kOverlayIconIndexKey, std::to_wstring(index));
            return TIniFile::IntegerValue(info, kInfoSection, kColorKey, kNoColor) != 1;
        });
    });
    TMarkingRun run;
    TIconPathRec location;
    timed("type icon location", [&](const std::wstring& f) { location = run.TypeIconLocation(f); });
    const double start = Now();
    const TMarkingRun::Icon& icon = run.Composed(L"x", *run.Extracted(location.Path, location.Index), *run.Extracted(library, index));
    const double shared = Now() - start;
    timed("icon stream", [&](const std::wstring& f) { WriteFileBytes(IconStreamPath(f), icon.data(), icon.size()); });
    timed("journal", [&](const std::wstring& f) { JournalAdd(f); });
    timed("message pump", [&](const std::wstring&) { ProcessPendingMessages(); });
    // The steps of removing, on the files just given their streams.
    timed("removal: icon stream present", [&](const std::wstring& f) { (void)HasIconStream(f); });
    timed("removal: info stream read", [&](const std::wstring& f) {
        (void)OpenInfoStream(f).ReadInteger(kInfoSection, kColorKey, kNoColor);
    });
    timed("removal: delete both streams", [&](const std::wstring& f) {
        DeleteFileW(IconStreamPath(f).c_str());
        DeleteFileW(InfoStreamPath(f).c_str());
    });
    std::printf("%d files, milliseconds per file:\n", int(files.size()));
    for (const Step& s : steps) std::printf("  %-28s %7.3f\n", s.name, 1000.0 * s.seconds / double(files.size()));
    std::printf("  %-28s %7.3f (once per operation)\n", "shared work", 1000.0 * shared);
}

// Files carrying the two streams and listed in a journal of their own, for the removal floor.
std::vector<std::wstring> MakeMarkedFiles(const std::wstring& folder, int count, const std::string& icon,
                                          const std::string& info, const std::wstring& journal) {
    std::vector<std::wstring> files = MakeFiles(folder, count);
    std::string lines;
    for (const std::wstring& file : files) {
        WriteFileBytes(IconStreamPath(file), icon.data(), icon.size());
        WriteFileBytes(InfoStreamPath(file), info.data(), info.size());
        lines += std::string(file.begin(), file.end()) + "\r\n";
    }
    WriteFileBytes(journal, lines.data(), lines.size());
    return files;
}

// The removal floor: both streams deleted per file, the journal rewritten once without them.
double RemovalFloor(const std::vector<std::wstring>& files, const std::wstring& journal) {
    const double start = Now();
    for (const std::wstring& file : files) {
        DeleteFileW(IconStreamPath(file).c_str());
        DeleteFileW(InfoStreamPath(file).c_str());
    }
    auto bytes = ReadFileBytes(journal);
    WriteFileBytes(journal, bytes.data(), 0);
    return Now() - start;
}

std::string Text(const std::vector<unsigned char>& bytes) { return std::string(bytes.begin(), bytes.end()); }

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        std::fputs("usage: marking_bench <Main.icl> [N]\n", stderr);
        return 2;
    }
    const std::wstring library = argv[1];
    const bool profile = argc > 2 && std::wstring(argv[2]) == L"--profile";
    const int nArg = profile ? 3 : 2;
    const int n = argc > nArg ? _wtoi(argv[nArg]) : 1000;
    wchar_t tempBuf[MAX_PATH];
    GetTempPathW(MAX_PATH, tempBuf);
    const std::wstring root = std::wstring(tempBuf) + L"vantrel-bench-" + std::to_wstring(GetCurrentProcessId());
    ForceFolder(root + L"\\appdata");
    SetEnvironmentVariableW(L"AppData", (root + L"\\appdata").c_str());
    TVantrel::InitCore();
    TVantrel& core = TVantrel::Core();

    // A document type whose icon is a real icon group of shell32.dll, already ours.
    const std::wstring shell32 = GetEnvVar(L"SystemRoot") + L"\\system32\\shell32.dll";
    SetDefault(L"Software\\Classes\\.vtbench", L"vtbenchfile");
    SetDefault(L"Software\\Classes\\vtbenchfile", L"Benchmark document");
    SetDefault(L"Software\\Classes\\vtbenchfile\\DefaultIcon", shell32 + L",3");
    SetDefault(L"Software\\Classes\\vtbenchfile\\ShellEx\\IconHandler", ShellExtensionCLSID);

    // Warm the extraction cache and the file system.
    core.FileList = MakeFiles(root + L"\\warm", 200);
    core.ApplyOverlay(library, 6);
    core.RestoreDefault();

    if (profile) {
        Profile(core, MakeFiles(root + L"\\profile", n), library, 6);
        core.FileList = MakeFiles(root + L"\\profile-run", n);
        const double start = Now();
        core.ApplyOverlay(library, 6);
        std::printf("  %-28s %7.3f\n", "whole marking", 1000.0 * (Now() - start) / n);
    }

    // Each case: the files it starts from (made untimed), the timed operation, and
    // whether its floor writes or removes streams.
    struct Case {
        const char* name;
        std::function<void()> prepare, run;
        bool removal;
        bool settles;  // the preparation wrote streams the operation replaces or deletes
    };
    const int kRed = 3556862;
    const std::vector<Case> cases = {
        {"marker", [] {}, [&] { core.ApplyOverlay(library, 6); }, false, false},
        {"colour", [] {}, [&] { core.ApplyColor(kRed); }, false, false},
        {"marker over colour", [&] { core.ApplyColor(kRed); }, [&] { core.ApplyOverlay(library, 6); }, false, true},
        {"remove marker", [&] { core.ApplyOverlay(library, 6); }, [&] { core.RemoveOverlay(); }, true, true},
        {"remove colour", [&] { core.ApplyColor(kRed); }, [&] { core.RemoveColor(); }, true, true},
        {"restore default", [&] { core.ApplyColor(kRed), core.ApplyOverlay(library, 6); }, [&] { core.RestoreDefault(); }, true, true},
        {"rollback", [&] { core.ApplyOverlay(library, 6); }, [&] { JournalRollback(core.Progress()); }, true, true},
    };
    // Each figure is the best of a few rounds, operation and floor alike: other work on
    // the machine only ever adds time.
    //
    // In each round both file sets are made before anything is timed, the floor's first,
    // and the two are timed in turns first and second. Where Wine keeps streams as files of
    // a Linux file system, a stream whose data the system is still writing out makes its
    // deletion or replacement wait for that write (milliseconds instead of microseconds),
    // so after a preparation that wrote streams the round pauses until both sets are
    // written out, as files marked earlier would be: the figures then are the operation's,
    // not the preparation's.
    const int rounds = 3;
    int failures = 0;
    int folder = 0;
    auto runCase = [&](const Case& c, int count, double& best, double& bestFloor) {
        best = bestFloor = 1e30;
        // The streams one file ends with (a marking) or starts from (a removal).
        const std::wstring sampleBase = root + L"\\s" + std::to_wstring(folder++);
        core.FileList = MakeFiles(sampleBase, 1);
        c.prepare();
        if (!c.removal) c.run();
        const std::string icon = Text(ReadFileBytes(IconStreamPath(core.FileList[0])));
        const std::string info = Text(ReadFileBytes(InfoStreamPath(core.FileList[0])));
        core.RestoreDefault();
        DeleteFolderTree(sampleBase);

        for (int round = 0; round < rounds; ++round) {
            const std::wstring base = root + L"\\c" + std::to_wstring(folder++);
            const std::wstring journal = base + L"-journal.dat";
            const std::vector<std::wstring> floorFiles =
                c.removal ? MakeMarkedFiles(base + L"-floor", count, icon, info, journal) : MakeFiles(base + L"-floor", count);
            core.FileList = MakeFiles(base, count);
            c.prepare();
            if (c.settles) Sleep(1000 + count);
            auto timeOperation = [&] {
                const double start = Now();
                c.run();
                best = std::min(best, Now() - start);
                if (core.HasErrors) {
                    std::fprintf(stderr, "%s reported errors\n", c.name);
                    ++failures;
                }
            };
            auto timeFloor = [&] {
                bestFloor = std::min(bestFloor, c.removal ? RemovalFloor(floorFiles, journal)
                                                          : Floor(floorFiles, icon, info, journal));
            };
            if (round % 2 == 0) {
                timeOperation();
                timeFloor();
            } else {
                timeFloor();
                timeOperation();
            }
            // Leave the journal as short as before: the next round starts alike.
            if (!c.removal) core.RestoreDefault();
            DeleteFolderTree(base);
            DeleteFolderTree(base + L"-floor");
            DeleteFileW(journal.c_str());
        }
    };
    std::vector<std::string> only;  // the cases named after N, if any
    for (int i = nArg + 1; i < argc; ++i) {
        std::string name;
        for (const wchar_t* p = argv[i]; *p; ++p) name += *p == L'-' ? ' ' : char(*p);
        only.push_back(name);
    }
    for (const Case& c : cases) {
        if (profile) break;
        if (!only.empty() && std::find(only.begin(), only.end(), c.name) == only.end()) continue;
        double times[2];
        for (int k = 0; k < 2; ++k) {
            const int count = k == 0 ? n : 4 * n;
            double floor;
            runCase(c, count, times[k], floor);
            std::printf("%-18s %5d files: %.2f s (%4.0f files/s), floor %.2f s (%4.0f files/s), operation/floor %.1fx\n",
                        c.name, count, times[k], count / times[k], floor, count / floor, times[k] / floor);
            std::fflush(stdout);
        }
        std::printf("%-18s time for %d files / time for %d files: %.2f (linear: about 4)\n", c.name, 4 * n, n,
                    times[1] / times[0]);
    }

    TVantrel::DoneCore();
    for (const wchar_t* k : {L"Software\\Classes\\.vtbench", L"Software\\Classes\\vtbenchfile"})
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, k), RegDeleteKeyW(HKEY_LOCAL_MACHINE, k);
    DeleteFolderTree(root);
    return failures ? 1 : 0;
}
