// Marking many files of one type with a warm extraction cache, under the real Win32 layer:
// files per second for N and 4N files (linear work gives a time ratio of about 4), and the
// ratio to a floor that only writes the same two streams and one journal line per file.
//
//   marking_bench <Main.icl> [N]     (N defaults to 1000)
#include "imaging/IconLibrary.h"  // before windows.h and its RGB macros

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/common/FileHelpers.h"
#include "app/engine/MarkerStreams.h"
#include "app/engine/VantrelClass.h"
#include "app/registration/RegisterIconHandlerUnit.h"

using namespace vantrel;

namespace {

double Now() {
    LARGE_INTEGER f, c;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&c);
    return double(c.QuadPart) / double(f.QuadPart);
}

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

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        std::fputs("usage: marking_bench <Main.icl> [N]\n", stderr);
        return 2;
    }
    const std::wstring library = argv[1];
    const int n = argc > 2 ? _wtoi(argv[2]) : 1000;
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

    // Warm the cache and keep one result for the floor.
    auto warm = MakeFiles(root + L"\\warm", 1);
    core.FileList = warm;
    core.ApplyOverlay(library, 6);
    auto icon = ReadFileBytes(IconStreamPath(warm[0]));
    auto info = ReadFileBytes(InfoStreamPath(warm[0]));

    double times[2], floors[2];
    for (int k = 0; k < 2; ++k) {
        const int count = k == 0 ? n : 4 * n;
        auto files = MakeFiles(root + L"\\run" + std::to_wstring(k), count);
        core.FileList = files;
        const double start = Now();
        core.ApplyOverlay(library, 6);
        times[k] = Now() - start;
        if (core.HasErrors) {
            std::fputs("marking reported errors\n", stderr);
            return 1;
        }
        auto floorFiles = MakeFiles(root + L"\\floor" + std::to_wstring(k), count);
        floors[k] = Floor(floorFiles, std::string(icon.begin(), icon.end()), std::string(info.begin(), info.end()),
                          root + L"\\floor-journal" + std::to_wstring(k) + L".dat");
        std::printf("%5d files: marking %.2f s (%.0f files/s), floor %.2f s (%.0f files/s), marking/floor %.1fx\n",
                    count, times[k], count / times[k], floors[k], count / floors[k], times[k] / floors[k]);
    }
    std::printf("time for %d files / time for %d files: %.2f (linear: about 4)\n", 4 * n, n, times[1] / times[0]);

    TVantrel::DoneCore();
    for (const wchar_t* k : {L"Software\\Classes\\.vtbench", L"Software\\Classes\\vtbenchfile"})
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, k), RegDeleteKeyW(HKEY_LOCAL_MACHINE, k);
    DeleteFolderTree(root);
    return 0;
}
