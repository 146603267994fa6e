// The registry work of the registrator service: making the shell extension the icon
// handler of a machine-wide file type, and undoing exactly what the service did.
//
// Every value the service writes is first entered in a record under
// HKLM\Software\Kestrane\Vantrel\Registrations (64-bit view), one value per registry view
// and type, so that "unregister all" works after any restart and even after the service
// was ended between the record and the write.
#pragma once

#include <windows.h>

#include <mutex>
#include <string>

namespace vantrel::registrator {

struct HandlerAnswer {
    int Status = 0;
    std::string Body;  // ASCII
};

class THandlerRegistry {
public:
    // recordKey: under HKEY_LOCAL_MACHINE, 64-bit view.
    explicit THandlerRegistry(std::wstring recordKey = DefaultRecordKey());

    // The extension's default value in HKLM\Software\Classes must name the type, and the
    // type's key must exist, in a registry view for the request to touch that view. In
    // every such view where the type has no icon handler, the shell extension's CLSID
    // becomes the default value of <type>\ShellEx\IconHandler.
    // 200 "OK"; 201 and the current handler when another one is set; 203 and why when the
    // type does not belong to the extension; 500 when the registry refuses a write.
    HandlerAnswer Register(const std::string& extension, const std::string& type);

    // Removes every recorded value that still holds the shell extension's CLSID, and the
    // keys the service created for it when they are empty now; values changed by someone
    // else stay. The record is emptied. 200 "OK", or 500 when the registry refuses.
    HandlerAnswer UnregisterAll();

    static std::wstring DefaultRecordKey();

private:
    std::wstring recordKey_;
    std::mutex mutex_;  // one registry change at a time
};

}  // namespace vantrel::registrator
