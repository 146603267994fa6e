// The icon handler as the shell uses it: IPersistFile::Load with a file's path, then
// IExtractIconW, against real files, streams and DefaultIcon registrations.
#include <shlobj.h>
#include <shobjidl.h>

#include <string>

#include "HandlerFixture.h"

using namespace shlexttest;

bool RegisteredExtension::registered_ = false;

namespace {

// A file type of the tests' own, registered where the handler looks (the 64-bit view).
const wchar_t kExt[] = L".vtxicon";
const wchar_t kType[] = L"Vantrel.TestIconType";

struct Answer {
    HRESULT hr = E_FAIL;
    std::wstring location;
    int index = 0;
    UINT flags = 0;
};

class IconHandler : public RegisteredExtension {
protected:
    void SetUp() override {
        RegisteredExtension::SetUp();
        ASSERT_TRUE(SetRegString(HKEY_CLASSES_ROOT, kExt, nullptr, kType, KEY_WOW64_64KEY));
    }
    void TearDown() override {
        DeleteKeyTree(HKEY_CLASSES_ROOT, kExt, KEY_WOW64_64KEY);
        DeleteKeyTree(HKEY_CLASSES_ROOT, kType, KEY_WOW64_64KEY);
    }
    static void SetDefaultIcon(const std::wstring& value) {
        ASSERT_TRUE(SetRegString(HKEY_CLASSES_ROOT, std::wstring(kType) + L"\\DefaultIcon", nullptr, value,
                                 KEY_WOW64_64KEY));
    }

