// File-type lookups and the icon-handler registration against the real registry under
// Wine. Every key written lies under a type and extension made up for the test run and is
// deleted afterwards.
#include <gtest/gtest.h>

#include <cstdint>

#include "registration/LoopbackServer.h"
#include "TestSupport.h"
#include "app/common/FileHelpers.h"
#include "app/registration/RegisterIconHandlerUnit.h"
#include "app/registration/RegistratorClient.h"

using namespace vantrel;
using namespace testsupport;

namespace {

const std::wstring kUserClasses = L"Software\\Classes\\";
const std::wstring kMachineClasses = L"Software\\Classes\\";

void SetValue(HKEY root, const std::wstring& key, DWORD type, const void* data, DWORD size) {
    HKEY k;
    ASSERT_EQ(RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &k, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExW(k, nullptr, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
    RegCloseKey(k);
}

void SetText(HKEY root, const std::wstring& key, const std::wstring& text, DWORD type = REG_SZ) {
    SetValue(root, key, type, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

void CreateKey(HKEY root, const std::wstring& key) {
    HKEY k;
    ASSERT_EQ(RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &k, nullptr), ERROR_SUCCESS);
    RegCloseKey(k);
}

std::wstring SystemPath(const std::wstring& tail) { return ExpandPath(L"%SystemRoot%\\System32\\" + tail); }

// A made-up extension ".vtst<n>" and type "vantreltest<n>", distinct per test, with the
// keys of both removed from the user's and the machine's classes at the end.
class FileTypeTest : public ::testing::Test {
protected:
    void SetUp() override {
        static int counter = 0;
        const std::wstring n = std::to_wstring(GetCurrentProcessId()) + L"x" + std::to_wstring(++counter);
        ext_ = L".vtst" + n;
        type_ = L"vantreltest" + n;
        clsid_ = L"{00000000-7e57-4000-8000-" + std::wstring(12 - n.size(), L'0') + n + L"}";
        Cleanup();
    }
    void TearDown() override { Cleanup(); }
    void Cleanup() {
        for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
            DeleteRegTree(root, kUserClasses + ext_);
            DeleteRegTree(root, kUserClasses + type_);
            DeleteRegTree(root, kUserClasses + L"CLSID\\" + clsid_);
        }
    }
    // The user's class registrations and the machine's, which HKEY_CLASSES_ROOT merges.
    std::wstring User(const std::wstring& tail) { return kUserClasses + tail; }
    std::wstring Machine(const std::wstring& tail) { return kMachineClasses + tail; }

    std::wstring ext_, type_, clsid_;
};

}  // namespace

TEST_F(FileTypeTest, TypeNameUserFirstThenClassesRootThenMadeUp) {
    EXPECT_EQ(GetFileType(ext_), ext_.substr(1) + L"file");
    EXPECT_EQ(GetFileType(L""), L"file");

    SetText(HKEY_LOCAL_MACHINE, Machine(ext_), L"machine.type");
    EXPECT_EQ(GetFileType(ext_), L"machine.type");
    // An empty value in the user's registration does not hide the machine's.
    SetText(HKEY_CURRENT_USER, User(ext_), L"");
    EXPECT_EQ(GetFileType(ext_), L"machine.type");
    SetText(HKEY_CURRENT_USER, User(ext_), L"user.type");
    EXPECT_EQ(GetFileType(ext_), L"user.type");

    // The platform's own registrations are read as they are.
    EXPECT_EQ(GetFileType(L".txt"), L"txtfile");
}

TEST_F(FileTypeTest, IconHandlerAndDefaultIcon) {
    EXPECT_EQ(GetIconHandler(type_), L"");
    EXPECT_EQ(GetDefaultIconValue(type_), L"");

    SetText(HKEY_LOCAL_MACHINE, Machine(type_ + L"\\ShellEx\\IconHandler"), L"{machine}");
    SetText(HKEY_LOCAL_MACHINE, Machine(type_ + L"\\DefaultIcon"), L"  %SystemRoot%\\m.dll,-7 \t");
    EXPECT_EQ(GetIconHandler(type_), L"{machine}");
    // The machine's value is trimmed, and expandable strings are read unexpanded.
    EXPECT_EQ(GetDefaultIconValue(type_), L"%SystemRoot%\\m.dll,-7");

    SetText(HKEY_CURRENT_USER, User(type_ + L"\\ShellEx\\IconHandler"), L"{user}");
    SetText(HKEY_CURRENT_USER, User(type_ + L"\\DefaultIcon"), L"%SystemRoot%\\u.dll,3 ", REG_EXPAND_SZ);
    EXPECT_EQ(GetIconHandler(type_), L"{user}");
    EXPECT_EQ(GetDefaultIconValue(type_), L"%SystemRoot%\\u.dll,3 ");
}

TEST_F(FileTypeTest, DescribeIconHandler) {
    EXPECT_EQ(DescribeIconHandler(clsid_), L"");
    EXPECT_EQ(DescribeIconHandler(L""), L"");
    SetText(HKEY_LOCAL_MACHINE, Machine(L"CLSID\\" + clsid_), L"Other Icon Handler");
    EXPECT_EQ(DescribeIconHandler(clsid_), clsid_ + L"\r\nOther Icon Handler");
    SetText(HKEY_LOCAL_MACHINE, Machine(L"CLSID\\" + clsid_ + L"\\InprocServer32"), L"C:\\Other\\handler.dll");
    EXPECT_EQ(DescribeIconHandler(clsid_), clsid_ + L"\r\nOther Icon Handler\r\nC:\\Other\\handler.dll");
}

TEST_F(FileTypeTest, ValuesOfEveryShapeAreReadWithinTheirBounds) {
    // A text stored without its terminating NUL, and one with bytes after an inner NUL.
    const wchar_t raw[] = {L'a', L'b', L'c'};
    SetValue(HKEY_CURRENT_USER, User(ext_), REG_SZ, raw, sizeof(raw));
    EXPECT_EQ(GetFileType(ext_), L"abc");
    const wchar_t inner[] = L"abc\0def";
    SetValue(HKEY_CURRENT_USER, User(ext_), REG_SZ, inner, sizeof(inner));
    EXPECT_EQ(GetFileType(ext_), L"abc");
    // An odd byte count leaves half a character, which is dropped.
    const char odd[] = {'x', 0, 'y'};
    SetValue(HKEY_CURRENT_USER, User(ext_), REG_SZ, odd, sizeof(odd));
    EXPECT_EQ(GetFileType(ext_), L"x");
    // A long value is read whole.
    const std::wstring longText(100000, L'q');
    SetText(HKEY_CURRENT_USER, User(type_ + L"\\DefaultIcon"), longText + L",4");
    EXPECT_EQ(GetDefaultIconValue(type_).size(), longText.size() + 2);
    EXPECT_EQ(ParseIconLocation(GetDefaultIconValue(type_)).Index, 4);

    // A value that is not text is a malformed registration, reported as such.
    const DWORD number = 5;
    SetValue(HKEY_CURRENT_USER, User(ext_), REG_DWORD, &number, sizeof(number));
    try {
        GetFileType(ext_);
        ADD_FAILURE() << "no failure";
    } catch (const ERegistryException& e) {
        EXPECT_NE(std::string(e.what()).find("Invalid data type"), std::string::npos) << e.what();
    }
    const BYTE binary[] = {1, 2, 3};
    SetValue(HKEY_CURRENT_USER, User(type_ + L"\\ShellEx\\IconHandler"), REG_BINARY, binary, sizeof(binary));
    EXPECT_THROW(GetIconHandler(type_), ERegistryException);
}

TEST(ParseIconLocation, SplitsPathAndIndex) {
    struct Case {
        std::wstring text;
        std::wstring path;
        int index;
    } cases[] = {
        {L"%SystemRoot%\\system32\\imageres.dll,-102", L"%SystemRoot%\\system32\\imageres.dll", -102},
        {L"  C:\\a.dll , 1 2 \r\n", L"C:\\a.dll ", 12},  // blanks before the comma stay, blanks in the number go
        {L"C:\\icons\\a.ico", L"C:\\icons\\a.ico", 0},
        {L"%1", L"%1", 0},
        {L"\"C:\\Program Files\\x.exe\",0", L"\"C:\\Program Files\\x.exe\"", 0},
        {L"C:\\my,folder\\a.ico", L"C:\\my,folder\\a.ico", 0},  // letters after the last comma: no index
        {L"C:\\a.dll,", L"C:\\a.dll,", 0},
        {L"C:\\a.dll,-", L"", 0},  // "-" is no integer: the empty location stays as it was
        {L"123", L"123", 0},
        {L",5", L"", 5},
        {L"", L"", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        TIconPathRec r = ParseIconLocation(c.text);
        EXPECT_EQ(r.Path, c.path);
        EXPECT_EQ(r.Index, c.index);
    }
    for (const wchar_t* invalid : {L"C:\\a.dll,3-1", L"C:\\a.dll,--2", L"C:\\a.dll,99999999999"}) {
        TIconPathRec kept{L"kept", 7};
        ParseIconLocation(invalid, kept);
        EXPECT_EQ(kept.Path, L"kept") << invalid;
        EXPECT_EQ(kept.Index, 7) << invalid;
    }
    EXPECT_EQ(ParseIconLocation(L"a.dll,-2147483648").Index, INT32_MIN);
}

TEST_F(FileTypeTest, IconLocationOfAFile) {
    TempDir dir;
    // A system folder of the test's own, holding the icon libraries the lookups name.
    TempDir systemRoot;
    ScopedEnv root(L"SystemRoot", systemRoot.path());
    ASSERT_TRUE(ForceFolder(systemRoot / L"System32"));
    WriteFile(systemRoot / L"System32\\imageres.dll", "MZ");
    const std::wstring doc = dir / (L"report" + ext_);
    WriteFile(doc, "x");
    SetText(HKEY_CURRENT_USER, User(ext_), type_);
    const std::wstring icon = User(type_ + L"\\DefaultIcon");

    SetText(HKEY_CURRENT_USER, icon, L"%SystemRoot%\\system32\\imageres.dll,-102", REG_EXPAND_SZ);
    TIconPathRec r = GetIconLocation(doc);
    EXPECT_TRUE(SameFileName(r.Path, SystemPath(L"imageres.dll"))) << r.Path;
    EXPECT_EQ(r.Index, -102);

    // The document is its own icon.
    SetText(HKEY_CURRENT_USER, icon, L"%1");
    r = GetIconLocation(doc);
    EXPECT_EQ(r.Path, doc);
    EXPECT_EQ(r.Index, 0);

    // Quotes go; a bare file name is searched on PATH.
    WriteFile(dir / L"vt-type.ico", "x");
    ScopedEnv path(L"PATH", L"C:\\nowhere;" + dir.path());
    SetText(HKEY_CURRENT_USER, icon, L"\"vt-type.ico\",3");
    r = GetIconLocation(doc);
    EXPECT_EQ(r.Path, dir / L"vt-type.ico");
    EXPECT_EQ(r.Index, 3);
    // Not found anywhere: no path, and the caller reports the missing icon.
    SetText(HKEY_CURRENT_USER, icon, L"vt-missing.ico,1");
    EXPECT_EQ(GetIconLocation(doc).Path, L"");

    // %ProgramFiles% always means the system drive's "Program Files".
    ScopedEnv pf(L"ProgramFiles", dir.path());
    const std::wstring folder = ExpandPath(L"%SystemDrive%\\Program Files\\VantrelTest" + ext_);
    ASSERT_TRUE(ForceFolder(folder));
    WriteFile(folder + L"\\t.ico", "x");
    SetText(HKEY_CURRENT_USER, icon, L"\"%ProgramFiles%\\VantrelTest" + ext_ + L"\\t.ico\",-5");
    r = GetIconLocation(doc);
    DeleteFolderTree(folder);
    EXPECT_EQ(r.Path, folder + L"\\t.ico");
    EXPECT_EQ(r.Index, -5);

    // No DefaultIcon, or one whose index is no integer: the generic document icon.
    for (const wchar_t* value : {L"", L"C:\\a.dll,3-1"}) {
        SetText(HKEY_CURRENT_USER, icon, value);
        r = GetIconLocation(doc);
        EXPECT_TRUE(SameFileName(r.Path, SystemPath(L"imageres.dll"))) << value << L" " << r.Path;
        EXPECT_EQ(r.Index, 2) << value;
    }
}

TEST_F(FileTypeTest, ProgramsGetTheGenericProgramIcon) {
    TempDir dir;
    const std::wstring program = dir / L"tool.EXE";
    WriteFile(program, "MZ");
    TIconPathRec r = GetIconLocation(program);
    EXPECT_TRUE(SameFileName(r.Path, SystemPath(L"imageres.dll"))) << r.Path;
    EXPECT_EQ(r.Index, 11);
}

TEST_F(FileTypeTest, DefaultIconFollowsTheSystemVersion) {
    TempDir dir;
    const std::wstring doc = dir / (L"a" + ext_);
    WriteFile(doc, "x");
    SetText(HKEY_CURRENT_USER, User(ext_), type_);

    SetOSMajorVersionSource([]() { return 5; });
    RecomputeDefaultIconLocation();
    EXPECT_EQ(DefaultIconLocation(), L"%SystemRoot%\\System32\\shell32.dll,0");
    TIconPathRec r = GetIconLocation(doc);
    // Kept for the run: a later change of the version source does not move it.
    SetOSMajorVersionSource(nullptr);
    EXPECT_EQ(DefaultIconLocation(), L"%SystemRoot%\\System32\\shell32.dll,0");
    RecomputeDefaultIconLocation();
    EXPECT_TRUE(SameFileName(r.Path, SystemPath(L"shell32.dll"))) << r.Path;
    EXPECT_EQ(r.Index, 0);
    EXPECT_EQ(DefaultIconLocation(), L"%SystemRoot%\\System32\\imageres.dll,2");
}

TEST_F(FileTypeTest, EnsureIconHandlerInTheUsersOwnRegistration) {
    CreateKey(HKEY_CURRENT_USER, User(type_));
    EnsureIconHandler(ext_, type_);
    EXPECT_EQ(GetIconHandler(type_), ShellExtensionCLSID);
    EXPECT_EQ(ReadRegString(HKEY_CURRENT_USER, User(type_ + L"\\ShellEx\\IconHandler"), L""),
              std::wstring(ShellExtensionCLSID));
    // Another handler already there stays.
    SetText(HKEY_CURRENT_USER, User(type_ + L"\\ShellEx\\IconHandler"), L"{someone-else}");
    EnsureIconHandler(ext_, type_);
    EXPECT_EQ(GetIconHandler(type_), L"{someone-else}");
}

TEST_F(FileTypeTest, EnsureIconHandlerOfAMachineTypeAsksTheService) {
    RegistratorTimeouts saved = GetRegistratorTimeouts();
    SetRegistratorTimeouts({2000, 2000});
    {
        LoopbackServer server(LoopbackServer::Response(200, "OK", "OK"));
        ASSERT_TRUE(server.ok());
        ScopedServicePort port(static_cast<DWORD>(server.port()));
        EXPECT_NO_THROW(EnsureIconHandler(ext_, type_));
        auto requests = server.requests();
        ASSERT_EQ(requests.size(), 1u);
        const std::string line = requests[0].substr(0, requests[0].find("\r\n"));
        EXPECT_EQ(line, "GET /?ext=" + std::string(ext_.begin(), ext_.end()) + "&filetype=" +
                            std::string(type_.begin(), type_.end()) + " HTTP/1.1");
        // The user's registrations were not touched.
        EXPECT_FALSE(ReadRegString(HKEY_CURRENT_USER, User(type_ + L"\\ShellEx\\IconHandler"), L""));
    }
    {
        ScopedServicePort port(static_cast<DWORD>(UnusedLoopbackPort()));
        try {
            EnsureIconHandler(ext_, type_);
            ADD_FAILURE() << "no failure";
        } catch (const IconRegisterException& e) {
            EXPECT_EQ(e.ErrorCode, 6);
        }
    }
    SetRegistratorTimeouts(saved);
}
