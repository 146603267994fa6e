#include "app/common/FileHelpers.h"

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "imaging/Error.h"

using namespace vantrel;
using namespace testsupport;

TEST(ExpandPath, QuotesBlanksAndVariables) {
    ScopedEnv var(L"VT_HOME", L"C:\\vt home");
    EXPECT_EQ(ExpandPath(L"\"%VT_HOME%\\a.txt\""), L"C:\\vt home\\a.txt");
    EXPECT_EQ(ExpandPath(L"  \t%VT_HOME%\\a.txt \r\n"), L"C:\\vt home\\a.txt");
    // Each quote is dropped on its own.
    EXPECT_EQ(ExpandPath(L"C:\\x.txt\""), L"C:\\x.txt");
    EXPECT_EQ(ExpandPath(L"\"C:\\x.txt"), L"C:\\x.txt");
    // Quotes inside blanks are not at the ends and stay.
    EXPECT_EQ(ExpandPath(L" \"C:\\x.txt\" "), L"\"C:\\x.txt\"");
    EXPECT_EQ(ExpandPath(L"\""), L"");
    EXPECT_EQ(ExpandPath(L"\"\""), L"");
    EXPECT_EQ(ExpandPath(L"   "), L"");
    // Unknown variables stay as written.
    EXPECT_EQ(ExpandPath(L"%VT_NOT_SET_ANYWHERE%\\a"), L"%VT_NOT_SET_ANYWHERE%\\a");
}

TEST(ExpandPath, ProgramFilesIsPinnedToTheSystemDrive) {
    // Even where %ProgramFiles% names another folder (a 32-bit process on 64-bit Windows).
    ScopedEnv pf(L"ProgramFiles", L"C:\\Program Files (x86)");
    const std::wstring drive = GetEnvVar(L"SystemDrive");
    ASSERT_FALSE(drive.empty());
    EXPECT_EQ(ExpandPath(L"\"%ProgramFiles%\\Vantrel\\icl\\Main.icl\""), drive + L"\\Program Files\\Vantrel\\icl\\Main.icl");
    EXPECT_EQ(ExpandPath(L"%PROGRAMFILES%\\a;%programfiles%\\b"), drive + L"\\Program Files\\a;" + drive + L"\\Program Files\\b");
}

TEST(ExpandPath, LongTextsAreNotCut) {
    ScopedEnv var(L"VT_LONG", std::wstring(3000, L'x'));
    std::wstring result = ExpandPath(L"C:\\%VT_LONG%\\%VT_LONG%\\end.txt");
    EXPECT_EQ(result.size(), 3u + 3000 + 1 + 3000 + 8);
    EXPECT_EQ(result.substr(result.size() - 8), L"\\end.txt");
}

TEST(FindOnPath, EarlierFolderWinsAndEmptyPiecesAreHarmless) {
    TempDir a, b;
    WriteFile(a / L"tool.ico", "a");
    WriteFile(b / L"tool.ico", "b");
    WriteFile(b / L"only-b.ico", "b");
    ScopedEnv path(L"PATH", L";" + b.path() + L"\\;" + a.path() + L";;" );
    EXPECT_EQ(FindOnPath(L"tool.ico"), b.path() + L"\\tool.ico");
    EXPECT_EQ(FindOnPath(L"only-b.ico"), b.path() + L"\\only-b.ico");
    EXPECT_EQ(FindOnPath(L"missing.ico"), L"");
    // A folder of that name is no match.
    CreateDirectoryW((a / L"dir.ico").c_str(), nullptr);
    EXPECT_EQ(FindOnPath(L"dir.ico"), L"");
    // An absolute name only matches as a concatenation, which does not exist here.
    EXPECT_EQ(FindOnPath(a / L"tool.ico"), L"");
}

TEST(Folders, ForceFolderCreatesParentsAndRefusesMissingDrives) {
    TempDir t;
    const std::wstring deep = t / L"a\\b\\c";
    EXPECT_TRUE(ForceFolder(deep + L"\\"));
    EXPECT_TRUE(DirectoryExists(deep));
    EXPECT_TRUE(ForceFolder(deep));  // already there

    // Find a drive letter that does not exist.
    DWORD drives = GetLogicalDrives();
    wchar_t letter = 0;
    for (wchar_t c = L'Q'; c <= L'Y'; ++c)
        if (!(drives & (1u << (c - L'A')))) {
            letter = c;
            break;
        }
    ASSERT_NE(letter, 0);
    std::wstring missing = std::wstring(1, letter) + L":\\vantrel\\x";
    EXPECT_FALSE(ForceFolder(missing));
    EXPECT_FALSE(DirectoryExists(missing));

    // A file in the way: no folder can be made there.
    WriteFile(t / L"file", "x");
    EXPECT_FALSE(ForceFolder(t / L"file\\sub"));
}