    // One shell request: a new object, Load, GetIconLocation, Extract.
    Answer Ask(const std::wstring& file, UINT cchMax = MAX_PATH, UINT uFlags = GIL_FORSHELL, bool load = true) {
        Answer a;
        IPersistFile* pf = Create<IPersistFile>(IID_IPersistFile);
        if (!pf) return a;
        if (load) {
            EXPECT_EQ(pf->Load(file.c_str(), STGM_READ), S_OK);
        }
        IExtractIconW* ex = nullptr;
        EXPECT_EQ(pf->QueryInterface(IID_IExtractIconW, reinterpret_cast<void**>(&ex)), S_OK);
        std::wstring buffer(cchMax + 8, L'#');
        buffer[cchMax + 7] = 0;
        int index = 12345;
        UINT flags = 0xBEEF;
        a.hr = ex->GetIconLocation(uFlags, buffer.data(), cchMax, &index, &flags);
        if (a.hr == S_OK) {
            a.location = buffer.c_str();
            EXPECT_LT(a.location.size(), cchMax);
            a.index = index;
            a.flags = flags;
        } else {
            // No answer: the caller's buffers stay as they were.
            EXPECT_EQ(buffer, std::wstring(cchMax + 7, L'#') + L'\0');
            EXPECT_EQ(index, 12345);
            EXPECT_EQ(flags, 0xBEEFu);
        }
        // The shell extracts the icon itself; Extract touches none of its arguments.
        HICON large = reinterpret_cast<HICON>(1), small = reinterpret_cast<HICON>(2);
        EXPECT_EQ(ex->Extract(a.location.c_str(), 0, &large, &small, MAKELONG(32, 16)), S_FALSE);
        EXPECT_EQ(large, reinterpret_cast<HICON>(1));
        EXPECT_EQ(small, reinterpret_cast<HICON>(2));
        ex->Release();
        pf->Release();
        return a;
    }
};

TEST_F(IconHandler, MarkedFileAnswersItsStreamForEveryRequestKind) {
    TempDir dir;
    const std::wstring file = dir / L"report.final.vtxicon";
    ASSERT_TRUE(WriteBytes(file, "text"));
    ASSERT_TRUE(WriteBytes(file + L":vantrelicon", "not even an icon"));  // content is not checked
    SetDefaultIcon(L"C:\\types\\text.dll,3");
    for (UINT f : {0u, UINT(GIL_FORSHELL), UINT(GIL_ASYNC), UINT(GIL_OPENICON)}) {
        Answer a = Ask(file, MAX_PATH, f);
        EXPECT_EQ(a.hr, S_OK);
        EXPECT_EQ(a.location, file + L":vantrelicon");
        EXPECT_EQ(a.index, 0);
        EXPECT_EQ(a.flags, UINT(GIL_DONTCACHE));
    }

    // Held open for writing by someone who shares reading: still found.
    HANDLE writer = CreateFileW((file + L":vantrelicon").c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Ask(file).location, file + L":vantrelicon");
    CloseHandle(writer);

    // Stream gone: the type's icon; nothing was cached.
    ASSERT_TRUE(DeleteFileW((file + L":vantrelicon").c_str()));
    Answer a = Ask(file);
    EXPECT_EQ(a.hr, S_OK);
    EXPECT_EQ(a.location, L"C:\\types\\text.dll");
    EXPECT_EQ(a.index, 3);
    EXPECT_EQ(a.flags, UINT(GIL_DONTCACHE));
}

TEST_F(IconHandler, DefaultIconValuesOfAllShapes) {
    TempDir dir;
    const std::wstring file = dir / L"plain.vtxicon";
    ASSERT_TRUE(WriteBytes(file, "x"));
    struct Case {
        const wchar_t* value;
        std::wstring location;
        int index;
    };
    const Case cases[] = {
        {L"%1", file, 0},                                                     // the file's own icon
        {L"%1,0", file, 0},
        {L"\"%1\"", file, 0},
        {L"%1,2", L"%1", 2},                                                  // "%1" with another index stays
        {L"%1,-7", L"%1", -7},
        {L"\"C:\\Program Files\\Tool\\tool.exe\",-101", L"C:\\Program Files\\Tool\\tool.exe", -101},
        {L"\"C:\\Icons\\set.icl\"", L"C:\\Icons\\set.icl", 0},                // no comma
        {L"C:\\a,b\\lib.dll, 4", L"C:\\a,b\\lib.dll", 4},                     // the last comma counts
        {L"C:\\lib.dll,12abc", L"C:\\lib.dll", 12},                           // reading stops at the letter
        {L"C:\\lib.dll,+5", L"C:\\lib.dll", 5},
    };
    for (const auto& c : cases) {
        SetDefaultIcon(c.value);
        Answer a = Ask(file);
        EXPECT_EQ(a.hr, S_OK) << Utf8(c.value);
        EXPECT_EQ(a.location, c.location) << Utf8(c.value);
        EXPECT_EQ(a.index, c.index) << Utf8(c.value);
        EXPECT_EQ(a.flags, UINT(GIL_DONTCACHE)) << Utf8(c.value);
    }
    // Index parts that are no 32-bit integer: no location.
    for (const wchar_t* value : {L"C:\\lib.dll,abc", L"C:\\lib.dll,", L"C:\\lib.dll,99999999999", L""}) {
        SetDefaultIcon(value);
        EXPECT_EQ(Ask(file).hr, S_FALSE) << Utf8(value);
    }
}

TEST_F(IconHandler, WithoutRegistrationOrExtensionNoLocationIsAnswered) {
    TempDir dir;
    // The type has no DefaultIcon key.
    EXPECT_EQ(Ask(dir / L"a.vtxicon").hr, S_FALSE);
    // An extension nobody registered.
    EXPECT_EQ(Ask(dir / L"a.vtxunregistered").hr, S_FALSE);
    // No dot in the name: the text from the folder's dot is no registered extension.
    SetDefaultIcon(L"C:\\types\\text.dll,3");
    const std::wstring folder = dir / L"x.vtxicon";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    EXPECT_EQ(Ask(folder + L"\\README").hr, S_FALSE);
    EXPECT_EQ(Ask(dir / L"b.vtxicon").location, L"C:\\types\\text.dll");
    // Load never called.
    EXPECT_EQ(Ask(L"", MAX_PATH, 0, false).hr, S_FALSE);
}

TEST_F(IconHandler, NothingIsCutToFitTheCallersBuffer) {
    TempDir dir;
    // A path whose stream path does not fit 260 characters.
    std::wstring deep = dir.path();
    while (deep.size() < 200) {
        deep += L"\\folder_with_a_long_name";
        ASSERT_TRUE(CreateDirectoryW(deep.c_str(), nullptr));
    }
    const std::wstring file = deep + L"\\" + std::wstring(250 - deep.size(), L'n') + L".vtxicon";
    ASSERT_GT(file.size() + 12, size_t(MAX_PATH));
    ASSERT_LT(file.size(), size_t(MAX_PATH));
    ASSERT_TRUE(WriteBytes(file, "x"));
    ASSERT_TRUE(WriteBytes(file + L":vantrelicon", "icon"));
    SetDefaultIcon(L"C:\\types\\text.dll,3");
    // The stream counts as absent; the type's icon is answered.
    Answer a = Ask(file);
    EXPECT_EQ(a.hr, S_OK);
    EXPECT_EQ(a.location, L"C:\\types\\text.dll");
    // With room enough the stream is answered whole.
    a = Ask(file, 2 * MAX_PATH);
    EXPECT_EQ(a.location, file + L":vantrelicon");
    // "%1" naming a file longer than the buffer: no location rather than a cut one.
    SetDefaultIcon(L"%1");
    EXPECT_EQ(Ask(file, 100).hr, S_FALSE);
    // A DefaultIcon location longer than the buffer: the same.
    SetDefaultIcon(L"C:\\types\\text.dll,3");
    EXPECT_EQ(Ask(dir / L"short.vtxicon", 10).hr, S_FALSE);
    EXPECT_EQ(Ask(dir / L"short.vtxicon", 18).location, L"C:\\types\\text.dll");
}

}  // namespace
