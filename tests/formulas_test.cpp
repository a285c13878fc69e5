// Formulas become numbered image references; identical formulas share one
// number. Each case shows the wiki page and, where numbering matters, the
// equation document.
#include <gtest/gtest.h>

#include "support/harness.h"

using namespace kelvarin_test;

namespace {

const std::string kBegin = "\\begin{document}\n";

std::string ref(int n) { return "&ref(paper.eq" + std::to_string(n) + ".gif,,70%);"; }
std::string block(int n) { return "#ref(paper.eq" + std::to_string(n) + ".gif,,70%)"; }

}  // namespace

// --- Display formulas -------------------------------------------------------------

TEST(DisplayFormulas, BlockReferenceAndItsRows) {
    Converted c = convert_source(kBegin + lf({"a", "b", "c", "d", "e", "f", "g", "h", "\\[", "x = 1", "\\]"}) +
                                 "\\end{document}\n");
    EXPECT_EQ(c.wiki, crlf({"a", "b", "c", "d", "e", "f", "g", "h", block(1), ""}));
    EXPECT_EQ(c.equations, equation_document({}, {{"% paper.eq1.gif - block (row : 11 - 11)", {"x = 1"}}}));
}

TEST(DisplayFormulas, AllThreeMarkerPairs) {
    Converted c = convert_source(kBegin + lf({"\\begin{equation}", "a", "\\end{equation}",
                                              "\\begin{equation*}", "b", "\\end{equation*}",
                                              "\\[", "c", "\\end{equation}"}));
    EXPECT_EQ(c.wiki, crlf({block(1), "", block(2), "", block(3), "", ""}));
}

TEST(DisplayFormulas, OpeningMarkerInsideALineHasNoEffect) {
    EXPECT_EQ(wiki_of_body({"see \\[ here", "\\begin{equation} starts"}),
              crlf({"see \\[ here"}));
}

TEST(DisplayFormulas, EmptyAndAbandonedFormulasTakeNoNumber) {
    Converted c = convert_source(kBegin + lf({"\\[", "\\]", "\\[", "lost", "\\[", "kept", "\\]",
                                              "\\[", "", "\\]"}) + "\\end{document}\n");
    EXPECT_EQ(c.wiki, crlf({block(1), "", block(2), ""}));
    EXPECT_EQ(c.equations, equation_document({}, {{"% paper.eq1.gif - block (row : 7 - 7)", {"kept"}},
                                                  {"% paper.eq2.gif - block (row : 10 - 10)", {""}}}));
}

TEST(DisplayFormulas, OpenAtTheEndIsNeverRegistered) {
    Converted c = convert_source(kBegin + lf({"\\[", "x", "\\end{document}", "\\]"}));
    EXPECT_EQ(c.wiki, "");
    EXPECT_EQ(c.equations, equation_document({}, {}));
}

TEST(DisplayFormulas, SameTextTwiceSharesTheFirstRecord) {
    Converted c = convert_source(kBegin + lf({"\\[", "x", "\\]", "\\begin{equation}", "x", "\\end{equation}"}) +
                                 "\\end{document}\n");
    EXPECT_EQ(c.wiki, crlf({block(1), "", block(1), ""}));
    EXPECT_EQ(c.equations, equation_document({}, {{"% paper.eq1.gif - block (row : 3 - 3)", {"x"}}}));
}

TEST(DisplayFormulas, CapturedWithoutEscapesButAfterCommentCutAndTrim) {
    Converted c = convert_source(kBegin + lf({"\\[", "   a \\\\ b % why", "\\{c\\}", "\\]"}) +
                                 "\\end{document}\n");
    EXPECT_EQ(c.equations,
              equation_document({}, {{"% paper.eq1.gif - block (row : 3 - 4)", {"a \\\\ b ", "\\{c\\}"}}}));
}

TEST(DisplayFormulas, HeadingInsideIsWrittenNotCaptured) {
    Converted c = convert_source(kBegin + lf({"\\[", "\\section{S}", "y", "\\]"}) + "\\end{document}\n");
    EXPECT_EQ(c.wiki, crlf({"*S", block(1), ""}));
    EXPECT_EQ(c.equations, equation_document({}, {{"% paper.eq1.gif - block (row : 3 - 4)", {"y"}}}));
}

TEST(DisplayFormulas, StrayClosingMarkerDoesNothing) {
    // formula_text still holds "a" from the inline formula; the stray
    // closing line must not register it again or write a reference.
    Converted c = convert_source(kBegin + lf({"$a$", "\\]", "\\end{equation}", "$b$ $", "\\]", "\\[", "x",
                                              "\\]", "\\]"}) + "\\end{document}\n");
    EXPECT_EQ(c.wiki, crlf({ref(1), ref(2) + " $", block(3), ""}));
    EXPECT_EQ(c.equations, equation_document({}, {{"% paper.eq1.gif - inline (row : 2, column : 0 - 2)", {"a"}},
                                                  {"% paper.eq2.gif - inline (row : 5, column : 0 - 2)", {"b"}},
                                                  {"% paper.eq3.gif - block (row : 8 - 8)", {"x"}}}));
}

