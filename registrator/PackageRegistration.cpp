#include "registrator/PackageRegistration.h"

#include <string_view>

namespace vantrel::registrator {

namespace {

// Every script ends by writing one answer line that starts with this: "ready", "done",
// "unavailable: <why>" or "failed: <why>". A program that takes the script and ends
// without one never ran it (Wine's powershell.exe is such a stub).
constexpr std::wstring_view kAnswer = L"VANTREL-PACKAGE ";

// Errors stop the script; nothing draws progress; the answer reaches us as UTF-8.
constexpr wchar_t kPrelude[] =
    L"$ErrorActionPreference = 'Stop'\n"
    L"$ProgressPreference = 'SilentlyContinue'\n"
    L"try { [Console]::OutputEncoding = [Text.Encoding]::UTF8 } catch { }\n";

constexpr wchar_t kFailureHandler[] =
    L"} catch {\n"
    L"  $e = $_.Exception.GetBaseException()\n"
    L"  'VANTREL-PACKAGE failed: ' + $e.Message.Trim() + (' (0x{0:X8})' -f $e.HResult)\n"
    L"  exit 1\n"
    L"}\n";

// The Appx cmdlets for removal, and the WinRT package manager for staging with an external
// location and provisioning, which the cmdlets of Windows 10 2004 cannot do.
constexpr wchar_t kProbe[] =
    L"$missing = @('Get-AppxPackage', 'Remove-AppxPackage', 'Get-AppxProvisionedPackage', 'Remove-AppxProvisionedPackage' |\n"
    L"  Where-Object { -not (Get-Command $_ -ErrorAction SilentlyContinue) })\n"
    L"if ($missing.Count) { 'VANTREL-PACKAGE unavailable: PowerShell has no ' + ($missing -join ', '); exit 3 }\n"
    L"try { $null = [Windows.Management.Deployment.PackageManager, Windows.Management.Deployment, ContentType = WindowsRuntime] }\n"
    L"catch { 'VANTREL-PACKAGE unavailable: PowerShell cannot load Windows.Management.Deployment.PackageManager'; exit 3 }\n"
    L"'VANTREL-PACKAGE ready'\n"
    L"exit 0\n";

// Provisioning first, so that no logon registers the package again while it goes; then
// the package for every user (its staged copy goes with the last registration).
std::wstring RemovalScript(const std::wstring& name) {
    return std::wstring(kPrelude) + L"$name = '" + TPackageRegistration::QuoteForPowerShell(name) + L"'\n" +
           L"try {\n"
           L"  $deprovision = @{ Online = $true }\n"
           L"  if ((Get-Command Remove-AppxProvisionedPackage).Parameters.ContainsKey('AllUsers')) { $deprovision.AllUsers = $true }\n"
           L"  foreach ($p in @(Get-AppxProvisionedPackage -Online | Where-Object { $_.DisplayName -eq $name })) {\n"
           L"    $null = Remove-AppxProvisionedPackage @deprovision -PackageName $p.PackageName\n"
           L"  }\n"
           L"  foreach ($p in @(Get-AppxPackage -AllUsers -Name $name)) { Remove-AppxPackage -AllUsers -Package $p.PackageFullName }\n"
           L"  'VANTREL-PACKAGE done'\n"
           L"  exit 0\n" +
           kFailureHandler;
}

std::wstring RegistrationScript(const std::wstring& name, const std::wstring& package, const std::wstring& folder) {
    return std::wstring(kPrelude) + L"$name = '" + TPackageRegistration::QuoteForPowerShell(name) + L"'\n" +
           L"$package = '" + TPackageRegistration::QuoteForPowerShell(package) + L"'\n" + L"$location = '" +
           TPackageRegistration::QuoteForPowerShell(folder) + L"'\n" +
           L"try {\n"
           L"  Add-Type -AssemblyName System.Runtime.WindowsRuntime\n"
           L"  $asTask = [System.WindowsRuntimeSystemExtensions].GetMethods() | Where-Object {\n"
           L"    $_.Name -eq 'AsTask' -and $_.IsGenericMethod -and $_.GetParameters().Count -eq 1 -and\n"
           L"    $_.GetParameters()[0].ParameterType.Name -eq 'IAsyncOperationWithProgress`2' } | Select-Object -First 1\n"
           L"  $asTask = $asTask.MakeGenericMethod([Windows.Management.Deployment.DeploymentResult, Windows.Management.Deployment, ContentType = WindowsRuntime],\n"
           L"    [Windows.Management.Deployment.DeploymentProgress, Windows.Management.Deployment, ContentType = WindowsRuntime])\n"
           L"  $manager = [Windows.Management.Deployment.PackageManager, Windows.Management.Deployment, ContentType = WindowsRuntime]::new()\n"
           L"  $options = [Windows.Management.Deployment.StagePackageOptions, Windows.Management.Deployment, ContentType = WindowsRuntime]::new()\n"
           L"  $options.ExternalLocationUri = [Uri]$location\n"
           L"  $options.ForceUpdateFromAnyVersion = $true\n"
           L"  $null = $asTask.Invoke($null, @($manager.StagePackageByUriAsync([Uri]$package, $options))).GetAwaiter().GetResult()\n"
           L"  $staged = @($manager.FindPackages() | Where-Object { $_.Id.Name -eq $name })\n"
           L"  if ($staged.Count -eq 0) { throw \"$package staged no package named $name\" }\n"
           L"  $null = $asTask.Invoke($null, @($manager.ProvisionPackageForAllUsersAsync($staged[0].Id.FamilyName))).GetAwaiter().GetResult()\n"
           L"  'VANTREL-PACKAGE done'\n"
           L"  exit 0\n" +
           kFailureHandler;
}

std::wstring Base64(const unsigned char* data, size_t size) {
    static constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::wstring out;
    out.reserve((size + 2) / 3 * 4);
    for (size_t i = 0; i < size; i += 3) {
        unsigned long group = static_cast<unsigned long>(data[i]) << 16;
        if (i + 1 < size) group |= static_cast<unsigned long>(data[i + 1]) << 8;
        if (i + 2 < size) group |= data[i + 2];
        out += kDigits[(group >> 18) & 63];
        out += kDigits[(group >> 12) & 63];
        out += i + 1 < size ? kDigits[(group >> 6) & 63] : '=';
        out += i + 2 < size ? kDigits[group & 63] : '=';
    }
    return out;
}

// The last answer line of a script's output, without the prefix; empty when there is none.
std::wstring AnswerOf(const std::wstring& output) {
    std::wstring answer;
    size_t start = 0;
    while (start < output.size()) {
        size_t end = output.find(L'\n', start);
        if (end == std::wstring::npos) end = output.size();
        std::wstring line = output.substr(start, end - start);
        while (!line.empty() && (line.back() == L'\r' || line.back() == L' ')) line.pop_back();
        if (line.compare(0, kAnswer.size(), kAnswer) == 0) answer = line.substr(kAnswer.size());
        start = end + 1;
    }
    return answer;
}

// The output on one line, shortened, for a message.
std::wstring Excerpt(const std::wstring& output) {
    std::wstring text;
    for (wchar_t c : output) {
        if (c == L'\r' || c == L'\n' || c == L'\t') c = L' ';
        if (c == L' ' && (text.empty() || text.back() == L' ')) continue;
        text += c;
    }
    while (!text.empty() && text.back() == L' ') text.pop_back();
    if (text.size() > 400) text = text.substr(0, 400) + L"...";
    return text.empty() ? L"no output" : text;
}

bool StartsWith(const std::wstring& text, std::wstring_view prefix) { return text.compare(0, prefix.size(), prefix) == 0; }

// "C:\Program Files\Kestrane\Vantrel\" and "...\Vantrel\." (how an installer's folder
// property ends) name the folder itself.
std::wstring FolderWithoutTrailer(std::wstring folder) {
    for (;;) {
        if (folder.size() > 3 && folder.back() == L'\\') folder.pop_back();
        else if (folder.size() > 4 && folder.compare(folder.size() - 2, 2, L"\\.") == 0) folder.resize(folder.size() - 2);
        else return folder;
    }
}

bool IsAbsolute(const std::wstring& path) {
    if (path.size() >= 3 && iswalpha(path[0]) && path[1] == L':' && path[2] == L'\\') return true;
    return path.size() >= 3 && path[0] == L'\\' && path[1] == L'\\';
}

constexpr size_t kMaxCommandLine = 32767;

}  // namespace

std::wstring TPackageRegistration::QuoteForPowerShell(const std::wstring& text) {
    std::wstring out;
    for (wchar_t c : text) {
        out += c;
        if (c == L'\'' || c == L'\u2018' || c == L'\u2019' || c == L'\u201A' || c == L'\u201B') out += c;
    }
    return out;
}

std::wstring TPackageRegistration::PowerShellCommandLine(const std::wstring& powershell, const std::wstring& script) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(script.data());
    return L"\"" + powershell + L"\" -NoProfile -NonInteractive -ExecutionPolicy Bypass -EncodedCommand " +
           Base64(bytes, script.size() * sizeof(wchar_t));
}

