// The identity package steps: what they run, in which order and with which quoting, and
// how they read the answers, with a host that records the calls; then the real host and
// the real VantrelRegistrator.exe under Wine, which has no package manager.
#include <windows.h>
#include <wincrypt.h>

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "registrator/PackageRegistration.h"
#include "registrator/WindowsPackageHost.h"

using namespace vantrel::registrator;

namespace {

const std::wstring kPowerShell = L"C:\\Windows\\System32\\WindowsPowerShell\\v1.0\\powershell.exe";

// The script inside an -EncodedCommand command line, decoded by the system's own Base64.
std::wstring ScriptOf(const std::wstring& commandLine) {
    const std::wstring flag = L" -EncodedCommand ";
    size_t at = commandLine.find(flag);
    if (at == std::wstring::npos) return L"<no -EncodedCommand>";
    std::wstring b64 = commandLine.substr(at + flag.size());
    DWORD size = 0;
    if (!CryptStringToBinaryW(b64.c_str(), 0, CRYPT_STRING_BASE64, nullptr, &size, nullptr, nullptr)) return L"<bad>";
    std::wstring script(size / sizeof(wchar_t), L'\0');
    CryptStringToBinaryW(b64.c_str(), 0, CRYPT_STRING_BASE64, reinterpret_cast<BYTE*>(script.data()), &size, nullptr, nullptr);
    return script;
}

// The value of `$<name> = '...'` in a script, read by PowerShell's rules: any of the five
// single-quote characters ends the string unless it is doubled.
std::wstring Assigned(const std::wstring& script, const std::wstring& name) {
    auto quote = [](wchar_t c) { return c == L'\'' || (c >= L'\u2018' && c <= L'\u201B'); };
    size_t at = script.find(L"$" + name + L" = '");
    if (at == std::wstring::npos) return L"<unassigned>";
    std::wstring value;
    for (size_t i = at + name.size() + 5; i < script.size(); ++i) {
        if (!quote(script[i])) value += script[i];
        else if (i + 1 < script.size() && quote(script[i + 1])) value += script[++i];
        else return value;
    }
    return L"<unterminated>";
}

class RecordingHost : public IPackageHost {
public:
    DWORD Build = 22631;
    std::wstring System = L"C:\\Windows\\System32";
    std::deque<ProcessOutcome> Answers;  // in turn; "done" once they are used up
    std::vector<std::wstring> Scripts;
    std::vector<std::wstring> Files{L"C:\\Program Files\\O'Neil \u2018Tools\u2019\\Vantrel.msix"};
    std::vector<std::wstring> Folders{L"C:\\Program Files\\O'Neil \u2018Tools\u2019"};

