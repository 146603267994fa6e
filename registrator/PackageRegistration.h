// The identity package that gives the shell extension's modern context menu command its
// package identity on Windows 11: a package with external location (manifest and logos,
// no payload) whose content is the program folder. The installer registers it for every
// user of the machine and removes it again on uninstall.
//
// Windows' package manager is reached through Windows PowerShell, which runs as the
// installer's LocalSystem account:
//   - removal: the package's provisioning goes (Remove-AppxProvisionedPackage -Online
//     -AllUsers), then the package for every user (Remove-AppxPackage -AllUsers);
//   - registration: removal as above, whatever version was there, then the package is
//     staged with the program folder as its external location
//     (PackageManager.StagePackageByUriAsync with StagePackageOptions.ExternalLocationUri)
//     and provisioned for all users (PackageManager.ProvisionPackageForAllUsersAsync),
//     so every user, present and future, has it registered at logon.
// Packages with external location exist from Windows 10 2004 (build 19041); on older
// builds, and where the package manager cannot be reached at all, both steps succeed with
// one line saying so and the classic context menu serves alone.
//
// What to run is decided here; starting processes and asking the system is the host's,
// so the decisions are tested with a host that records the calls.
#pragma once

#include <windows.h>

#include <string>

namespace vantrel::registrator {

constexpr wchar_t kIdentityPackageName[] = L"Kestrane.Vantrel";
constexpr DWORD kFirstBuildWithExternalLocation = 19041;

// What became of one program run.
struct ProcessOutcome {
    DWORD StartError = 0;  // 0 when the program started; otherwise CreateProcess' error
    bool TimedOut = false;  // ended by the host after its time limit
    DWORD ExitCode = 0;
    std::wstring Output;  // standard output and error together
};

// The system as far as the package steps need it.
class IPackageHost {
public:
    virtual ~IPackageHost() = default;
    // Windows' build number as the kernel reports it (not the compatibility-shimmed one).
    virtual DWORD WindowsBuild() = 0;
    // The folder of the system's native programs: System32, or Sysnative for a 32-bit
    // process on 64-bit Windows.
    virtual std::wstring NativeSystemFolder() = 0;
    // GetFileAttributesW: INVALID_FILE_ATTRIBUTES when nothing is there.
    virtual DWORD FileAttributes(const std::wstring& path) = 0;
    // Runs the program with the command line (argument 0 included), hidden, and waits.
    virtual ProcessOutcome Run(const std::wstring& program, const std::wstring& commandLine) = 0;
};

struct PackageAnswer {
    int ExitCode = 0;  // 0: done, or not present here
    bool Failed = false;
    std::wstring Text;  // one line for the console and, on failure, the event log
};

class TPackageRegistration {
public:
    explicit TPackageRegistration(IPackageHost& host) : host_(host) {}

    // Exactly one registration of the package afterwards: every earlier one, whatever its
    // version, is removed before this one is staged and provisioned.
    PackageAnswer Register(const std::wstring& packagePath, const std::wstring& externalFolder);
    // Removes the package for every user and its provisioning; nothing to remove is success.
    PackageAnswer Unregister();

    // Inside a PowerShell single-quoted string: every single-quote character doubled
    // (PowerShell takes the typographic ones as quotes too).
    static std::wstring QuoteForPowerShell(const std::wstring& text);
    // The command line that runs the script in Windows PowerShell, passed as
    // -EncodedCommand (Base64 of its UTF-16LE text), which no command-line parser alters.
    static std::wstring PowerShellCommandLine(const std::wstring& powershell, const std::wstring& script);

private:
    enum class Step { Done, Unavailable, Failed };
    struct StepResult {
        Step Kind = Step::Failed;
        std::wstring Detail;
    };
    std::wstring PowerShellPath();
    // The package manager's availability, asked once before anything is changed.
    StepResult Probe();
    StepResult RunScript(const std::wstring& script, bool probe);
    // The answer when this Windows has no packages with external location, or none.
    bool NotPresent(const wchar_t* what, PackageAnswer& answer);

    IPackageHost& host_;
};

}  // namespace vantrel::registrator
