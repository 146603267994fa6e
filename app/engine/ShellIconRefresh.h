// Makes Explorer drop its cached icons after marker streams changed.
#pragma once

namespace vantrel {

// Windows Vista and later: the shell's "associations changed" notification.
// Older systems (or an unknown version): ToggleShellIconSize.
void RefreshShellIcons();

// Bumps HKCU "Control Panel\Desktop\WindowMetrics" "Shell Icon Size" by one and back,
// broadcasting WM_WININICHANGE after each write. A value left at "33"/"34" or "49"/"50"
// by an interrupted earlier toggle is repaired to "32"/"48".
void ToggleShellIconSize();

}  // namespace vantrel
