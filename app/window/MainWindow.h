// The interactive main window.
#pragma once

namespace vantrel {

// Creates the main window on the engine's file list and runs the message loop until it
// closes. This version of the program has no main window yet: it fails with a message.
void RunMainWindow(const wchar_t* applicationTitle);

}  // namespace vantrel
