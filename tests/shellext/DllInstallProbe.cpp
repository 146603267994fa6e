// Calls DllInstall of a DLL in a fresh process, whose per-user switch lasts for that
// process only. Usage: dllinstall_probe <dll> <0|1> [text | -null]; exit code: the HRESULT.
#include <windows.h>

#include <cstdlib>
#include <cwchar>

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) return 1;
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    HMODULE dll = LoadLibraryW(argv[1]);
    if (!dll) return 2;
    using Fn = HRESULT(STDAPICALLTYPE*)(BOOL, LPCWSTR);
    auto install = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(dll, "DllInstall")));
    if (!install) return 3;
    const wchar_t* text = argc > 3 ? argv[3] : L"";
    if (argc > 3 && wcscmp(argv[3], L"-null") == 0) text = nullptr;
    HRESULT hr = install(_wtoi(argv[2]) != 0, text);
    FreeLibrary(dll);
    CoUninitialize();
    return static_cast<int>(hr);
}
