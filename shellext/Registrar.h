// Runs the module's registration scripts: a small text format of nested registry keys
// with default and named string values, replacement variables written %NAME%, and the
// key flags NoRemove (never deleted at unregistration) and ForceRemove (deleted with
// its subkeys before it is written, and at unregistration).
//
//   HKCR
//   {
//       NoRemove CLSID
//       {
//           ForceRemove {...} = s 'Description'
//           {
//               InprocServer32 = s '%MODULE%'
//               {
//                   val ThreadingModel = s 'Apartment'
//               }
//           }
//       }
//   }
#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

namespace shlext {

struct RegScriptKey {
    enum Flag { Plain, NoRemove, ForceRemove };
    std::wstring name;
    Flag flag = Plain;
    bool hasDefault = false;
    std::wstring defaultValue;
    std::vector<std::pair<std::wstring, std::wstring>> values;  // named string values
    std::vector<RegScriptKey> subkeys;
};

struct RegScript {
    std::vector<RegScriptKey> roots;  // each root's name is HKCR, HKCU or HKLM
};

using Replacements = std::vector<std::pair<std::wstring, std::wstring>>;

// Parses a script, substituting the replacements (names matched without regard to
// letter case; "%%" stands for one "%"). False on a syntax error or an unknown variable.
bool ParseRegScript(const std::wstring& text, const Replacements& replacements, RegScript& out);

// Writes (register) or removes (unregister) what the script describes. With perUser,
// keys the script places under HKCR go to HKCU\Software\Classes instead.
// Keys that are already missing at unregistration are no failure.
HRESULT RunRegScript(const RegScript& script, bool doRegister, bool perUser);

}  // namespace shlext
