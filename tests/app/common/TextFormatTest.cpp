#include "app/common/TextFormat.h"

#include <gtest/gtest.h>

using namespace vantrel;

TEST(ListFileFormat, SplitsEveryKindOfLineEnd) {
    auto list = SplitListFile("a\r\nb\rc\nd");
    EXPECT_FALSE(list.utf8);
    EXPECT_EQ(list.lines, (std::vector<std::string>{"a", "b", "c", "d"}));

    // A trailing line end adds no line; empty lines in between are kept for the caller.
    list = SplitListFile("a\r\n\r\n\nb\r\n");
    EXPECT_EQ(list.lines, (std::vector<std::string>{"a", "", "", "b"}));

    // CR LF split across the end of the text, and LF CR as two line ends.
    EXPECT_EQ(SplitListFile("a\r").lines, (std::vector<std::string>{"a"}));
    EXPECT_EQ(SplitListFile("a\n\rb").lines, (std::vector<std::string>{"a", "", "b"}));
    EXPECT_TRUE(SplitListFile("").lines.empty());
}

TEST(ListFileFormat, ByteOrderMarkSelectsUtf8) {
    auto list = SplitListFile("\xEF\xBB\xBF" "C:\\\xE6\x97\xA5\xE6\x9C\xAC.txt\r\nC:\\b.txt");
    EXPECT_TRUE(list.utf8);
    ASSERT_EQ(list.lines.size(), 2u);
    EXPECT_EQ(list.lines[0], "C:\\\xE6\x97\xA5\xE6\x9C\xAC.txt");

    // A partial mark is ANSI text like any other.
    list = SplitListFile("\xEF\xBB" "x");
    EXPECT_FALSE(list.utf8);
    EXPECT_EQ(list.lines[0], "\xEF\xBB" "x");
    // Only the mark: UTF-8 with no lines.
    EXPECT_TRUE(SplitListFile("\xEF\xBB\xBF").utf8);
    EXPECT_TRUE(SplitListFile("\xEF\xBB\xBF").lines.empty());
}

TEST(IntegerConversion, DecimalWithSign) {
    EXPECT_EQ(ParseInteger(L"6"), 6);
    EXPECT_EQ(ParseInteger(L"-12"), -12);
    EXPECT_EQ(ParseInteger(L"+7"), 7);
    EXPECT_EQ(ParseInteger(L"  42"), 42);
    EXPECT_EQ(ParseInteger(L"536870911"), 536870911);
    EXPECT_EQ(ParseInteger(L"2147483647"), 2147483647);
    EXPECT_EQ(ParseInteger(L"-2147483648"), INT32_MIN);
    EXPECT_EQ(ParseInteger(L"2147483648"), std::nullopt);
    EXPECT_EQ(ParseInteger(L"-2147483649"), std::nullopt);
    EXPECT_EQ(ParseInteger(L"99999999999999999999"), std::nullopt);
}

TEST(IntegerConversion, DollarHexadecimal) {
    EXPECT_EQ(ParseInteger(L"$1FFFFFFF"), 0x1FFFFFFF);
    EXPECT_EQ(ParseInteger(L"$ff"), 255);
    EXPECT_EQ(ParseInteger(L"$FFFFFFFF"), -1);
    EXPECT_EQ(ParseInteger(L"-$10"), -16);
    EXPECT_EQ(ParseInteger(L"$100000000"), std::nullopt);
    EXPECT_EQ(ParseInteger(L"$"), std::nullopt);
    EXPECT_EQ(ParseInteger(L"$G"), std::nullopt);
}

TEST(IntegerConversion, RejectsEverythingElse) {
    for (const wchar_t* bad : {L"", L"abc", L"-", L"+", L"1.5", L"12 ", L"0x10", L"1e3", L"--1", L" ", L"6a"})
        EXPECT_EQ(ParseInteger(bad), std::nullopt) << "accepted '" << std::string(bad, bad + wcslen(bad)) << "'";
    EXPECT_EQ(InvalidIntegerMessage(L"abc"), L"'abc' is not a valid integer value");
}

TEST(SwitchText, AsciiCaseOnly) {
    EXPECT_TRUE(SameTextAscii(L"-OI", L"-oi"));
    EXPECT_TRUE(SameTextAscii(L"-Oi", L"-oI"));
    EXPECT_FALSE(SameTextAscii(L"-oix", L"-oi"));
    EXPECT_FALSE(SameTextAscii(L"/oi", L"-oi"));
    EXPECT_FALSE(SameTextAscii(L"-o", L"-oi"));
    // Non-ASCII letters are compared as they are.
    EXPECT_FALSE(SameTextAscii(L"\u00C9", L"\u00E9"));
}
