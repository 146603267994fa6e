#pragma once
// How much longer a test waits for a window or a process than its stated time: the
// VANTREL_WAIT_SCALE of the test's environment (1 when unset), set where the programs
// under test run slower than natively (32-bit programs by emulation).
#include <windows.h>

#include <cwchar>

namespace vantrel_test {

inline DWORD WaitScale() {
    static const DWORD scale = [] {
        wchar_t text[8] = {};
        const DWORD n = GetEnvironmentVariableW(L"VANTREL_WAIT_SCALE", text, 8);
        if (n == 0 || n >= 8) return DWORD{1};
        const unsigned long value = std::wcstoul(text, nullptr, 10);
        return value >= 1 && value <= 99 ? static_cast<DWORD>(value) : DWORD{1};
    }();
    return scale;
}

// A wait of ms milliseconds, lengthened by the scale (INFINITE stays INFINITE).
inline DWORD Scaled(DWORD ms) {
    if (ms == INFINITE) return ms;
    const unsigned long long scaled = static_cast<unsigned long long>(ms) * WaitScale();
    return scaled >= INFINITE ? INFINITE - 1 : static_cast<DWORD>(scaled);
}

}  // namespace vantrel_test
