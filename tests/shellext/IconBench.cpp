// Benchmark of the icon handler: GetIconLocation calls per second for a marked file
// (one stream open) and an unmarked one (a failed stream open and the DefaultIcon
// lookup), against a bare CreateFile/CloseHandle loop on the same stream as the floor.
// Not a test: run it under Wine with scripts/wine-run.sh.
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <cstdio>
#include <functional>
#include <string>

#include "Guids.h"
#include "ShlExtTestSupport.h"

using namespace shlexttest;

namespace {

IExtractIconW* Handler(IClassFactory* factory, const std::wstring& file) {
    IPersistFile* pf = nullptr;
    if (FAILED(factory->CreateInstance(nullptr, IID_IPersistFile, reinterpret_cast<void**>(&pf)))) return nullptr;
    pf->Load(file.c_str(), STGM_READ);
    IExtractIconW* ex = nullptr;
    pf->QueryInterface(IID_IExtractIconW, reinterpret_cast<void**>(&ex));
    pf->Release();
    return ex;
}

}  // namespace

int main() {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    IClassFactory* factory = StagedClassFactory(shlext::CLSID_SimpleShlExt);
    if (!factory) return 1;

    TempDir dir;
    const std::wstring marked = dir / L"marked.vtxbench", plain = dir / L"plain.vtxbench";
    WriteBytes(marked, "x");
    WriteBytes(marked + L":vantrelicon", "icon");
    WriteBytes(plain, "x");
    SetRegString(HKEY_CLASSES_ROOT, L".vtxbench", nullptr, L"Vantrel.BenchType", KEY_WOW64_64KEY);
    SetRegString(HKEY_CLASSES_ROOT, L"Vantrel.BenchType\\DefaultIcon", nullptr, L"C:\\types\\bench.dll,2",
                 KEY_WOW64_64KEY);

    const std::wstring stream = marked + L":vantrelicon";
    double floor = CallsPerSecond([&] {
        HANDLE h = CreateFileW(stream.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    });
    wchar_t buffer[MAX_PATH];
    int index = 0;
    UINT flags = 0;
    IExtractIconW* m = Handler(factory, marked);
    IExtractIconW* p = Handler(factory, plain);
    double markedRate = CallsPerSecond([&] { m->GetIconLocation(GIL_FORSHELL, buffer, MAX_PATH, &index, &flags); });
    double plainRate = CallsPerSecond([&] { p->GetIconLocation(GIL_FORSHELL, buffer, MAX_PATH, &index, &flags); });
    m->Release();
    p->Release();
    factory->Release();

    DeleteKeyTree(HKEY_CLASSES_ROOT, L".vtxbench", KEY_WOW64_64KEY);
    DeleteKeyTree(HKEY_CLASSES_ROOT, L"Vantrel.BenchType", KEY_WOW64_64KEY);

    std::printf("CreateFile/CloseHandle on the stream (floor): %10.0f calls/s\n", floor);
    std::printf("GetIconLocation, marked file:                 %10.0f calls/s  (%.2f x the floor's time)\n",
                markedRate, floor / markedRate);
    std::printf("GetIconLocation, unmarked file:               %10.0f calls/s  (%.2f x the floor's time)\n",
                plainRate, floor / plainRate);
    CoUninitialize();
    return 0;
}