// --- Inline formulas -------------------------------------------------------------

TEST(InlineFormulas, EachPairReplacedInPlace) {
    EXPECT_EQ(wiki_of_body({"a$x$b$y$c"}), crlf({"a" + ref(1) + "b" + ref(2) + "c"}));
}

TEST(InlineFormulas, SameTextSharesANumberOnOneLineAndAcrossLines) {
    Converted c = convert_source(kBegin + lf({"$x$ and $x$", "then $x$"}) + "\\end{document}\n");
    EXPECT_EQ(c.wiki, crlf({ref(1) + " and " + ref(1), "then " + ref(1)}));
    EXPECT_EQ(c.equations, equation_document({}, {{"% paper.eq1.gif - inline (row : 2, column : 0 - 2)", {"x"}}}));
}

TEST(InlineFormulas, EmptyPairIsAFormula) {
    Converted c = convert_source(kBegin + lf({"a $$ b", "$$x$$"}) + "\\end{document}\n");
    EXPECT_EQ(c.wiki, crlf({"a " + ref(1) + " b", ref(1) + "x" + ref(1)}));
    EXPECT_EQ(c.equations, equation_document({}, {{"% paper.eq1.gif - inline (row : 2, column : 2 - 3)", {""}}}));
}

TEST(InlineFormulas, UnpairedDollarAndTheRestStay) {
    EXPECT_EQ(wiki_of_body({"$a$ b $c", "only $ one", "broken $x", "y$ formula"}),
              crlf({ref(1) + " b $c", "only $ one", "broken $x", "y$ formula"}));
}

TEST(InlineFormulas, EscapedDollarCountsAsADollar) {
    EXPECT_EQ(wiki_of_body({"costs \\$5 and \\$6"}), crlf({"costs \\" + ref(1) + "6"}));
}

TEST(InlineFormulas, ColumnsCountedAfterTheEscapes) {
    Converted c = convert_source(kBegin + lf({"  a \\\\ b $x \\{y\\}$"}) + "\\end{document}\n");
    EXPECT_EQ(c.wiki, crlf({"a ~ b " + ref(1)}));
    EXPECT_EQ(c.equations,
              equation_document({}, {{"% paper.eq1.gif - inline (row : 2, column : 6 - 12)", {"x {y}"}}}));
}

TEST(InlineFormulas, InlineTextEqualToADisplayKeySharesItsNumber) {
    Converted c = convert_source(kBegin + lf({"\\[", "x", "\\]", "$x\\n$", "$y\\n$", "\\[", "y", "\\]"}) +
                                 "\\end{document}\n");
    EXPECT_EQ(c.wiki, crlf({block(1), "", ref(1), ref(2), block(2), ""}));
    EXPECT_EQ(c.equations, equation_document({}, {{"% paper.eq1.gif - block (row : 3 - 3)", {"x"}},
                                                  {"% paper.eq2.gif - inline (row : 6, column : 0 - 4)", {"y\\n"}}}));
}

TEST(InlineFormulas, CapturedAsTextInsideAnOpenDisplayFormula) {
    Converted c = convert_source(kBegin + lf({"\\[", "a $b$", "\\]"}) + "\\end{document}\n");
    EXPECT_EQ(c.wiki, crlf({block(1), ""}));
    EXPECT_EQ(c.equations, equation_document({}, {{"% paper.eq1.gif - block (row : 3 - 3)", {"a $b$"}}}));
}

// --- Reference options ------------------------------------------------------------

TEST(References, SettingsInForceWhenWritten) {
    Converted c = convert_source(kBegin + lf({"$a$", "%%KELVARIN_EQUATION_PARAMETER=left", "$b$",
                                              "\\[", "c", "%%KELVARIN_EQUATION_TITLE=T", "\\]",
                                              "%%KELVARIN_EQUATION_SCALE=", "$d$"}) + "\\end{document}\n");
    EXPECT_EQ(c.wiki, crlf({ref(1), "", "&ref(paper.eq2.gif,left,70%);", "#ref(paper.eq3.gif,left,70%,T)", "",
                            "", "&ref(paper.eq4.gif,left,,T);"}));
}

TEST(References, EmptyTypeLeavesABareDot) {
    Converted c = convert_source(kBegin + lf({"%%KELVARIN_EQUATION_TYPE=", "$a$"}) + "\\end{document}\n");
    EXPECT_EQ(c.wiki, crlf({"", "&ref(paper.eq1.,,70%);"}));
    EXPECT_EQ(c.equations, equation_document({}, {{"% paper.eq1. - inline (row : 3, column : 0 - 2)", {"a"}}}));
}