std::wstring TPackageRegistration::PowerShellPath() {
    return host_.NativeSystemFolder() + L"\\WindowsPowerShell\\v1.0\\powershell.exe";
}

TPackageRegistration::StepResult TPackageRegistration::RunScript(const std::wstring& script, bool probe) {
    const std::wstring program = PowerShellPath();
    const std::wstring commandLine = PowerShellCommandLine(program, script);
    if (commandLine.size() >= kMaxCommandLine) return {Step::Failed, L"the paths are too long for a command line"};
    ProcessOutcome outcome = host_.Run(program, commandLine);
    if (outcome.StartError == ERROR_FILE_NOT_FOUND || outcome.StartError == ERROR_PATH_NOT_FOUND)
        return {Step::Unavailable, L"there is no " + program};
    if (outcome.StartError != 0)
        return {Step::Failed, program + L" cannot be started (error " + std::to_wstring(outcome.StartError) + L")"};
    if (outcome.TimedOut) return {Step::Failed, L"Windows PowerShell did not finish in time and was ended"};
    const std::wstring answer = AnswerOf(outcome.Output);
    if ((answer == L"ready" || answer == L"done") && outcome.ExitCode == 0) return {Step::Done, L""};
    if (StartsWith(answer, L"failed: ")) return {Step::Failed, answer.substr(8)};
    // Only the probe tells whether a PowerShell is there at all; once it answered, every
    // step that does not answer has failed.
    if (probe && StartsWith(answer, L"unavailable: ")) return {Step::Unavailable, answer.substr(13)};
    if (probe && answer.empty() && outcome.ExitCode == 0) return {Step::Unavailable, program + L" runs no PowerShell script"};
    return {Step::Failed, L"Windows PowerShell ended with exit code " + std::to_wstring(outcome.ExitCode) +
                              L" without an answer: " + Excerpt(outcome.Output)};
}

