#include "engine/MarkingFixture.h"

#include "imaging/IconLibrary.h"

#include <windows.h>

#include "app/common/FileHelpers.h"
#include "app/engine/IconExtractCache.h"
#include "app/engine/VantrelClass.h"
#include "app/registration/RegisterIconHandlerUnit.h"

namespace testsupport {

namespace {

void SetDefault(HKEY root, const std::wstring& key, const std::wstring& value) {
    RegSetKeyValueW(root, key.c_str(), nullptr, REG_SZ, value.c_str(), DWORD((value.size() + 1) * sizeof(wchar_t)));
}

void RemoveType() {
    for (const wchar_t* k : {L"Software\\Classes\\.vtdoc", L"Software\\Classes\\vtdocfile"})
        DeleteRegTree(HKEY_LOCAL_MACHINE, k);
}

}  // namespace

void MarkingTest::SetUp() {
    vantrel::TVantrel::DoneCore();
    appData_ = std::make_unique<ScopedEnv>(L"AppData", appDataDir_.path());
    temp_ = std::make_unique<ScopedEnv>(L"TEMP", tempDir_.path());
    vantrel::TVantrel::InitCore();
    DeleteRegTree(HKEY_CURRENT_USER, vantrel::kIconCacheKey);

    // The type's normal icon: a real icon group of the system's shell32.dll, with 16 to 256
    // pixel images at several depths.
    typeIcon_ = icons_ / L"type.ico";
    const std::wstring shell32 = vantrel::GetEnvVar(L"SystemRoot") + L"\\system32\\shell32.dll";
    vantrel::ExtractIconResource(std::filesystem::path(shell32), 3, std::filesystem::path(typeIcon_));
    ASSERT_TRUE(vantrel::FileExists(typeIcon_));

    RemoveType();
    SetDefault(HKEY_LOCAL_MACHINE, L"Software\\Classes\\.vtdoc", L"vtdocfile");
    SetDefault(HKEY_LOCAL_MACHINE, L"Software\\Classes\\vtdocfile", L"Test document");
    SetDefault(HKEY_LOCAL_MACHINE, L"Software\\Classes\\vtdocfile\\DefaultIcon", L"\"" + typeIcon_ + L"\"");
    SetDefault(HKEY_LOCAL_MACHINE, L"Software\\Classes\\vtdocfile\\ShellEx\\IconHandler", vantrel::ShellExtensionCLSID);

    markerLibrary_ = DistFolder().empty() ? L"" : DistFolder() + L"\\icl\\Main.icl";
    ASSERT_TRUE(vantrel::FileExists(markerLibrary_)) << "the staged Main.icl is needed";
}

void MarkingTest::TearDown() {
    RemoveType();
    DeleteRegTree(HKEY_CURRENT_USER, vantrel::kIconCacheKey);
    vantrel::TVantrel::DoneCore();
    temp_.reset();
    appData_.reset();
}

std::wstring MarkingTest::NewFile(const std::wstring& name) {
    std::wstring path = files_ / name;
    WriteFile(path, "document text");
    return path;
}

std::vector<int> MarkingTest::Sizes(const std::string& bytes) {
    vantrel::TAdvancedIcon icon;
    std::vector<int> sizes;
    if (icon.LoadFromBytes(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size())))
        for (int i = 0; i < icon.Images().Count(); ++i) sizes.push_back(icon.Images()[i]->GetWidth());
    return sizes;
}

std::string MarkingTest::IconStream(const std::wstring& file) const { return ReadFile(file + L":vantrelicon").value_or(""); }
std::string MarkingTest::InfoStream(const std::wstring& file) const {
    return ReadFile(file + L":vantreliconinfo").value_or("<none>");
}
std::string MarkingTest::Journal() const {
    return ReadFile(vantrel::TVantrel::Core().DataFolder + L"Changes.dat").value_or("<none>");
}

int MarkingTest::WorkFoldersLeft() const {
    int count = 0;
    WIN32_FIND_DATAW data;
    HANDLE h = FindFirstFileW((tempDir_.path() + L"\\{*}").c_str(), &data);
    if (h == INVALID_HANDLE_VALUE) return 0;
    do {
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ++count;
    } while (FindNextFileW(h, &data));
    FindClose(h);
    return count;
}

}  // namespace testsupport
