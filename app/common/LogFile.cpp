#include "app/common/LogFile.h"

#include <windows.h>

#include "app/common/TextConv.h"

#ifndef VANTREL_LOG_LEVELS
#define VANTREL_LOG_LEVELS 0
#endif

namespace vantrel {

std::uint8_t LogLevels = static_cast<std::uint8_t>(VANTREL_LOG_LEVELS);
LogHookProc LogHook = nullptr;

namespace {

HANDLE g_log = INVALID_HANDLE_VALUE;
bool g_open = false;

const wchar_t* LevelName(int level) {
    switch (level) {
        case LogError: return L"Error";
        case LogWorning: return L"Worning";
        case LogInfo: return L"Info";
        default: return L"";
    }
}

bool WriteRaw(const std::string& bytes) {
    DWORD put = 0;
    return WriteFile(g_log, bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr) && put == bytes.size();
}

std::wstring TimeStamp() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    wchar_t date[128] = L"", time[128] = L"";
    GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &now, nullptr, date, 128);
    GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &now, nullptr, time, 128);
    return std::wstring(date) + L" " + time;
}

}  // namespace

void OpenLog(const std::wstring& fileName, bool startAnew) {
    CloseLog();
    const bool exists = GetFileAttributesW(fileName.c_str()) != INVALID_FILE_ATTRIBUTES;
    if (startAnew || !exists) {
        g_log = CreateFileW(fileName.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
        if (g_log == INVALID_HANDLE_VALUE) return;
    } else {
        g_log = CreateFileW(fileName.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
        if (g_log == INVALID_HANDLE_VALUE) return;
        WriteRaw("\r\n");
    }
    g_open = true;
}

void CloseLog() {
    if (g_log != INVALID_HANDLE_VALUE) CloseHandle(g_log);
    g_log = INVALID_HANDLE_VALUE;
    g_open = false;
}

bool LogIsOpen() { return g_open; }

void LogMessage(const std::wstring& text, const std::wstring& category, int level) {
    if (level < 0 || level > 7 || !(LogLevels & (1u << level))) return;
    try {
        if (!g_open) OpenLog(L"log.txt", false);
        if (g_open) {
            std::wstring line = TimeStamp() + L";" + category + L";" + LevelName(level) + L";" + text + L"\r\n";
            WriteRaw(WideToAnsi(line));
        }
    } catch (...) {
    }
    if (LogHook) {
        try {
            LogHook(text);
        } catch (...) {
        }
    }
}

std::wstring FormatText(const std::wstring& format, std::initializer_list<LogArg> args) {
    std::wstring out;
    auto next = args.begin();
    for (std::size_t i = 0; i < format.size(); ++i) {
        wchar_t c = format[i];
        if (c != L'%' || i + 1 >= format.size()) {
            out += c;
            continue;
        }
        wchar_t spec = format[++i];
        if (spec == L'%') {
            out += L'%';
            continue;
        }
        if (next == args.end()) {
            out += L'%';
            out += spec;
            continue;
        }
        const LogArg& arg = *next++;
        switch (spec) {
            case L's': out += arg.AsText(); break;
            case L'd': out += arg.IsText() ? arg.AsText() : std::to_wstring(arg.AsNumber()); break;
            case L'u': out += arg.IsText() ? arg.AsText() : std::to_wstring(static_cast<unsigned long long>(arg.AsNumber())); break;
            case L'x': {
                if (arg.IsText()) {
                    out += arg.AsText();
                } else {
                    wchar_t buf[32];
                    swprintf(buf, 32, L"%llX", static_cast<unsigned long long>(arg.AsNumber()));
                    out += buf;
                }
                break;
            }
            default:
                out += L'%';
                out += spec;
                --next;
        }
    }
    return out;
}

void LogFormat(const std::wstring& format, std::initializer_list<LogArg> args, int level, const std::wstring& category) {
    if (!g_open) return;
    LogMessage(FormatText(format, args), category, level);
}

}  // namespace vantrel
