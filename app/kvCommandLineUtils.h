// The program's arguments and the switch finder.
#pragma once

#include <string>
#include <vector>

namespace vantrel {

// Argument list source: the platform's argument list of the process (argument 0 is
// the program). A test can supply its own list; nullptr restores the platform's.
using ArgumentSource = std::vector<std::wstring> (*)();
std::vector<std::wstring> PlatformArguments();
void SetArgumentSource(ArgumentSource source);

// Number of arguments after the program itself.
int ParamCount();
// Argument i (0 is the program); a missing argument reads as empty text.
std::wstring ParamStr(int index);

// True when any argument from 1 to the last equals the switch text in full, letter case
// of ASCII letters ignored. No prefix match and no "/" form.
bool FindSwitch(const std::wstring& switchText);

}  // namespace vantrel
