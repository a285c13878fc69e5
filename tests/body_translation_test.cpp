// Body lines become wiki mark-up: one group per construct, each case a body
// beside the exact wiki page it gives.
#include <gtest/gtest.h>

#include "support/harness.h"

using namespace kelvarin_test;

// --- Headings ------------------------------------------------------------------

TEST(Headings, ThreeLevels) {
    EXPECT_EQ(wiki_of_body({"\\section{Introduction}", "  \\subsection{Method} % draft",
                            "\\subsubsection{Detail}", "\\section{}"}),
              crlf({"*Introduction", "**Method", "***Detail", "*"}));
}

TEST(Headings, StarredFormIsNoHeading) {
    EXPECT_EQ(wiki_of_body({"\\section*{Preface}"}), crlf({"\\section*{Preface}"}));
}

TEST(Headings, TextComesFromTheFirstBraceOfTheLine) {
    EXPECT_EQ(wiki_of_body({"Text \\emph{a} \\section{B}"}), crlf({"*a"}));
    EXPECT_EQ(wiki_of_body({"\\section{A \\emph{b} c}"}), crlf({"*A \\emph{b"}));
}

TEST(Headings, UnclosedGroupWritesNothing) {
    EXPECT_EQ(wiki_of_body({"\\section{Open", "next"}), crlf({"next"}));
}

TEST(Headings, TextAfterTheGroupIsDropped) {
    EXPECT_EQ(wiki_of_body({"\\section{Intro} More text"}), crlf({"*Intro"}));
}

TEST(Headings, KeepEscapesAsWritten) {
    EXPECT_EQ(wiki_of_body({"\\section{a \\\\ b \\{c}"}), crlf({"*a \\\\ b \\{c"}));
}

// --- Paragraph titles --------------------------------------------------------------

TEST(Paragraph, TitleThenTheRestOfTheLine) {
    EXPECT_EQ(wiki_of_body({"\\paragraph{Note} The rest."}), crlf({"-Note~", " The rest."}));
    EXPECT_EQ(wiki_of_body({"\\paragraph{Note}"}), crlf({"-Note~", ""}));
}

TEST(Paragraph, UnclosedTitleLeavesTheLine) {
    EXPECT_EQ(wiki_of_body({"\\paragraph{Note"}), crlf({"\\paragraph{Note"}));
}

TEST(Paragraph, RestGoesThroughTheEscapes) {
    EXPECT_EQ(wiki_of_body({"\\paragraph{A\\\\B} x \\\\ y"}), crlf({"-A\\\\B~", " x ~ y"}));
}

// --- Escapes -------------------------------------------------------------------------

TEST(Escapes, FirstOccurrenceOfEachOnly) {
    EXPECT_EQ(wiki_of_body({"one \\\\ two \\\\ three", "\\{a\\} and \\{b\\}"}),
              crlf({"one ~ two \\\\ three", "{a} and \\{b\\}"}));
}

// --- Figures ---------------------------------------------------------------------------

TEST(Figures, ImageWithCaptionIsATwoRowTable) {
    EXPECT_EQ(wiki_of_body({"\\begin{figure}[htbp]", "\\centering",
                            "\\includegraphics[width=8cm]{plot.png}", "\\caption{Results}",
                            "\\label{fig:r}", "\\end{figure}"}),
              crlf({"", "|&ref(plot.png,,100%);|", "|CENTER:Results|", ""}));
}

TEST(Figures, WithoutCaptionTheImageStandsAlone) {
    EXPECT_EQ(wiki_of_body({"\\begin{figure}", "\\includegraphics{plot.png}", "\\end{figure}"}),
              crlf({"", "#ref(plot.png,,100%)", ""}));
    EXPECT_EQ(wiki_of_body({"\\begin{figure}", "\\end{figure}"}),
              crlf({"", "#ref(,,100%)", ""}));
    EXPECT_EQ(wiki_of_body({"\\begin{figure}", "\\includegraphics{p.png}", "\\caption{}",
                            "\\end{figure}"}),
              crlf({"", "#ref(p.png,,100%)", ""}));
}

TEST(Figures, OneLineWithImageAndCaptionTakesTheFirstGroupForBoth) {
    EXPECT_EQ(wiki_of_body({"\\begin{figure}", "\\includegraphics{a.png} \\caption{Plot}",
                            "\\end{figure}"}),
              crlf({"", "|&ref(a.png,,100%);|", "|CENTER:a.png|", ""}));
}

