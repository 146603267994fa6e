#include "app/window/MainWindow.h"

#include "imaging/Error.h"

namespace vantrel {

void RunMainWindow(const wchar_t*) {
    throw Error("The main window is not available in this version of Vantrel; "
                "use the command-line switches -oi, -ci, -uo, -uc, -rd or -rv.");
}

}  // namespace vantrel
