// Benchmark of the Windows 11 command's GetState, the call Explorer makes before it shows
// the menu: microseconds per call for 1 and 100 selected files, and for 100 items of
// which one is a folder (the item-by-item path). Not a test: run it under Wine with
// scripts/wine-run.sh.
#include <windows.h>
#include <objbase.h>
#include <shobjidl.h>

#include <cstdio>
#include <string>
#include <vector>

#include "Guids.h"
#include "ShlExtTestSupport.h"

using namespace shlexttest;

int main() {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    IClassFactory* factory = StagedClassFactory(shlext::CLSID_MarkFileCommand);
    IExplorerCommand* command = nullptr;
    if (!factory || FAILED(factory->CreateInstance(nullptr, IID_IExplorerCommand, reinterpret_cast<void**>(&command))))
        return 1;
    factory->Release();

    TempDir dir;
    std::vector<std::wstring> files;
    for (int i = 0; i < 100; ++i) {
        files.push_back(dir / (L"file" + std::to_wstring(i) + (i % 2 ? L".txt" : L".zip")));
        WriteBytes(files.back(), "x");
    }
    std::vector<std::wstring> withFolder(files.begin(), files.end() - 1);
    withFolder.push_back(dir / L"folder");
    CreateDirectoryW(withFolder.back().c_str(), nullptr);

    struct Case {
        const char* name;
        std::vector<std::wstring> items;
    };
    const Case cases[] = {{"1 file", {files[0]}}, {"100 files", files}, {"99 files and a folder", withFolder}};
    for (const Case& c : cases) {
        IShellItemArray* items = ItemArray(c.items);
        if (!items) return 1;
        EXPCMDSTATE state = 0;
        double rate = CallsPerSecond([&] { command->GetState(items, FALSE, &state); });
        std::printf("GetState, %-22s %10.1f us/call  (%s)\n", c.name, 1e6 / rate,
                    state == ECS_ENABLED ? "shown" : "hidden");
        items->Release();
    }
    command->Release();
    // The first shown state started the delayed "-ad" timer: the DLL stays loaded, and the
    // timer dies with the process.
    CoUninitialize();
    return 0;
}