    DWORD WindowsBuild() override { return Build; }
    std::wstring NativeSystemFolder() override { return System; }
    DWORD FileAttributes(const std::wstring& path) override {
        for (const auto& f : Files) if (f == path) return FILE_ATTRIBUTE_ARCHIVE;
        for (const auto& f : Folders) if (f == path) return FILE_ATTRIBUTE_DIRECTORY;
        return INVALID_FILE_ATTRIBUTES;
    }
    ProcessOutcome Run(const std::wstring& program, const std::wstring& commandLine) override {
        EXPECT_EQ(program, kPowerShell);
        EXPECT_EQ(commandLine.rfind(L"\"" + kPowerShell + L"\" -NoProfile -NonInteractive -ExecutionPolicy Bypass -EncodedCommand ", 0), 0u);
        Scripts.push_back(ScriptOf(commandLine));
        if (Answers.empty()) return {0, false, 0, L"noise\r\nVANTREL-PACKAGE done\r\n"};
        ProcessOutcome next = Answers.front();
        Answers.pop_front();
        return next;
    }
};

bool Has(const std::wstring& text, const std::wstring& part) { return text.find(part) != std::wstring::npos; }

const std::wstring kPackage = L"C:\\Program Files\\O'Neil \u2018Tools\u2019\\Vantrel.msix";
const std::wstring kFolder = L"C:\\Program Files\\O'Neil \u2018Tools\u2019";

TEST(PackageRegistration, BeforeBuild19041NothingRunsAndBothStepsSucceed) {
    RecordingHost host;
    host.Build = 19040;
    for (const PackageAnswer& a : {TPackageRegistration(host).Register(kPackage, kFolder), TPackageRegistration(host).Unregister()}) {
        EXPECT_EQ(a.ExitCode, 0);
        EXPECT_FALSE(a.Failed);
        EXPECT_TRUE(Has(a.Text, L"feature not present") && Has(a.Text, L"19040")) << a.Text;
    }
    EXPECT_TRUE(host.Scripts.empty());
}

TEST(PackageRegistration, RegisterProbesRemovesEveryVersionThenStagesAndProvisionsWithQuotedPaths) {
    RecordingHost host;
    host.Build = 19041;
    PackageAnswer a = TPackageRegistration(host).Register(kPackage, kFolder + L"\\.");  // as "[INSTALLDIR]." gives it
    EXPECT_EQ(a.ExitCode, 0) << a.Text;
    ASSERT_EQ(host.Scripts.size(), 3u);
    EXPECT_TRUE(Has(host.Scripts[0], L"Get-Command") && Has(host.Scripts[0], L"'VANTREL-PACKAGE ready'"));
    const std::wstring& removal = host.Scripts[1];
    EXPECT_EQ(Assigned(removal, L"name"), L"Kestrane.Vantrel");
    EXPECT_LT(removal.find(L"Remove-AppxProvisionedPackage @deprovision"), removal.find(L"Remove-AppxPackage -AllUsers"));
    EXPECT_FALSE(Has(removal, L"StagePackage"));
    const std::wstring& registration = host.Scripts[2];
    EXPECT_EQ(Assigned(registration, L"package"), kPackage);
    EXPECT_EQ(Assigned(registration, L"location"), kFolder);
    EXPECT_LT(registration.find(L"StagePackageByUriAsync"), registration.find(L"ProvisionPackageForAllUsersAsync"));
    EXPECT_FALSE(Has(registration, L"Remove-Appx"));
    EXPECT_TRUE(Has(a.Text, kFolder)) << a.Text;
}

TEST(PackageRegistration, UnregisterProbesThenRemoves) {
    RecordingHost host;
    PackageAnswer a = TPackageRegistration(host).Unregister();
    EXPECT_EQ(a.ExitCode, 0) << a.Text;
    ASSERT_EQ(host.Scripts.size(), 2u);
    EXPECT_TRUE(Has(host.Scripts[1], L"Get-AppxProvisionedPackage -Online") && Has(host.Scripts[1], L"Get-AppxPackage -AllUsers"));
}

// "Cannot be reached" only when the probe gets no PowerShell: no program, a program that
// runs no script (Wine's stub ends at once with 0), or PowerShell without the package
// manager. Every case stops before anything is changed.
TEST(PackageRegistration, ThePackageManagerOutOfReachIsQuiet) {
    const std::vector<ProcessOutcome> probes = {
        {ERROR_FILE_NOT_FOUND, false, 0, L""},
        {ERROR_PATH_NOT_FOUND, false, 0, L""},
        {0, false, 0, L""},
        {0, false, 3, L"VANTREL-PACKAGE unavailable: PowerShell has no Get-AppxPackage\r\n"},
    };
    for (const ProcessOutcome& probe : probes) {
        RecordingHost host;
        host.Answers = {probe};
        PackageAnswer a = TPackageRegistration(host).Register(kPackage, kFolder);
        EXPECT_EQ(a.ExitCode, 0) << a.Text;
        EXPECT_TRUE(Has(a.Text, L"feature not present") && Has(a.Text, L"cannot be reached")) << a.Text;
        EXPECT_EQ(host.Scripts.size(), 1u);
    }
}

TEST(PackageRegistration, RealFailuresEndNonZeroWithTheirReason) {
    struct Case {
        std::deque<ProcessOutcome> Answers;
        size_t Runs;
        std::wstring Reason;
    };
    const ProcessOutcome ready{0, false, 0, L"VANTREL-PACKAGE ready\r\n"}, done{0, false, 0, L"VANTREL-PACKAGE done\r\n"};
    const std::vector<Case> cases = {
        {{{ERROR_ACCESS_DENIED, false, 0, L""}}, 1, L"cannot be started (error 5)"},
        {{ready, {0, false, 1, L"VANTREL-PACKAGE failed: Access is denied. (0x80070005)\r\n"}}, 2, L"Access is denied"},
        // After a probe that answered, a silent end is no longer "out of reach".
        {{ready, {0, false, 0, L""}}, 2, L"exit code 0"},
        {{ready, done, {0, false, 0xC0000005, L"Fatal error\r\n"}}, 3, L"exit code 3221225477 without an answer: Fatal error"},
        {{ready, done, {0, true, 1, L""}}, 3, L"did not finish in time"},
        {{ready, done, {0, false, 1, L"VANTREL-PACKAGE failed: not trusted (0x800B0109)"}}, 3, L"not trusted (0x800B0109)"},
    };
    for (const Case& c : cases) {
        RecordingHost host;
        host.Answers = c.Answers;
        PackageAnswer a = TPackageRegistration(host).Register(kPackage, kFolder);
        EXPECT_NE(a.ExitCode, 0) << a.Text;
        EXPECT_TRUE(a.Failed);
        EXPECT_TRUE(Has(a.Text, c.Reason)) << a.Text;
        EXPECT_EQ(host.Scripts.size(), c.Runs) << a.Text;
    }
}

TEST(PackageRegistration, PathsThatAreNotThereAreRefusedBeforeAnythingRuns) {
    for (const auto& [package, folder] : std::vector<std::pair<std::wstring, std::wstring>>{
             {L"x", L"y"}, {kFolder + L"\\Other.msix", kFolder}, {kFolder, kFolder}, {kPackage, kPackage}}) {
        RecordingHost host;
        PackageAnswer a = TPackageRegistration(host).Register(package, folder);
        EXPECT_EQ(a.ExitCode, 2) << a.Text;
        EXPECT_TRUE(host.Scripts.empty()) << "nothing may run";
    }
}

// The real host on the system underneath, with the build raised where the test needs it.
class RaisedBuildHost : public TWindowsPackageHost {
public:
    std::wstring System = TWindowsPackageHost::NativeSystemFolder();
    DWORD WindowsBuild() override { return 22631; }
    std::wstring NativeSystemFolder() override { return System; }
};

TEST(WindowsPackageHost, RunsHiddenAndReadsOutputAndExitCode) {
    TWindowsPackageHost host;
    const std::wstring cmd = host.NativeSystemFolder() + L"\\cmd.exe";
    ProcessOutcome echo = host.Run(cmd, L"cmd /c echo VANTREL-PACKAGE done");
    EXPECT_EQ(echo.StartError, 0u);
    EXPECT_TRUE(Has(echo.Output, L"VANTREL-PACKAGE done")) << echo.Output;
    EXPECT_EQ(host.Run(cmd, L"cmd /c exit 7").ExitCode, 7u);
    EXPECT_NE(host.Run(host.NativeSystemFolder() + L"\\no-such-program.exe", L"x").StartError, 0u);
}

TEST(WindowsPackageHost, WinesPowerShellOrNoneIsOutOfReach) {
    RaisedBuildHost host;
    for (const std::wstring& system : {host.System, std::wstring(L"C:\\no-such-windows\\System32")}) {
        host.System = system;
        const std::wstring dist = testsupport::DistFolder();
        PackageAnswer a = TPackageRegistration(host).Register(dist + L"\\VantrelRegistrator.exe", dist);
        EXPECT_EQ(a.ExitCode, 0) << a.Text;
        EXPECT_TRUE(Has(a.Text, L"cannot be reached")) << a.Text;
    }
}

TEST(VantrelRegistrator, PackageStepsUnderWineSayTheFeatureIsNotPresent) {
    TWindowsPackageHost host;
    const std::wstring exe = testsupport::DistFolder() + L"\\VantrelRegistrator.exe";
    // The installer's form of the folder, "<folder>.", and any file as the package.
    const std::wstring registration =
        L"--register-package \"" + exe + L"\" \"" + testsupport::DistFolder() + L"\\.\"";
    for (const std::wstring& args : {registration, std::wstring(L"--unregister-package")}) {
        ProcessOutcome run = host.Run(exe, L"\"" + exe + L"\" " + args);
        EXPECT_EQ(run.ExitCode, 0u) << run.Output;
        EXPECT_TRUE(Has(run.Output, L"feature not present")) << run.Output;
    }
    // Wrong arguments are refused here too, where the feature is absent.
    EXPECT_EQ(host.Run(exe, L"\"" + exe + L"\" --register-package x").ExitCode, 2u);
    EXPECT_EQ(host.Run(exe, L"\"" + exe + L"\" --register-package x y").ExitCode, 2u);
}

}  // namespace
