// Directive comments set how formula references are written, from their own
// line on. Each case shows the reference that a formula after it gets.
#include <gtest/gtest.h>

#include "support/harness.h"

using namespace kelvarin_test;

namespace {

// The wiki page of a body holding the directive line and then "$x$".
std::string reference_after(const std::string& directive_line) {
    return wiki_of_body({directive_line, "$x$"});
}

std::string page_with(const std::string& reference) { return crlf({"", reference}); }

}  // namespace

TEST(Directives, EachKeySetsItsField) {
    EXPECT_EQ(reference_after("%%KELVARIN_EQUATION_TYPE=png"), page_with("&ref(paper.eq1.png,,70%);"));
    EXPECT_EQ(reference_after("%%KELVARIN_EQUATION_SCALE=50%"), page_with("&ref(paper.eq1.gif,,50%);"));
    EXPECT_EQ(reference_after("%%KELVARIN_EQUATION_PARAMETER=left"),
              page_with("&ref(paper.eq1.gif,left,70%);"));
    EXPECT_EQ(reference_after("%%KELVARIN_EQUATION_TITLE=Energy"),
              page_with("&ref(paper.eq1.gif,,70%,Energy);"));
}

TEST(Directives, PrefixMayFollowBlanksOrText) {
    EXPECT_EQ(reference_after("   %%KELVARIN_EQUATION_SCALE=50%"), page_with("&ref(paper.eq1.gif,,50%);"));
    EXPECT_EQ(reference_after("text % note %%KELVARIN_EQUATION_SCALE=50%"),
              crlf({"text ", "&ref(paper.eq1.gif,,50%);"}));
}

TEST(Directives, TakesEffectBeforeTheFormulaOnItsOwnLine) {
    EXPECT_EQ(wiki_of_body({"$a+b$ % note %%KELVARIN_EQUATION_TYPE=png"}),
              crlf({"&ref(paper.eq1.png,,70%); "}));
}

TEST(Directives, KeyMustMatchExactly) {
    EXPECT_EQ(reference_after("%%KELVARIN_EQUATION_TYPE = png"), page_with("&ref(paper.eq1.gif,,70%);"));
    EXPECT_EQ(reference_after("%%KELVARIN_equation_type=png"), page_with("&ref(paper.eq1.gif,,70%);"));
    EXPECT_EQ(reference_after("%%KELVARIN_EQUATION_TITLE"), page_with("&ref(paper.eq1.gif,,70%);"));
    EXPECT_EQ(reference_after("%%KELVARIN_EQUATION_COLOUR=red"), page_with("&ref(paper.eq1.gif,,70%);"));
    EXPECT_EQ(reference_after("%KELVARIN_EQUATION_TYPE=png"), page_with("&ref(paper.eq1.gif,,70%);"));
}

TEST(Directives, ValueIsTakenWhole) {
    EXPECT_EQ(reference_after("%%KELVARIN_EQUATION_TYPE=png  "), page_with("&ref(paper.eq1.png  ,,70%);"));
    EXPECT_EQ(reference_after("%%KELVARIN_EQUATION_TYPE="), page_with("&ref(paper.eq1.,,70%);"));
    EXPECT_EQ(reference_after("%%KELVARIN_EQUATION_PARAMETER=a=b"), page_with("&ref(paper.eq1.gif,a=b,70%);"));
    EXPECT_EQ(reference_after("%%KELVARIN_EQUATION_TITLE=50% off"),
              page_with("&ref(paper.eq1.gif,,70%,50% off);"));
}

TEST(Directives, SecondPrefixOnALineBelongsToTheValue) {
    EXPECT_EQ(reference_after("%%KELVARIN_EQUATION_TYPE=png %%KELVARIN_EQUATION_SCALE=50%"),
              page_with("&ref(paper.eq1.png %%KELVARIN_EQUATION_SCALE=50%,,70%);"));
}

TEST(Directives, EqualsSignBeforeThePrefixDoesNotHideIt) {
    EXPECT_EQ(wiki_of_body({"x=1 % %%KELVARIN_EQUATION_TYPE=png", "$x$"}),
              crlf({"x=1 ", "&ref(paper.eq1.png,,70%);"}));
}

TEST(Directives, InsideVerbatimAndOpenDisplayFormulas) {
    EXPECT_EQ(wiki_of_body({"\\begin{verbatim}", "%%KELVARIN_EQUATION_TYPE=png", "\\end{verbatim}",
                            "\\[", "x", "%%KELVARIN_EQUATION_SCALE=90%", "\\]"}),
              crlf({"#code(C){{", "", "}}", "#ref(paper.eq1.png,,90%)", ""}));
}

TEST(Directives, InThePreambleTooAndKeptThere) {
    Converted c = convert_source("%%KELVARIN_EQUATION_TYPE=svg\n\\begin{document}\n$x$\n");
    EXPECT_EQ(c.wiki, crlf({"&ref(paper.eq1.svg,,70%);", ""}));
    EXPECT_EQ(c.equations,
              equation_document({"%%KELVARIN_EQUATION_TYPE=svg"},
                                {{"% paper.eq1.svg - inline (row : 3, column : 0 - 2)", {"x"}}}));
}

TEST(Directives, LaterDirectiveWinsForLaterReferences) {
    Converted c = convert_source(
        "\\begin{document}\n$a$\n%%KELVARIN_EQUATION_TYPE=png\n$b$\n"
        "%%KELVARIN_EQUATION_TYPE=svg\n$c$\n\\end{document}\n");
    EXPECT_EQ(c.wiki, crlf({"&ref(paper.eq1.gif,,70%);", "", "&ref(paper.eq2.png,,70%);", "",
                            "&ref(paper.eq3.svg,,70%);"}));
    // The equation document is written at the end, with the last type.
    EXPECT_EQ(c.equations,
              equation_document({}, {{"% paper.eq1.svg - inline (row : 2, column : 0 - 2)", {"a"}},
                                     {"% paper.eq2.svg - inline (row : 4, column : 0 - 2)", {"b"}},
                                     {"% paper.eq3.svg - inline (row : 6, column : 0 - 2)", {"c"}}}));
}

TEST(Directives, EveryFileStartsFromTheDefaults) {
    Sandbox box;
    write_file(box.path("a.tex"),
               "%%KELVARIN_EQUATION_TYPE=png\n%%KELVARIN_EQUATION_SCALE=1%\n"
               "%%KELVARIN_EQUATION_PARAMETER=p\n%%KELVARIN_EQUATION_TITLE=t\n\\begin{document}\n$x$\n");
    write_file(box.path("b.tex"), "\\begin{document}\n$x$\n");
    run_kelvarin(box.dir, {"a.tex", "b.tex"});
    EXPECT_EQ(read_file(box.path("a.wiki.txt")), crlf({"&ref(a.eq1.png,p,1%,t);", ""}));
    EXPECT_EQ(read_file(box.path("b.wiki.txt")), crlf({"&ref(b.eq1.gif,,70%);", ""}));
}
