#include "app/window/SystemReport.h"

#include <algorithm>
#include <iterator>
#include <vector>

#include "app/common/TextFormat.h"
#include "app/window/DialogSupport.h"

namespace vantrel {

namespace {

const std::size_t kLabelWidth = 20;  // indent and label; the value follows " : "
const wchar_t kUnknown[] = L"unknown";

std::wstring KnownOr(const std::optional<std::wstring>& text) {
    if (!text) return kUnknown;
    std::wstring trimmed = TrimBlanks(*text);
    return trimmed.empty() ? std::wstring(kUnknown) : trimmed;
}

std::wstring Megabytes(unsigned long long bytes) { return std::to_wstring(bytes / (1024 * 1024)) + L" MB"; }

std::wstring Extent(const RECT& rc) {
    return std::to_wstring(rc.right - rc.left) + L" x " + std::to_wstring(rc.bottom - rc.top) + L" at " +
           std::to_wstring(rc.left) + L", " + std::to_wstring(rc.top);
}

// --- Windows -----------------------------------------------------------------

using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOEXW*);

// RtlGetVersion tells the truth where GetVersionEx answers what the manifest allows.
std::wstring WindowsVersion() {
    const auto rtlGetVersion = SystemFunction<RtlGetVersionFn>(L"ntdll.dll", "RtlGetVersion");
    OSVERSIONINFOEXW info{};
    info.dwOSVersionInfoSize = sizeof(info);
    if (!rtlGetVersion || rtlGetVersion(&info) != 0) return kUnknown;
    std::wstring text = std::to_wstring(info.dwMajorVersion) + L"." + std::to_wstring(info.dwMinorVersion) +
                        L" build " + std::to_wstring(info.dwBuildNumber);
    const std::wstring servicePack(info.szCSDVersion, wcsnlen(info.szCSDVersion, std::size(info.szCSDVersion)));
    if (!TrimBlanks(servicePack).empty()) text += L", " + TrimBlanks(servicePack);
    return text;
}

// --- processor -----------------------------------------------------------------

std::wstring ArchitectureName(WORD architecture) {
    switch (architecture) {
        case PROCESSOR_ARCHITECTURE_AMD64:
            return L"x64";
        case PROCESSOR_ARCHITECTURE_INTEL:
            return L"x86";
        case PROCESSOR_ARCHITECTURE_ARM64:
            return L"ARM64";
        case PROCESSOR_ARCHITECTURE_ARM:
            return L"ARM";
        case PROCESSOR_ARCHITECTURE_IA64:
            return L"Itanium";
    }
    return std::wstring(kUnknown) + L" (" + std::to_wstring(architecture) + L")";
}

// --- display -------------------------------------------------------------------

struct MonitorFacts {
    bool known = false;
    RECT area{};
    RECT work{};
    bool primary = false;
    std::wstring device;
    int bitsPerPixel = 0;
    int dpi = 0;
};

BOOL CALLBACK CollectMonitor(HMONITOR monitor, HDC, RECT*, LPARAM data) {
    auto* monitors = reinterpret_cast<std::vector<std::pair<HMONITOR, MonitorFacts>>*>(data);
    MONITORINFOEXW info{};
    info.cbSize = sizeof(info);
    MonitorFacts facts;
    if (GetMonitorInfoW(monitor, &info)) {
        facts.known = true;
        facts.area = info.rcMonitor;
        facts.work = info.rcWork;
        facts.primary = (info.dwFlags & MONITORINFOF_PRIMARY) != 0;
        facts.device.assign(info.szDevice, wcsnlen(info.szDevice, std::size(info.szDevice)));
    }
    monitors->emplace_back(monitor, facts);
    return TRUE;
}

using GetDpiForMonitorFn = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);

void ReadDeviceFacts(HMONITOR monitor, MonitorFacts& facts, GetDpiForMonitorFn getDpiForMonitor) {
    HDC dc = facts.device.empty() ? nullptr : CreateDCW(nullptr, facts.device.c_str(), nullptr, nullptr);
    const bool own = dc != nullptr;
    if (!dc) dc = GetDC(nullptr);
    if (dc) {
        facts.bitsPerPixel = GetDeviceCaps(dc, BITSPIXEL) * GetDeviceCaps(dc, PLANES);
        facts.dpi = GetDeviceCaps(dc, LOGPIXELSY);
        if (own)
            DeleteDC(dc);
        else
            ReleaseDC(nullptr, dc);
    }
    UINT dpiX = 0, dpiY = 0;
    if (getDpiForMonitor && SUCCEEDED(getDpiForMonitor(monitor, 0 /* effective DPI */, &dpiX, &dpiY)) && dpiY > 0)
        facts.dpi = static_cast<int>(dpiY);
}