TEST(Figures, CaptionGroupDoesNotNest) {
    EXPECT_EQ(wiki_of_body({"\\begin{figure}", "\\caption{Plot of \\textbf{x} values}",
                            "\\end{figure}"}),
              crlf({"", "|&ref(,,100%);|", "|CENTER:Plot of \\textbf{x|", ""}));
}

TEST(Figures, UnclosedImageOrCaptionKeepsTheEarlierValue) {
    EXPECT_EQ(wiki_of_body({"\\begin{figure}", "\\includegraphics{a.png}",
                            "\\includegraphics{b.png", "\\caption{C}", "\\caption{D",
                            "\\end{figure}"}),
              crlf({"", "|&ref(a.png,,100%);|", "|CENTER:C|", ""}));
}

TEST(Figures, SecondEndRepeatsTheLastBlock) {
    EXPECT_EQ(wiki_of_body({"\\begin{figure}", "\\includegraphics{a.png}", "\\end{figure}",
                            "\\end{figure}"}),
              crlf({"", "#ref(a.png,,100%)", "", "", "#ref(a.png,,100%)", ""}));
}

TEST(Figures, OneLineFigureOnlyOpensIt) {
    EXPECT_EQ(wiki_of_body({"\\begin{figure}\\includegraphics{a.png}\\end{figure}", "dropped",
                            "\\section{Kept}", "$x$", "\\end{figure}", "after"}),
              crlf({"*Kept", "", "#ref(,,100%)", "", "after"}));
}

TEST(Figures, ImageOutsideAFigureIsCopied) {
    EXPECT_EQ(wiki_of_body({"\\includegraphics{a.png}"}), crlf({"\\includegraphics{a.png}"}));
}

TEST(Figures, UnclosedFigureDropsTheRestOfTheBody) {
    EXPECT_EQ(wiki_of_body({"\\begin{figure}", "\\includegraphics{a.png}", "text",
                            "\\paragraph{P} rest", "\\section{S}"}),
              crlf({"-P~", "*S"}));
}

TEST(Figures, NewFigureStartsWithEmptyImageAndCaption) {
    EXPECT_EQ(wiki_of_body({"\\begin{figure}", "\\includegraphics{a.png}", "\\caption{A}",
                            "\\end{figure}", "\\begin{figure}", "\\end{figure}"}),
              crlf({"", "|&ref(a.png,,100%);|", "|CENTER:A|", "", "", "#ref(,,100%)", ""}));
}

// --- Lists ----------------------------------------------------------------------------

TEST(Lists, BulletedAndNumbered) {
    EXPECT_EQ(wiki_of_body({"\\begin{itemize}", "\\item Apple", "  \\item Pear", "\\end{itemize}"}),
              crlf({"-Apple", "-Pear", ""}));
    EXPECT_EQ(wiki_of_body({"\\begin{enumerate}", "\\item Apple", "  \\item Pear",
                            "\\end{enumerate}"}),
              crlf({"+Apple", "+Pear"}));
}

TEST(Lists, ItemDropsEverythingUpToOneByteAfterIt) {
    EXPECT_EQ(wiki_of_body({"\\begin{itemize}", "\\item", "\\item[a)] Text", "Some text \\item More",
                            "\\setlength{\\itemsep}{0pt}", "plain", "\\end{itemize}"}),
              crlf({"-", "-a)] Text", "-More", "-ep}{0pt}", "plain", ""}));
}

TEST(Lists, ItemOutsideAListIsCopied) {
    EXPECT_EQ(wiki_of_body({"\\item Lone"}), crlf({"\\item Lone"}));
}

TEST(Lists, ItemLineGoesOnToTheFormulas) {
    EXPECT_EQ(wiki_of_body({"\\begin{itemize}", "\\item $a+b$", "\\item \\[", "\\end{itemize}"}),
              crlf({"-&ref(paper.eq1.gif,,70%);", "-\\[", ""}));
}

TEST(Lists, OpeningLineMustEqualTheCommand) {
    EXPECT_EQ(wiki_of_body({"\\begin{itemize}[leftmargin=1em]", "\\begin{itemize} ", "\\item x"}),
              crlf({"\\begin{itemize}[leftmargin=1em]", "\\begin{itemize} ", "\\item x"}));
}

