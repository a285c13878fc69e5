// Edge behaviour of the text and path helpers, which shows directly in the
// output at unclosed groups, odd paths and unusual leading bytes.
#include <cstdint>
#include <limits>
#include <string>

#include <gtest/gtest.h>

#include "text/text_helpers.h"

using namespace kelvarin;

namespace {

struct Group {
    std::int64_t result;
    std::string out;
    std::int64_t pos;
};

Group group_of(const std::string& text, std::int64_t pos, const char* open = "{",
               const char* close = "}") {
    Group g{0, "untouched", pos};
    g.result = extract_group(text, g.out, g.pos, open, close);
    return g;
}

}  // namespace

TEST(ExtractGroup, ClosedGroup) {
    Group g = group_of("\\section{Intro}", 0);
    EXPECT_EQ(g.result, 14);
    EXPECT_EQ(g.out, "Intro");
    EXPECT_EQ(g.pos, 8);
}

TEST(ExtractGroup, UnclosedGroupWritesOutAndPos) {
    Group g = group_of("\\section{Intro", 0);
    EXPECT_EQ(g.result, -1);
    EXPECT_EQ(g.out, "Intro");
    EXPECT_EQ(g.pos, 8);
}

TEST(ExtractGroup, NoOpeningTouchesNothing) {
    Group g = group_of("\\section Intro", 3);
    EXPECT_EQ(g.result, -1);
    EXPECT_EQ(g.out, "untouched");
    EXPECT_EQ(g.pos, 3);
}

TEST(ExtractGroup, DoesNotNest) {
    Group g = group_of("{a{b}c}", 0);
    EXPECT_EQ(g.result, 4);
    EXPECT_EQ(g.out, "a{b");
}

TEST(ExtractGroup, DollarPairsWalkLeftToRight) {
    Group g = group_of("x $a$ and $b$", 0, "$", "$");
    EXPECT_EQ(g.result, 4);
    EXPECT_EQ(g.out, "a");
    EXPECT_EQ(g.pos, 2);
    g = group_of("x $a$ and $b$", 5, "$", "$");
    EXPECT_EQ(g.result, 12);
    EXPECT_EQ(g.out, "b");
    EXPECT_EQ(g.pos, 10);
}

TEST(ExtractGroup, EmptyDollarPair) {
    Group g = group_of("$$", 0, "$", "$");
    EXPECT_EQ(g.result, 1);
    EXPECT_EQ(g.out, "");
    EXPECT_EQ(g.pos, 0);
}

TEST(ExtractGroup, OpeningAtEndGivesEmptyContent) {
    Group g = group_of("ab{", 0);
    EXPECT_EQ(g.result, -1);
    EXPECT_EQ(g.out, "");
    EXPECT_EQ(g.pos, 2);
}

TEST(ExtractGroup, PositionAtOrBeyondEnd) {
    EXPECT_EQ(group_of("{a}", 3).result, -1);
    EXPECT_EQ(group_of("{a}", 99).result, -1);
    EXPECT_EQ(group_of("{a}", 99).out, "untouched");
}

TEST(ExtractGroup, BytesAreData) {
    const std::string text("\0{a\0b}", 6);
    Group g = group_of(text, 0);
    EXPECT_EQ(g.result, 5);
    EXPECT_EQ(g.out, std::string("a\0b", 3));
}

TEST(TrimLeadingBlanks, SpacesAndTabs) {
    std::string s = "  \tx y ";
    trim_leading_blanks(s);
    EXPECT_EQ(s, "x y ");
}

TEST(TrimLeadingBlanks, AtSignIsABlank) {
    std::string s = "@param";
    trim_leading_blanks(s);
    EXPECT_EQ(s, "param");
    s = "@@ @x";
    trim_leading_blanks(s);
    EXPECT_EQ(s, "x");
}

TEST(TrimLeadingBlanks, ShiftJisBytesEachOnTheirOwn) {
    std::string s = "\x81\x40\x41";
    trim_leading_blanks(s);
    EXPECT_EQ(s, "A");
    s = "\x81\x75\x41";
    trim_leading_blanks(s);
    EXPECT_EQ(s, "uA");
}

TEST(TrimLeadingBlanks, BlanksOnlyAndEmpty) {
    std::string s = " \t@\x81";
    trim_leading_blanks(s);
    EXPECT_EQ(s, "");
    trim_leading_blanks(s);
    EXPECT_EQ(s, "");
}

TEST(StripExtension, LastDotAnywhereInThePath) {
    EXPECT_EQ(strip_extension("paper.tex"), "paper");
    EXPECT_EQ(strip_extension("a.b.tex"), "a.b");
    EXPECT_EQ(strip_extension("paper."), "paper");
    EXPECT_EQ(strip_extension(".tex"), "");
    EXPECT_EQ(strip_extension("paper"), "paper");
    EXPECT_EQ(strip_extension("v1.2/paper"), "v1");
    EXPECT_EQ(strip_extension("dir\\paper"), "dir\\paper");
}

TEST(BaseName, BackslashWinsOverSlash) {
    EXPECT_EQ(base_name("C:\\tex\\paper"), "paper");
    EXPECT_EQ(base_name("tex/paper"), "paper");
    EXPECT_EQ(base_name("a/b\\c/d"), "c/d");
    EXPECT_EQ(base_name("dir\\"), "");
    EXPECT_EQ(base_name("C:paper"), "C:paper");
    EXPECT_EQ(base_name("paper"), "paper");
}

TEST(IntToString, PlainDecimal) {
    EXPECT_EQ(int_to_string(0), "0");
    EXPECT_EQ(int_to_string(12), "12");
    EXPECT_EQ(int_to_string(-7), "-7");
    EXPECT_EQ(int_to_string(std::numeric_limits<std::int32_t>::max()), "2147483647");
    EXPECT_EQ(int_to_string(std::numeric_limits<std::int32_t>::min()), "-2147483648");
    EXPECT_EQ(int_to_string(std::numeric_limits<std::int64_t>::max()), "9223372036854775807");
    EXPECT_EQ(int_to_string(std::numeric_limits<std::int64_t>::min()), "-9223372036854775808");
}
