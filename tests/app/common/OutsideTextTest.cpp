// The readers of text that files bring with them, natively: list files (and the journal,
// which has their format), the info stream's marking, the marking records, and what the
// text of a path names before anything is opened.
#include <gtest/gtest.h>

#include "app/common/PathText.h"
#include "app/common/TextFormat.h"
#include "app/engine/InfoStreamText.h"
#include "app/engine/MarkingRecordsText.h"

using namespace vantrel;
using namespace std::string_literals;

namespace {

// The ANSI code page of these tests: each byte is the character of the same value.
std::wstring Latin1(std::string_view bytes) {
    std::wstring text;
    for (char c : bytes) text += static_cast<wchar_t>(static_cast<unsigned char>(c));
    return text;
}

std::string Utf16(std::wstring_view text) {
    std::string bytes = "\xFF\xFE";
    for (wchar_t c : text) {
        bytes += static_cast<char>(static_cast<unsigned>(c) & 0xFF);
        bytes += static_cast<char>((static_cast<unsigned>(c) >> 8) & 0xFF);
    }
    return bytes;
}

std::wstring Fold(const std::wstring& path) {
    std::wstring folded = path;
    for (wchar_t& c : folded)
        if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
    return folded;
}

}  // namespace

TEST(ListFileText, EveryEncodingAndWhatCannotNameAFile) {
    // ANSI, every kind of line end, empty lines dropped silently.
    TListFileText list = ReadListFileText("C:\\a.txt\r\n\r\nC:\\b\xE9.txt\rC:\\c.txt\n", Latin1);
    EXPECT_EQ(list.Encoding, TListEncoding::Ansi);
    EXPECT_EQ(list.Entries, (std::vector<std::wstring>{L"C:\\a.txt", L"C:\\b\x00E9.txt", L"C:\\c.txt"}));
    EXPECT_EQ(list.LeftOut, 0u);

    // UTF-8 behind its mark; a line that is no UTF-8 is left out, not guessed at.
    list = ReadListFileText("\xEF\xBB\xBF" "C:\\\xE6\x97\xA5.txt\r\nC:\\\xC0\xAF.txt\r\n", Latin1);
    EXPECT_EQ(list.Encoding, TListEncoding::Utf8);
    EXPECT_EQ(list.Entries, (std::vector<std::wstring>{L"C:\\\x65E5.txt"}));
    EXPECT_EQ(list.LeftOut, 1u);

    // UTF-16 behind its mark, split on its own code units: U+0D0A holds the bytes of CR LF.
    list = ReadListFileText(Utf16(L"C:\\\x0D0A.txt\r\nC:\\z.txt") + "\x41", Latin1);
    EXPECT_EQ(list.Encoding, TListEncoding::Utf16);
    EXPECT_EQ(list.Entries, (std::vector<std::wstring>{L"C:\\\x0D0A.txt", L"C:\\z.txt"}));

    // A NUL would cut the path short at every platform call, so that "C:\a.txt<NUL>x"
    // named C:\a.txt itself (and its streams would be written over its data): left out.
    list = ReadListFileText("C:\\a.txt\0x\r\nC:\\t\tb.txt\r\nC:\\ok.txt"s, Latin1);
    EXPECT_EQ(list.Entries, (std::vector<std::wstring>{L"C:\\ok.txt"}));
    EXPECT_EQ(list.LeftOut, 2u);

    // Longer than any path: left out without being decoded; the longest path stays.
    const std::string longest = "C:\\" + std::string(kMaxPathChars - 3, 'a');
    list = ReadListFileText(longest + "\r\n" + std::string(70000, 'b') + "\r\n" + longest + "a", Latin1);
    ASSERT_EQ(list.Entries.size(), 1u);
    EXPECT_EQ(list.Entries[0].size(), kMaxPathChars);
    EXPECT_EQ(list.LeftOut, 2u);
}

TEST(Utf8Text, StrictDecodingAndThePlatformsEncoding) {
    EXPECT_EQ(DecodeUtf8("a\xC3\xA9\xE6\x97\xA5\xF0\x9F\x98\x80"), std::wstring(L"a\x00E9\x65E5\xD83D\xDE00"));
    for (const char* bad : {"\xC0\xAF", "\xE0\x80\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xE6\x97", "\x80", "\xFF"})
        EXPECT_FALSE(DecodeUtf8(bad)) << bad;
    EXPECT_EQ(EncodeUtf8(L"a\x00E9\x65E5\xD83D\xDE00"), "a\xC3\xA9\xE6\x97\xA5\xF0\x9F\x98\x80");
    EXPECT_EQ(EncodeUtf8(std::wstring(L"\xD83D" L"x")), "\xEF\xBF\xBDx");  // an unpaired surrogate
    EXPECT_EQ(PrintableText(std::wstring(L"a\0b\tc", 5)), L"a?b?c");
}

