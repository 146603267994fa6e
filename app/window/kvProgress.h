// TfProgress: the small borderless "Processing. Please wait..." window shown while an
// engine operation runs, with a marquee (or determinate) bar and the hourglass cursor.
#pragma once

#include "app/engine/OperationFeedback.h"

namespace vantrel {

// count -1: the length of the work is open (marquee bar); count >= 0: determinate bar
// with that maximum, at position 0.
void ShowProgress(int count);
// Restores the cursor and hides the window; without a window it does nothing.
void HideProgress();
// Frees the window (program shutdown).
void FreeProgress();

// Lets the window system handle the messages waiting for this thread, so windows stay
// painted during long work on the window thread.
void ProcessPendingMessages();

// The engine's progress in that window: Begin shows it, each step processes the pending
// messages, Finish hides it. It has no way to stop, so a stop is never asked for.
class TProgressWindow final : public IOperationProgress {
public:
    void Begin(int count) override { ShowProgress(count); }
    void Step(const std::wstring&) override { ProcessPendingMessages(); }
    void Finish() override { HideProgress(); }
    bool StopRequested() override { return false; }
};
// The program's one progress window, which its entry and the main window hand the engine.
IOperationProgress& ProgressWindow();

// Window class name of the progress window and identifiers of its parts.
extern const wchar_t kProgressClass[];
enum ProgressControl : int { kProgressLabel = 201, kProgressBar = 202, kProgressMarquee = 203 };

}  // namespace vantrel
