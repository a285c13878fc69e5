// The equation document: preamble, fixed header, one page per formula in
// number order.
#include <gtest/gtest.h>

#include "support/harness.h"

using namespace kelvarin_test;

TEST(EquationDocument, NoFormulasNoPages) {
    Converted c = convert_source("\\documentclass{article}\n\\begin{document}\nText\n\\end{document}\n");
    EXPECT_EQ(c.equations, crlf({"\\documentclass[12pt]{article}", "", "% kelvarin", "\\usepackage{txfonts}",
                                 "\\pagestyle{empty}", "", "\\begin{document}", "", "\\end{document}", ""}));
}

TEST(EquationDocument, EmptyPreambleStartsWithTheEmptyLine) {
    Converted c = convert_source("\\begin{document}\n$x$\n");
    EXPECT_EQ(c.equations.substr(0, 14), crlf({"", "% kelvarin"}));
}

TEST(EquationDocument, PagesInTheOrderFormulasWereMetNotAlphabetical) {
    Converted c = convert_source("\\begin{document}\n$z=1$ $a=2$\n\\end{document}\n");
    EXPECT_EQ(c.equations,
              equation_document({}, {{"% paper.eq1.gif - inline (row : 2, column : 0 - 4)", {"z=1"}},
                                     {"% paper.eq2.gif - inline (row : 2, column : 6 - 10)", {"a=2"}}}));
}

TEST(EquationDocument, TenthImageHasNoLeadingZero) {
    std::string body;
    for (int i = 1; i <= 10; ++i) body += "$f_" + std::to_string(i) + "$\n";
    Converted c = convert_source("\\begin{document}\n" + body + "\\end{document}\n");
    EXPECT_NE(c.equations.find("% paper.eq10.gif - inline (row : 11, column : 0 - 5)\r\n\\[\r\nf_10\r\n"),
              std::string::npos);
    EXPECT_NE(c.wiki.find("&ref(paper.eq10.gif,,70%);"), std::string::npos);
}