TEST(Folders, DeleteFolderTreeRemovesAllButReadOnlyFiles) {
    TempDir t;
    const std::wstring root = t / L"work";
    ASSERT_TRUE(ForceFolder(root + L"\\sub\\deeper"));
    WriteFile(root + L"\\a.txt", "a");
    WriteFile(root + L"\\.hidden", "h");
    SetFileAttributesW((root + L"\\.hidden").c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    WriteFile(root + L"\\sub\\deeper\\b.ico", "b");
    DeleteFolderTree(root);
    EXPECT_FALSE(Exists(root));

    ASSERT_TRUE(ForceFolder(root + L"\\sub"));
    WriteFile(root + L"\\sub\\keep.txt", "k");
    WriteFile(root + L"\\gone.txt", "g");
    SetFileAttributesW((root + L"\\sub\\keep.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    DeleteFolderTree(root);
    EXPECT_TRUE(Exists(root + L"\\sub\\keep.txt"));
    EXPECT_FALSE(Exists(root + L"\\gone.txt"));
    EXPECT_TRUE(Exists(root));
    SetFileAttributesW((root + L"\\sub\\keep.txt").c_str(), FILE_ATTRIBUTE_NORMAL);

    DeleteFolderTree(t / L"never-existed");  // nothing happens
}

TEST(Folders, DeleteFolderTreeNeverEmptiesALinkedFolder) {
    TempDir t;
    const std::wstring outside = t / L"outside";
    ASSERT_TRUE(ForceFolder(outside));
    WriteFile(outside + L"\\precious.txt", "keep me");
    const std::wstring work = t / L"work";
    ASSERT_TRUE(ForceFolder(work));
    WriteFile(work + L"\\scratch.ico", "x");
    if (!CreateSymbolicLinkW((work + L"\\link").c_str(), outside.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY) ||
        !(GetFileAttributesW((work + L"\\link").c_str()) & FILE_ATTRIBUTE_REPARSE_POINT))
        GTEST_SKIP() << "this system cannot make folder links";
    DeleteFolderTree(work);
    EXPECT_EQ(ReadFile(outside + L"\\precious.txt"), "keep me");
    EXPECT_FALSE(Exists(work + L"\\scratch.ico"));
}

TEST(Files, CopyFileToPathWritesStreamsAndReplacesContent) {
    TempDir t;
    const std::wstring src = t / L"icon.ico";
    const std::wstring file = t / L"doc.txt";
    std::string payload(100000, '\0');
    for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<char>(i * 7);
    WriteFile(src, payload);
    WriteFile(file, "document");

    CopyFileToPath(src, file + L":vantrelicon");
    EXPECT_EQ(ReadFile(file + L":vantrelicon"), payload);
    EXPECT_EQ(ReadFile(file), "document");

    WriteFile(src, "short");
    CopyFileToPath(src, file + L":vantrelicon");
    EXPECT_EQ(ReadFile(file + L":vantrelicon"), "short");

    EXPECT_THROW(CopyFileToPath(t / L"missing.ico", file + L":x"), vantrel::Error);
    EXPECT_THROW(CopyFileToPath(src, t / L"no-such-dir\\out.ico"), vantrel::Error);
    try {
        CopyFileToPath(t / L"missing.ico", file + L":x");
    } catch (const vantrel::Error& e) {
        EXPECT_NE(std::string(e.what()).find("Cannot open file"), std::string::npos) << e.what();
    }
}

TEST(Files, ResolveShortcutGivesTheTargetOrNothing) {
    TempDir t;
    const std::wstring target = t / L"target file.txt";
    WriteFile(target, "x");
    ASSERT_TRUE(CreateShortcut(t / L"link.lnk", target));
    EXPECT_TRUE(SameFileName(ResolveShortcut(t / L"link.lnk"), target)) << ResolveShortcut(t / L"link.lnk");

    // A target outside the ANSI code page comes back whole.
    const std::wstring wide = t / L"\u65E5\u672C \u0434.txt";
    WriteFile(wide, "x");
    ASSERT_TRUE(CreateShortcut(t / L"wide.lnk", wide));
    EXPECT_TRUE(SameFileName(ResolveShortcut(t / L"wide.lnk"), wide));

    WriteFile(t / L"broken.lnk", "this is not a shell link");
    EXPECT_EQ(ResolveShortcut(t / L"broken.lnk"), L"");
    EXPECT_EQ(ResolveShortcut(t / L"missing.lnk"), L"");
}

TEST(PathPrimitives, DirectoryAndExtensionParts) {
    EXPECT_EQ(ExtractFileDir(L"C:\\a\\b.txt"), L"C:\\a");
    EXPECT_EQ(ExtractFileDir(L"C:\\b.txt"), L"C:\\");
    EXPECT_EQ(ExtractFileDir(L"C:"), L"C:");
    EXPECT_EQ(ExtractFileDir(L"\\Kestrane"), L"\\");
    EXPECT_EQ(ExtractFileDir(L"name"), L"");
    EXPECT_EQ(ExtractFileExt(L"C:\\a.b\\file.LNK"), L".LNK");
    EXPECT_EQ(ExtractFileExt(L"C:\\a.b\\file"), L"");
    EXPECT_EQ(ExtractFileExt(L"C:\\a\\file.txt:stream"), L"");
    EXPECT_TRUE(SameFileName(L"C:\\Users\\A\\SelectedFiles.DAT", L"c:\\users\\a\\selectedfiles.dat"));
    EXPECT_FALSE(SameFileName(L"C:\\a", L"C:\\a\\"));
}
