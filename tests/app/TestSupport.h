// Helpers shared by the program's tests: throwaway folders, environment overrides,
// registry reads, and a small driver for real windows (find, read, press).
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

// A fresh folder under %TEMP%, deleted with everything in it at the end of the scope.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::wstring& path() const { return path_; }
    std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }

private:
    std::wstring path_;
};

// Sets an environment variable for the scope and restores the old value.
class ScopedEnv {
public:
    ScopedEnv(const std::wstring& name, const std::optional<std::wstring>& value);
    ~ScopedEnv();

private:
    std::wstring name_;
    std::optional<std::wstring> old_;
};

void WriteFile(const std::wstring& path, const std::string& bytes);
std::optional<std::string> ReadFile(const std::wstring& path);
bool Exists(const std::wstring& path);

std::optional<std::wstring> ReadRegString(HKEY root, const std::wstring& key, const std::wstring& value);
void DeleteRegTree(HKEY root, const std::wstring& key);

// Creates a shell link at linkPath that points to target.
bool CreateShortcut(const std::wstring& linkPath, const std::wstring& target);

// --- windows -------------------------------------------------------------------
std::wstring WindowText(HWND hwnd);
std::wstring ClassName(HWND hwnd);
// Polls until a visible top-level window matching the predicate exists; nullptr on timeout.
HWND WaitForTopWindow(const std::function<bool(HWND)>& match, DWORD timeoutMs = 15000);
// The same among one process's windows only.
HWND WaitForWindowOf(DWORD pid, const std::function<bool(HWND)>& match, DWORD timeoutMs = 15000);
// Among this process's own windows: another test program running at the same time may
// show windows of the same classes.
HWND WaitForOwnWindow(const std::function<bool(HWND)>& match, DWORD timeoutMs = 15000);
// This process's top-level window of the class (visible or not); nullptr when none.
HWND FindOwnWindow(const wchar_t* className);
// Handles the messages waiting for this thread.
void Pump();
// Answers this process's next message box titled "Vantrel" with a button, from another
// thread; text (when given) receives the box's message.
std::thread AnswerBox(int button, std::wstring* text);
// Visible top-level windows of a process.
std::vector<HWND> ProcessWindows(DWORD pid);
// The text of every child window, in z order.
std::vector<std::wstring> ChildTexts(HWND hwnd);
// Presses the child button with the given identifier.
void PressButton(HWND dialog, int id);
// Types a key through the system's input, optionally with a modifier (VK_CONTROL,
// VK_SHIFT) held: it reaches the foreground window's focused control.
void PressKey(WORD key, WORD modifier = 0);
// The focused window of the thread that owns the window.
HWND FocusOfThread(HWND window);
// Polls until the condition holds; false on timeout.
bool WaitFor(const std::function<bool()>& condition, DWORD timeoutMs = 5000);
// The clipboard's Unicode text; empty when it has none.
std::wstring ReadClipboardText();

// Starts a program with the arguments, each quoted; false when it cannot be started.
bool StartProcess(const std::wstring& exe, const std::vector<std::wstring>& args, PROCESS_INFORMATION& pi);

// --- the real program ----------------------------------------------------------
// Windows path of the staged program folder (the build's dist/).
std::wstring DistFolder();

struct Run {
    PROCESS_INFORMATION pi{};
    ~Run();
    DWORD Wait(DWORD timeoutMs = 60000);  // exit code, or STILL_ACTIVE on timeout (process killed)
};

// Starts dist\Vantrel.exe with the arguments (each quoted) and AppData pointed at appData.
std::unique_ptr<Run> StartProgram(const std::vector<std::wstring>& args, const std::wstring& appData);

}  // namespace testsupport
