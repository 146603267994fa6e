#include "registrator/WindowsPackageHost.h"

#include <string>

namespace vantrel::registrator {

namespace {

struct THandle {
    HANDLE Value = nullptr;
    THandle() = default;
    THandle(const THandle&) = delete;
    THandle& operator=(const THandle&) = delete;
    ~THandle() { Close(); }
    void Close() {
        if (Value && Value != INVALID_HANDLE_VALUE) CloseHandle(Value);
        Value = nullptr;
    }
};

// More than any answer of ours; the rest of a runaway output is dropped.
constexpr size_t kMaxOutput = 256 * 1024;

std::wstring FromUtf8(const std::string& bytes) {
    if (bytes.empty()) return L"";
    int length = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring text(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), text.data(), length);
    return text;
}

// Appends what the pipe holds now; false once every writer has closed it.
bool Drain(HANDLE pipe, std::string& output) {
    for (;;) {
        DWORD available = 0;
        if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr)) return false;
        if (available == 0) return true;
        char chunk[4096];
        DWORD read = 0;
        if (!ReadFile(pipe, chunk, sizeof(chunk) < available ? sizeof(chunk) : available, &read, nullptr)) return false;
        if (output.size() < kMaxOutput) output.append(chunk, read);
    }
}

}  // namespace

DWORD TWindowsPackageHost::WindowsBuild() {
    using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
    auto rtlGetVersion = reinterpret_cast<RtlGetVersionFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion")));
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof(info);
    if (!rtlGetVersion || rtlGetVersion(&info) != 0) return 0;
    return info.dwBuildNumber;
}

std::wstring TWindowsPackageHost::NativeSystemFolder() {
    wchar_t windows[MAX_PATH] = {};
    UINT length = GetSystemWindowsDirectoryW(windows, MAX_PATH);
    std::wstring folder = length > 0 && length < MAX_PATH ? std::wstring(windows, length) : L"C:\\Windows";
#ifndef _WIN64
    BOOL wow64 = FALSE;
    if (IsWow64Process(GetCurrentProcess(), &wow64) && wow64) return folder + L"\\Sysnative";
#endif
    return folder + L"\\System32";
}

DWORD TWindowsPackageHost::FileAttributes(const std::wstring& path) { return GetFileAttributesW(path.c_str()); }

ProcessOutcome TWindowsPackageHost::Run(const std::wstring& program, const std::wstring& commandLine) {
    ProcessOutcome outcome;
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    THandle readEnd, writeEnd, input;
    if (!CreatePipe(&readEnd.Value, &writeEnd.Value, &inherit, 0) ||
        !SetHandleInformation(readEnd.Value, HANDLE_FLAG_INHERIT, 0)) {
        outcome.StartError = GetLastError();
        return outcome;
    }
    input.Value = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input.Value;
    startup.hStdOutput = writeEnd.Value;
    startup.hStdError = writeEnd.Value;
    PROCESS_INFORMATION process{};
    std::wstring mutableLine = commandLine;
    if (!CreateProcessW(program.c_str(), mutableLine.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr,
                        &startup, &process)) {
        outcome.StartError = GetLastError();
        return outcome;
    }
    THandle processHandle, threadHandle;
    processHandle.Value = process.hProcess;
    threadHandle.Value = process.hThread;
    writeEnd.Close();  // the child's copy is the only writer now

    std::string output;
    const DWORD start = GetTickCount();
    for (;;) {
        const bool open = Drain(readEnd.Value, output);
        if (WaitForSingleObject(process.hProcess, open ? 20 : 200) == WAIT_OBJECT_0) {
            Drain(readEnd.Value, output);
            break;
        }
        if (GetTickCount() - start > timeoutMs_) {
            TerminateProcess(process.hProcess, ERROR_TIMEOUT);
            WaitForSingleObject(process.hProcess, 5000);
            outcome.TimedOut = true;
            break;
        }
    }
    GetExitCodeProcess(process.hProcess, &outcome.ExitCode);
    outcome.Output = FromUtf8(output);
    return outcome;
}

}  // namespace vantrel::registrator