void AppendDisplay(std::wstring& report) {
    std::vector<std::pair<HMONITOR, MonitorFacts>> monitors;
    EnumDisplayMonitors(nullptr, nullptr, CollectMonitor, reinterpret_cast<LPARAM>(&monitors));
    // GetDpiForMonitor lives in shcore.dll, which Windows before 8.1 lacks.
    HMODULE shcore = LoadLibraryExW(L"shcore.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    const auto getDpiForMonitor =
        shcore ? reinterpret_cast<GetDpiForMonitorFn>(
                     reinterpret_cast<void (*)()>(GetProcAddress(shcore, "GetDpiForMonitor")))
               : nullptr;

    report += L"Display\r\n";
    AppendReportField(report, 1, L"Monitors", monitors.empty() ? kUnknown : std::to_wstring(monitors.size()));
    int number = 0;
    for (auto& [monitor, facts] : monitors) {
        const std::wstring label = L"Monitor " + std::to_wstring(++number);
        if (!facts.known) {
            AppendReportField(report, 1, label, kUnknown);
            continue;
        }
        ReadDeviceFacts(monitor, facts, getDpiForMonitor);
        AppendReportField(report, 1, label, Extent(facts.area) + (facts.primary ? L", primary" : L""));
        AppendReportField(report, 2, L"Work area", Extent(facts.work));
        AppendReportField(report, 2, L"Colour depth",
                          facts.bitsPerPixel > 0 ? std::to_wstring(facts.bitsPerPixel) + L" bits per pixel" : kUnknown);
        AppendReportField(report, 2, L"DPI", facts.dpi > 0 ? std::to_wstring(facts.dpi) : kUnknown);
    }
    if (shcore) FreeLibrary(shcore);
}

}  // namespace

void AppendReportField(std::wstring& report, int level, const std::wstring& label, const std::wstring& value) {
    std::wstring line(static_cast<std::size_t>(2 * (std::max)(level, 0)), L' ');
    line += label;
    if (line.size() < kLabelWidth) line.resize(kLabelWidth, L' ');
    line += L" : ";
    const std::size_t column = line.size();
    report += line;
    // Each line of the value in the value column, whatever ends it.
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = value.find_first_of(L"\r\n", start);
        report.append(value, start, end == std::wstring::npos ? std::wstring::npos : end - start);
        report += L"\r\n";
        if (end == std::wstring::npos) break;
        start = end + ((value[end] == L'\r' && end + 1 < value.size() && value[end + 1] == L'\n') ? 2 : 1);
        if (start >= value.size()) break;
        report.append(column, L' ');
    }
}

std::optional<std::wstring> ReadRegistryText(HKEY root, const wchar_t* subKey, const wchar_t* value, REGSAM view) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, subKey, 0, KEY_QUERY_VALUE | view, &key) != ERROR_SUCCESS) return std::nullopt;
    std::optional<std::wstring> result;
    // The value may grow between the size query and the read: then ask again.
    for (int attempt = 0; attempt < 4; ++attempt) {
        DWORD type = 0, size = 0;
        if (RegQueryValueExW(key, value, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) break;
        if (type != REG_SZ && type != REG_EXPAND_SZ) break;
        // Whole characters for an odd byte count, and one more for an end the data may lack.
        std::wstring text(size / sizeof(wchar_t) + 2, L'\0');
        DWORD got = static_cast<DWORD>(text.size() * sizeof(wchar_t));
        const LONG rc = RegQueryValueExW(key, value, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &got);
        if (rc == ERROR_MORE_DATA) continue;
        if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) break;
        text.resize((std::min)(static_cast<std::size_t>(got / sizeof(wchar_t)), text.size()));
        text.resize(wcsnlen(text.c_str(), text.size()));
        result = std::move(text);
        break;
    }
    RegCloseKey(key);
    return result;
}

std::wstring SystemReportText() {
    std::wstring report;

    report += L"System\r\n";
    AppendReportField(report, 1, L"Windows",
                      KnownOr(ReadRegistryText(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion",
                                               L"ProductName", KEY_WOW64_64KEY)));
    AppendReportField(report, 1, L"Windows version", WindowsVersion());
    AppendReportField(report, 1, L"Process", sizeof(void*) == 8 ? L"64-bit" : L"32-bit");
    report += L"\r\n";

    SYSTEM_INFO system{};
    GetNativeSystemInfo(&system);
    report += L"Processor\r\n";
    AppendReportField(report, 1, L"Name",
                      KnownOr(ReadRegistryText(HKEY_LOCAL_MACHINE,
                                               L"HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0",
                                               L"ProcessorNameString", KEY_WOW64_64KEY)));
    AppendReportField(report, 1, L"Count",
                      system.dwNumberOfProcessors ? std::to_wstring(system.dwNumberOfProcessors) : kUnknown);
    AppendReportField(report, 1, L"Architecture", ArchitectureName(system.wProcessorArchitecture));
    report += L"\r\n";

    MEMORYSTATUSEX memory{};
    memory.dwLength = sizeof(memory);
    const bool memoryKnown = GlobalMemoryStatusEx(&memory) != FALSE;
    report += L"Memory\r\n";
    AppendReportField(report, 1, L"Physical total", memoryKnown ? Megabytes(memory.ullTotalPhys) : kUnknown);
    AppendReportField(report, 1, L"Physical available", memoryKnown ? Megabytes(memory.ullAvailPhys) : kUnknown);
    report += L"\r\n";

    AppendDisplay(report);
    return report;
}

}  // namespace vantrel
