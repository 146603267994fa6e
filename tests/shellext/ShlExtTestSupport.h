// Helpers of the shell extension's tests: the staged DLL, throwaway folders and files,
// registry probes, STA threads and child processes.
#pragma once

#include <windows.h>
#include <shobjidl.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace shlexttest {

// Windows path of the staged program folder and of the shell extension in it.
std::wstring DistFolder();
std::wstring DllPath();
// A program built beside the test binary (the stand-in program, the DllInstall probe).
std::wstring SiblingExe(const wchar_t* name);

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::wstring& path() const { return path_; }
    std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }

private:
    std::wstring path_;
};

class ScopedEnv {
public:
    ScopedEnv(const wchar_t* name, const std::optional<std::wstring>& value);
    ~ScopedEnv();

private:
    std::wstring name_;
    std::optional<std::wstring> old_;
};

bool WriteBytes(const std::wstring& path, const std::string& bytes);
std::optional<std::string> ReadBytes(const std::wstring& path);
bool Exists(const std::wstring& path);

bool KeyExists(HKEY root, const std::wstring& key, REGSAM view = 0);
std::optional<std::wstring> RegString(HKEY root, const std::wstring& key, const wchar_t* value, REGSAM view = 0);
bool SetRegString(HKEY root, const std::wstring& key, const wchar_t* value, const std::wstring& data,
                  REGSAM view = 0);
void DeleteKeyTree(HKEY root, const std::wstring& key, REGSAM view = 0);

// Runs fn on a new single-threaded-apartment thread and waits for it; timers that the
// code under test starts die with the thread.
void RunOnStaThread(const std::function<void()>& fn);
// Processes this thread's messages for the given time.
void PumpMessages(DWORD ms);

// Runs a command line and answers its exit code (or ~0u on failure / timeout).
DWORD RunProcess(const std::wstring& commandLine, DWORD timeoutMs = 60000);

// Calls per second of fn, over about `ms` milliseconds (for the benchmarks).
double CallsPerSecond(const std::function<void()>& fn, DWORD ms = 1500);

// The class object of the staged DLL, loaded as the shell loads it (LoadLibrary and
// DllGetClassObject; the DLL stays loaded); null with a message on failure.
IClassFactory* StagedClassFactory(REFCLSID clsid);

// A shell item array of the paths, as Explorer hands a selection over; null on failure.
IShellItemArray* ItemArray(const std::vector<std::wstring>& paths);

std::string Utf8(const std::wstring& text);
std::wstring GuidText(const GUID& guid);

}  // namespace shlexttest