TEST(Lists, NestedListsShareOneFlagPerKind) {
    // Inside a numbered list every item is "+"; the first "\end{itemize}"
    // ends the bulleted rewriting for the outer list as well.
    EXPECT_EQ(wiki_of_body({"\\begin{enumerate}", "\\item a", "\\begin{itemize}", "\\item b",
                            "\\end{itemize}", "\\item c", "\\end{enumerate}"}),
              crlf({"+a", "+b", "", "+c"}));
    EXPECT_EQ(wiki_of_body({"\\begin{itemize}", "\\begin{itemize}", "\\item a", "\\end{itemize}",
                            "\\item b", "\\end{itemize}"}),
              crlf({"-a", "", "\\item b", ""}));
    EXPECT_EQ(wiki_of_body({"\\begin{itemize}", "\\begin{enumerate}", "\\item a \\item b",
                            "\\end{enumerate}", "\\end{itemize}"}),
              crlf({"-b", ""}));
}

// --- Verbatim ----------------------------------------------------------------------------

TEST(Verbatim, CodeBlockKeepsBlanksButStillCutsAtPercent) {
    EXPECT_EQ(wiki_of_body({"\\begin{verbatim}", "  int x; % counter", "\\section{Oops}",
                            "\\end{verbatim}"}),
              crlf({"#code(C){{", "  int x; ", "*Oops", "}}"}));
}

TEST(Verbatim, IndentedEndStaysInside) {
    EXPECT_EQ(wiki_of_body({"\\begin{verbatim}", "  \\end{verbatim}", "$x$", "\\end{verbatim}",
                            "\\end{verbatim}"}),
              crlf({"#code(C){{", "  \\end{verbatim}", "$x$", "}}", "}}"}));
}

TEST(Verbatim, EscapesAndItemsAreStillTranslated) {
    EXPECT_EQ(wiki_of_body({"\\begin{itemize}", "\\begin{verbatim}", "a \\\\ b", "\\item c",
                            "\\end{verbatim}", "\\end{itemize}"}),
              crlf({"#code(C){{", "a ~ b", "-c", "}}", ""}));
}

// --- Quotations ----------------------------------------------------------------------------

TEST(Quotations, OpeningWrittenBeforeTheFirstLine) {
    EXPECT_EQ(wiki_of_body({"\\begin{quote}", "  First line", "Second", "\\end{quote}"}),
              crlf({"", ">", "  First line", "Second", ""}));
}

TEST(Quotations, EmptyQuotationWritesNothing) {
    EXPECT_EQ(wiki_of_body({"\\begin{quote}", "\\end{quote}"}), "");
}

TEST(Quotations, StrayEndWritesAnEmptyLine) {
    EXPECT_EQ(wiki_of_body({"\\end{quote}"}), crlf({""}));
}

TEST(Quotations, LineTakenEarlierLeavesTheOpeningPending) {
    EXPECT_EQ(wiki_of_body({"\\begin{quote}", "\\section{H}", "text", "\\end{quote}"}),
              crlf({"*H", "", ">", "text", ""}));
}

TEST(Quotations, FormulaLineFollowsTheOpening) {
    EXPECT_EQ(wiki_of_body({"\\begin{quote}", "$x$", "\\end{quote}"}),
              crlf({"", ">", "&ref(paper.eq1.gif,,70%);", ""}));
}

// --- Bibliography and the rest --------------------------------------------------------------

TEST(Bibliography, CommandsAreDropped) {
    EXPECT_EQ(wiki_of_body({"\\bibliographystyle{plain}", "\\bibliography{refs}", "\\bibitem{k} A",
                            "kept"}),
              crlf({"kept"}));
}

TEST(Bibliography, ItemWithAFormulaIsWritten) {
    EXPECT_EQ(wiki_of_body({"\\bibitem{k} Author, $x$"}),
              crlf({"\\bibitem{k} Author, &ref(paper.eq1.gif,,70%);"}));
}

TEST(OtherLines, CopiedUnchangedAfterTheirLeadingBlanks) {
    EXPECT_EQ(wiki_of_body({"  \t@Plain text ", "", "% only a comment", "\\unknown{x}"}),
              crlf({"Plain text ", "", "", "\\unknown{x}"}));
}
