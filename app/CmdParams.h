// The command-line dispatcher.
#pragma once

namespace vantrel {

// Runs the engine operation the command line asks for. Returns true (handled) when the
// program ends without the main window, false when the main window is to open.
bool RunCommandLine();

}  // namespace vantrel
