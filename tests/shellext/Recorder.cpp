// Stand-in for the desktop program: appends its arguments (the command line after the
// program name, as received) as one UTF-8 line to the file named by VANTREL_RECORD.
#include <windows.h>

#include <string>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR args, int) {
    wchar_t record[MAX_PATH * 4];
    DWORD n = GetEnvironmentVariableW(L"VANTREL_RECORD", record, MAX_PATH * 4);
    if (n == 0 || n >= MAX_PATH * 4) return 2;
    std::wstring line = args ? args : L"";
    int len = WideCharToMultiByte(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(len), '\0');
    WideCharToMultiByte(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), bytes.data(), len, nullptr, nullptr);
    bytes += '\n';
    // Several starts may append at once: retry while another one holds the file.
    for (int attempt = 0; attempt < 200; ++attempt) {
        HANDLE h = CreateFileW(record, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                               nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            DWORD written = 0;
            WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
            CloseHandle(h);
            return 0;
        }
        Sleep(25);
    }
    return 1;
}
