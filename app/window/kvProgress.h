// TfProgress: the small borderless "Processing. Please wait..." window shown while an
// engine operation runs, with a marquee (or determinate) bar and the hourglass cursor.
#pragma once

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

// Window class name of the progress window and identifiers of its parts.
extern const wchar_t kProgressClass[];
enum ProgressControl : int { kProgressLabel = 201, kProgressBar = 202, kProgressMarquee = 203 };

}  // namespace vantrel
