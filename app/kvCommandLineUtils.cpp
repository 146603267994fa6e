#include "app/kvCommandLineUtils.h"

#include <windows.h>
#include <shellapi.h>

#include "app/common/TextFormat.h"

namespace vantrel {

std::vector<std::wstring> PlatformArguments() {
    std::vector<std::wstring> args;
    int count = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!argv) return args;
    for (int i = 0; i < count; ++i) args.emplace_back(argv[i]);
    LocalFree(argv);
    return args;
}

namespace {
ArgumentSource g_source = &PlatformArguments;
}

void SetArgumentSource(ArgumentSource source) { g_source = source ? source : &PlatformArguments; }

int ParamCount() {
    auto args = g_source();
    return args.empty() ? 0 : static_cast<int>(args.size()) - 1;
}

std::wstring ParamStr(int index) {
    auto args = g_source();
    if (index < 0 || static_cast<std::size_t>(index) >= args.size()) return {};
    return args[static_cast<std::size_t>(index)];
}

bool FindSwitch(const std::wstring& switchText) {
    auto args = g_source();
    for (std::size_t i = 1; i < args.size(); ++i)
        if (SameTextAscii(args[i], switchText)) return true;
    return false;
}

}  // namespace vantrel
