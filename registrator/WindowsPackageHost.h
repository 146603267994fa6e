// The package steps' host on the real system: RtlGetVersion, the system folders, and
// programs run hidden with their output read through a pipe.
#pragma once

#include "registrator/PackageRegistration.h"

namespace vantrel::registrator {

class TWindowsPackageHost : public IPackageHost {
public:
    // timeoutMs: how long one program may run before it is ended.
    explicit TWindowsPackageHost(DWORD timeoutMs = 10 * 60 * 1000) : timeoutMs_(timeoutMs) {}

    DWORD WindowsBuild() override;
    std::wstring NativeSystemFolder() override;
    DWORD FileAttributes(const std::wstring& path) override;
    ProcessOutcome Run(const std::wstring& program, const std::wstring& commandLine) override;

private:
    DWORD timeoutMs_;
};

}  // namespace vantrel::registrator
