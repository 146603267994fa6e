#include "app/common/IniText.h"

#include <gtest/gtest.h>

#include "imaging/Error.h"

using namespace vantrel;

TEST(IniText, WritesKeysInFirstWrittenOrderAndDeletesLines) {
    IniText ini;
    ini.Write(L"vantrel", L"OverlayIconFile", L"%ProgramFiles%\\Vantrel\\icl\\Main.icl");
    ini.Write(L"vantrel", L"OverlayIconIndex", L"6");
    ini.Write(L"vantrel", L"Color", L"255");
    EXPECT_EQ(ini.Text(),
              L"[vantrel]\r\nOverlayIconFile=%ProgramFiles%\\Vantrel\\icl\\Main.icl\r\nOverlayIconIndex=6\r\n"
              L"Color=255\r\n");

    // A rewrite keeps the line where it is and the spelling the key was first written with.
    ini.Write(L"VANTREL", L"overlayiconfile", L"C:\\m.ico");
    EXPECT_EQ(ini.Text(), L"[vantrel]\r\nOverlayIconFile=C:\\m.ico\r\nOverlayIconIndex=6\r\nColor=255\r\n");

    EXPECT_TRUE(ini.Delete(L"vantrel", L"OverlayIconFile"));
    EXPECT_TRUE(ini.Delete(L"vantrel", L"overlayIconIndex"));
    EXPECT_FALSE(ini.Delete(L"vantrel", L"OverlayIconIndex"));
    EXPECT_FALSE(ini.Delete(L"other", L"Color"));
    EXPECT_EQ(ini.Text(), L"[vantrel]\r\nColor=255\r\n");
    EXPECT_TRUE(ini.Delete(L"vantrel", L"Color"));
    EXPECT_EQ(ini.Text(), L"[vantrel]\r\n");  // the section line stays

    ini.Write(L"vantrel", L"Color", L"0");
    EXPECT_EQ(ini.Text(), L"[vantrel]\r\nColor=0\r\n");
}

TEST(IniText, ReadsAsTheProfileFunctionsDo) {
    // Every kind of line end, blanks, quotes, comments, a key line without "=", other
    // sections and a repeated section and key.
    IniText ini(L"Color=1\n[other]\r\nColor=2\r[Vantrel]\n  color  =  \"3\"  \n; OverlayIconFile=no\n"
                L"OverlayIconIndex\nOverlayIconFile='C:\\a b.ico'\r\nColor=4\r\n[vantrel]\r\nX=5");
    EXPECT_EQ(ini.Read(L"vantrel", L"Color"), L"3");
    EXPECT_EQ(ini.Read(L"VANTREL", L"overlayiconfile"), L"C:\\a b.ico");
    EXPECT_EQ(ini.Read(L"other", L"Color"), L"2");
    EXPECT_FALSE(ini.Read(L"vantrel", L"OverlayIconIndex"));
    EXPECT_FALSE(ini.Read(L"vantrel", L"X"));  // only the first [vantrel] counts
    EXPECT_FALSE(ini.Read(L"missing", L"Color"));
    EXPECT_EQ(IniText(L"[vantrel]\r\nK=\r\n").Read(L"vantrel", L"K"), L"");
    EXPECT_EQ(IniText(L"[vantrel]\r\nK=\"\r\n").Read(L"vantrel", L"K"), L"\"");
    EXPECT_EQ(IniText(L"[vantrel\r\nK=v").Read(L"vantrel", L"K"), L"v");  // unclosed bracket
    EXPECT_TRUE(IniText(L"").Lines().empty());
}

TEST(IniText, ChangesTouchOnlyTheirLine) {
    const std::wstring text = L"; kept\r\n[a]\r\nk=1\r\n\r\n[vantrel]\r\nColor=5\r\n; note\r\n\r\n[b]\r\nz=2\r\n";
    IniText ini(text);
    ini.Write(L"vantrel", L"OverlayIconIndex", L"3");
    EXPECT_EQ(ini.Text(),
              L"; kept\r\n[a]\r\nk=1\r\n\r\n[vantrel]\r\nColor=5\r\nOverlayIconIndex=3\r\n; note\r\n\r\n[b]\r\nz=2\r\n");
    ini.Write(L"new", L"k", L"v");
    EXPECT_EQ(ini.Lines().back(), L"k=v");
    EXPECT_EQ(ini.Lines()[ini.Lines().size() - 2], L"[new]");

    // A key in another section is not touched; a key line with other spacing is replaced whole.
    IniText spaced(L"[vantrel]\n  Color = 7 \n[x]\nColor=8\n");
    spaced.Write(L"vantrel", L"Color", L"9");
    EXPECT_EQ(spaced.Text(), L"[vantrel]\r\nColor=9\r\n[x]\r\nColor=8\r\n");
    // A repeated key is removed with every copy, so it reads as absent afterwards.
    IniText twice(L"[vantrel]\r\nColor=1\r\nColor=2\r\n");
    EXPECT_TRUE(twice.Delete(L"vantrel", L"Color"));
    EXPECT_FALSE(twice.Read(L"vantrel", L"Color"));
}

TEST(IniText, RefusesWhatCannotBeOneLine) {
    IniText ini(L"[vantrel]\r\nColor=1\r\n");
    EXPECT_THROW(ini.Write(L"vantrel", L"OverlayIconFile", L"a\r\nColor=2"), Error);
    EXPECT_THROW(ini.Write(L"vantrel", L"K", std::wstring(L"a\0b", 3)), Error);
    EXPECT_THROW(ini.Write(L"vantrel", L"", L"1"), Error);
    EXPECT_THROW(ini.Write(L"vantrel", L"a=b", L"1"), Error);
    EXPECT_THROW(ini.Write(L"vantrel", L"[x", L"1"), Error);
    EXPECT_THROW(ini.Write(L"vantrel", L";x", L"1"), Error);
    EXPECT_THROW(ini.Write(L"vantrel", L" k", L"1"), Error);
    EXPECT_THROW(ini.Write(L"a]b", L"k", L"1"), Error);
    EXPECT_THROW(ini.Write(L"a\nb", L"k", L"1"), Error);
    EXPECT_EQ(ini.Text(), L"[vantrel]\r\nColor=1\r\n");  // nothing changed
}

TEST(IniText, IntegersInDecimalAndHexadecimal) {
    struct Case {
        const wchar_t* text;
        std::optional<std::int32_t> value;
    } cases[] = {
        {L"255", 255},
        {L"-5", -5},
        {L"+7", 7},
        {L" 42 ", 42},
        {L"536870911", 536870911},
        {L"2147483647", 2147483647},
        {L"-2147483648", INT32_MIN},
        {L"0x1F", 31},
        {L"0X1f", 31},
        {L"$FF", 255},
        {L"0x1FFFFFFF", 0x1FFFFFFF},
        {L"0xFFFFFFFF", -1},
        {L"$00000000FF", 255},
        {L"2147483648", std::nullopt},
        {L"0x100000000", std::nullopt},
        {L"", std::nullopt},
        {L"-", std::nullopt},
        {L"0x", std::nullopt},
        {L"$", std::nullopt},
        {L"12a", std::nullopt},
        {L"0x1G", std::nullopt},
        {L"-0x10", std::nullopt},
        {L"1 2", std::nullopt},
        {L"red", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(ParseIniInteger(c.text), c.value) << "text: \"" << c.text << '"';
}
