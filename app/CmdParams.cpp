#include "app/CmdParams.h"

#include "app/common/TextConv.h"
#include "app/common/TextFormat.h"
#include "app/engine/MarkingRecords.h"
#include "app/engine/VantrelClass.h"
#include "app/kvCommandLineUtils.h"
#include "imaging/Error.h"

namespace vantrel {

namespace {

int ArgumentToInt(const std::wstring& text) {
    auto value = ParseInteger(text);
    if (!value) throw Error(WideToUtf8(InvalidIntegerMessage(text)));
    return *value;
}

// Ends the engine's progress however the operation ends, and writes the marking records
// of an operation that a failure ended.
struct ProgressGuard {
    ProgressGuard() { TVantrel::Core().Progress().Begin(-1); }
    ~ProgressGuard() {
        TVantrel::Core().Progress().Finish();
        FlushMarkingRecords();
    }
};

template <typename Operation>
void RunWithProgress(Operation operation) {
    ProgressGuard guard;
    operation();
}

}  // namespace

bool RunCommandLine() {
    TVantrel& core = TVantrel::Core();

    // "-ad" hands over to the offers check, which this program does not have: it ends
    // at once, without a window, and looks at no other switch.
    if (FindSwitch(L"-ad")) return true;

    core.KeepListFile = FindSwitch(L"-dd");

    if (FindSwitch(L"-rd")) {
        RunWithProgress([&] {
            core.LoadFileList(ParamStr(2));
            core.RestoreDefault();
        });
        return true;
    }
    if (FindSwitch(L"-rv")) {
        core.RefreshShellIcons();
        return true;
    }
    if (FindSwitch(L"-mi")) {
        core.LoadFileList(ParamStr(2));
        return false;
    }
    if (FindSwitch(L"-oi")) {
        RunWithProgress([&] {
            core.LoadFileList(ParamStr(2));
            const int index = ArgumentToInt(ParamStr(4));
            core.ApplyOverlay(ParamStr(3), index);
        });
        return true;
    }
    if (FindSwitch(L"-uo")) {
        RunWithProgress([&] {
            core.LoadFileList(ParamStr(2));
            core.RemoveOverlay();
        });
        return true;
    }
    if (FindSwitch(L"-ci")) {
        RunWithProgress([&] {
            core.LoadFileList(ParamStr(2));
            core.ApplyColor(ArgumentToInt(ParamStr(3)));
        });
        return true;
    }
    if (FindSwitch(L"-uc")) {
        RunWithProgress([&] {
            core.LoadFileList(ParamStr(2));
            core.RemoveColor();
        });
        return true;
    }
    core.LoadFileList(core.SelectedFilesPath());
    return false;
}

}  // namespace vantrel
