// The program's diagnostic log "log.txt": one line per message whose level is enabled.
// No level is enabled unless the build sets VANTREL_LOG_LEVELS (a bit mask of levels 0-7),
// so by default nothing is written and the file is never created.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>

namespace vantrel {

enum LogLevel : int { LogError = 0, LogWorning = 1, LogInfo = 2 };

// Levels whose messages are written: bit n enables level n.
extern std::uint8_t LogLevels;

// Called with the text of every message that is written.
using LogHookProc = void (*)(const std::wstring& text);
extern LogHookProc LogHook;

void LogMessage(const std::wstring& text, const std::wstring& category, int level);

// One argument of LogFormat: a text or an integer.
class LogArg {
public:
    LogArg(const std::wstring& s) : text_(s), isText_(true) {}
    LogArg(const wchar_t* s) : text_(s ? s : L""), isText_(true) {}
    LogArg(long long v) : number_(v) {}
    LogArg(int v) : number_(v) {}
    LogArg(unsigned v) : number_(v) {}
    LogArg(long v) : number_(v) {}
    LogArg(unsigned long v) : number_(static_cast<long long>(v)) {}

    std::wstring AsText() const { return isText_ ? text_ : std::to_wstring(number_); }
    long long AsNumber() const { return number_; }
    bool IsText() const { return isText_; }

private:
    std::wstring text_;
    long long number_ = 0;
    bool isText_ = false;
};

// Formats "%s", "%d", "%u", "%x" and "%%" with the arguments in order.
std::wstring FormatText(const std::wstring& format, std::initializer_list<LogArg> args);

// Writes the formatted text only while the log is already open.
void LogFormat(const std::wstring& format, std::initializer_list<LogArg> args, int level, const std::wstring& category);

// Creates the file empty when starting anew or when it does not exist; otherwise
// appends, after one empty line that separates this run from the last.
void OpenLog(const std::wstring& fileName, bool startAnew);
void CloseLog();
bool LogIsOpen();

}  // namespace vantrel