TPackageRegistration::StepResult TPackageRegistration::Probe() { return RunScript(std::wstring(kPrelude) + kProbe, true); }

bool TPackageRegistration::NotPresent(const wchar_t* what, PackageAnswer& answer) {
    const DWORD build = host_.WindowsBuild();
    std::wstring why;
    if (build < kFirstBuildWithExternalLocation) {
        why = L"Windows build " + std::to_wstring(build) + L" has no packages with external location (build " +
              std::to_wstring(kFirstBuildWithExternalLocation) + L" or later)";
    } else {
        StepResult probe = Probe();
        if (probe.Kind == Step::Done) return false;
        if (probe.Kind == Step::Failed) {
            answer = {1, true, std::wstring(what) + L" failed: " + probe.Detail};
            return true;
        }
        why = L"the package manager cannot be reached: " + probe.Detail;
    }
    answer = {0, false,
              std::wstring(what) + L": feature not present, " + why + L"; the classic context menu serves alone"};
    return true;
}

PackageAnswer TPackageRegistration::Register(const std::wstring& packagePath, const std::wstring& externalFolder) {
    const std::wstring what = std::wstring(L"Registering the package ") + kIdentityPackageName;
    // The arguments are checked first, wherever the step runs: the installer passes the same
    // command line to every Windows, and a wrong one is a fault of the package.
    const std::wstring folder = FolderWithoutTrailer(externalFolder);
    const DWORD packageAttributes = IsAbsolute(packagePath) ? host_.FileAttributes(packagePath) : INVALID_FILE_ATTRIBUTES;
    if (packageAttributes == INVALID_FILE_ATTRIBUTES || (packageAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return {2, true, what + L" failed: \"" + packagePath + L"\" is not the full path of a package file"};
    const DWORD folderAttributes = IsAbsolute(folder) ? host_.FileAttributes(folder) : INVALID_FILE_ATTRIBUTES;
    if (folderAttributes == INVALID_FILE_ATTRIBUTES || !(folderAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return {2, true, what + L" failed: \"" + externalFolder + L"\" is not the full path of a folder"};
    PackageAnswer answer;
    if (NotPresent(what.c_str(), answer)) return answer;
    StepResult removal = RunScript(RemovalScript(kIdentityPackageName), false);
    if (removal.Kind != Step::Done)
        return {1, true, what + L" failed: removing the earlier registration: " + removal.Detail};
    StepResult registration = RunScript(RegistrationScript(kIdentityPackageName, packagePath, folder), false);
    if (registration.Kind != Step::Done) return {1, true, what + L" failed: " + registration.Detail};
    return {0, false,
            L"Registered the package " + std::wstring(kIdentityPackageName) + L" for all users, external location " + folder};
}

PackageAnswer TPackageRegistration::Unregister() {
    const std::wstring what = std::wstring(L"Removing the package ") + kIdentityPackageName;
    PackageAnswer answer;
    if (NotPresent(what.c_str(), answer)) return answer;
    StepResult removal = RunScript(RemovalScript(kIdentityPackageName), false);
    if (removal.Kind != Step::Done) return {1, true, what + L" failed: " + removal.Detail};
    return {0, false, L"Removed the package " + std::wstring(kIdentityPackageName) + L" for all users"};
}

}  // namespace vantrel::registrator