TEST(PathText, WhatAPathNamesBeforeAnythingIsOpened) {
    struct Case {
        const wchar_t* path;
        TPathKind kind;
        wchar_t drive;
    } cases[] = {
        {L"C:\\Program Files\\Vantrel\\icl\\Main.icl", TPathKind::Drive, L'C'},
        {L"d:relative.icl", TPathKind::Drive, L'D'},
        {L"\\\\?\\c:\\long\\Main.icl", TPathKind::Drive, L'C'},
        {L"\\\\127.0.0.1\\vbtrap\\Main.icl", TPathKind::Network, 0},
        {L"//server/share/Main.icl", TPathKind::Network, 0},
        {L"\\/server\\share", TPathKind::Network, 0},
        {L"\\\\server@SSL\\DavWWWRoot\\m.icl", TPathKind::Network, 0},
        {L"\\\\?\\UNC\\server\\share\\m.icl", TPathKind::Device, 0},
        {L"\\\\?\\GLOBALROOT\\Device\\Mup\\server\\share\\m.icl", TPathKind::Device, 0},
        {L"\\\\.\\C:\\m.icl", TPathKind::Device, 0},
        {L"\\\\?\\Volume{0a1b2c3d-0000-0000-0000-000000000000}\\m.icl", TPathKind::Device, 0},
        {L"\\??\\UNC\\server\\share\\m.icl", TPathKind::Device, 0},
        {L"http://server/m.icl", TPathKind::Url, 0},
        {L"file://server/share/m.icl", TPathKind::Url, 0},
        {L"Main.icl", TPathKind::Relative, 0},
        {L"\\icl\\Main.icl", TPathKind::Relative, 0},
        {L"..\\Main.icl", TPathKind::Relative, 0},
    };
    for (const Case& c : cases) {
        const TPathForm form = ClassifyPathText(c.path);
        EXPECT_EQ(form.Kind, c.kind) << std::string(c.path, c.path + wcslen(c.path));
        EXPECT_EQ(form.Drive, c.drive);
    }
    EXPECT_TRUE(IsBareFileName(L"Main.icl"));
    EXPECT_FALSE(IsBareFileName(L"icl\\Main.icl"));
    EXPECT_FALSE(IsBareFileName(L"C:Main.icl"));
    EXPECT_FALSE(IsBareFileName(L""));
}

TEST(InfoStreamText, ReadAsTheProfileFunctionsReadIt) {
    // The first section and the first line of a repeated key count; the value is trimmed.
    IniText info(L"[other]\r\nColor=1\r\n[VANTREL]\r\noverlayiconfile =  C:\\m.icl \r\nOverlayIconFile=\\\\x\\y\r\n"
                 L"OverlayIconIndex=0x10\r\nColor=-1\r\n[vantrel]\r\nColor=2\r\n");
    TInfoMarking m = ReadInfoMarking(info);
    EXPECT_EQ(m.MarkerFile, L"C:\\m.icl");
    EXPECT_EQ(m.MarkerIndex, 16);
    EXPECT_EQ(m.Color, -1);  // a colour beyond 0xFFFFFF: its three low bytes tint, it is no "no colour"

    // Values that are no integers give the defaults; no key is no marker.
    m = ReadInfoMarking(IniText(L"[vantrel]\r\nOverlayIconIndex=six\r\nColor=99999999999\r\n"));
    EXPECT_FALSE(m.HasMarker());
    EXPECT_EQ(m.MarkerIndex, 0);
    EXPECT_EQ(m.Color, kNoColor);
}

TEST(MarkingRecordsText, ANulInALibraryIsNoRecordAndCompactionKeepsWhatItCannotRead) {
    TRecordChange change;
    std::wstring reason;
    EXPECT_FALSE(ParseRecordLine("+\tC:\\\\a.txt\tC:\\\\m.icl\0\\\\\\\\srv\\\\x\t6\t255\t2024-05-06T07:08:09Z"s, change, reason));
    EXPECT_EQ(reason, L"its marker library names no file");

    TRecordChange mark;
    mark.Record = {L"C:\\a.txt", L"\\\\srv\\share\\m.icl", 6, 255, L"2024-05-06T07:08:09Z"};
    const std::string text = std::string(kRecordsVersionLine) + "\r\n" + FormatRecordLine(mark) +
                             "\r\nrubbish\r\n+\tc:\\\\A.TXT\t\t0\t1\t2024-05-06T07:08:10Z\r\n";
    const TParsedRecords parsed = ParseRecordsText(text);
    const TRecordContents contents = RecordContents(parsed, Fold);
    ASSERT_EQ(contents.Records.size(), 1u);  // the last line of the path holds
    EXPECT_EQ(contents.Records[0].Color, 1);
    ASSERT_EQ(contents.Unreadable.size(), 1u);
    EXPECT_EQ(contents.Unreadable[0].Number, 3u);
    EXPECT_EQ(CompactedRecordsText(parsed, Fold),
              std::string(kRecordsVersionLine) + "\r\nrubbish\r\n+\tc:\\\\A.TXT\t\t0\t1\t2024-05-06T07:08:10Z\r\n");
    EXPECT_EQ(LiveRecordLines(parsed, Fold), 2u);
}
