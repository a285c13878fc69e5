// The conversion job through the real executable: output names, how the
// input is split into lines, the document region, the preamble, and the
// sound behaviour on inputs that could otherwise be lost.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include <gtest/gtest.h>

#include "support/harness.h"

using namespace kelvarin_test;

namespace {

// The equation document of a source without formulas: its preamble only.
std::string preamble_only(const std::vector<std::string>& preamble) {
    return equation_document(preamble, {});
}

const char* const kInlineBody = "\\begin{document}\nx $a$\n\\end{document}\n";

}  // namespace

// --- Output names -----------------------------------------------------------

TEST(OutputNames, StemBesideTheInput) {
    Converted c = convert_source(kInlineBody, "paper.tex");
    EXPECT_EQ(c.wiki, crlf({"x &ref(paper.eq1.gif,,70%);"}));
    EXPECT_EQ(c.log, crlf({"file : paper.tex", "  parse ok"}));
}

TEST(OutputNames, BackslashNameKeepsItsWholeStemButPrefixIsLastComponent) {
    Sandbox box;
    write_file(box.path("C:\\tex\\paper.tex"), kInlineBody);
    run_kelvarin(box.dir, {"C:\\tex\\paper.tex"});
    EXPECT_EQ(read_file(box.path("C:\\tex\\paper.wiki.txt")),
              crlf({"x &ref(paper.eq1.gif,,70%);"}));
    EXPECT_TRUE(file_exists(box.path("C:\\tex\\paper.eq.tex")));
}

TEST(OutputNames, DotOnlyInTheDirectoryCutsThere) {
    Sandbox box;
    mkdir(box.path("v1.2").c_str(), 0755);
    write_file(box.path("v1.2/paper"), kInlineBody);
    run_kelvarin(box.dir, {"v1.2/paper"});
    EXPECT_EQ(read_file(box.path("v1.wiki.txt")), crlf({"x &ref(v1.eq1.gif,,70%);"}));
    EXPECT_TRUE(file_exists(box.path("v1.eq.tex")));
}

TEST(OutputNames, NoExtension) {
    Sandbox box;
    write_file(box.path("paper"), kInlineBody);
    run_kelvarin(box.dir, {"paper"});
    EXPECT_EQ(read_file(box.path("paper.wiki.txt")), crlf({"x &ref(paper.eq1.gif,,70%);"}));
    EXPECT_TRUE(file_exists(box.path("paper.eq.tex")));
}

TEST(OutputNames, DotSlashGivesAnEmptyStem) {
    Sandbox box;
    write_file(box.path("paper"), kInlineBody);
    run_kelvarin(box.dir, {"./paper"});
    EXPECT_EQ(read_file(box.path(".wiki.txt")), crlf({"x &ref(.eq1.gif,,70%);"}));
    EXPECT_TRUE(file_exists(box.path(".eq.tex")));
}

// --- Splitting the input into lines ------------------------------------------
// A source without "\begin{document}" is all preamble, and the preamble is
// repeated byte for byte in the equation document, so it shows every line.

TEST(ReadLoop, CrLfEndsAreDroppedLoneCrStays) {
    Converted c = convert_source("a\r\nb\rc\r\n\r\n");
    EXPECT_EQ(c.equations, preamble_only({"a", "b\rc", "", ""}));
}

TEST(ReadLoop, OnlyOneCrBeforeLfBelongsToTheLineEnd) {
    Converted c = convert_source("a\r\r\nb\r");
    EXPECT_EQ(c.equations, preamble_only({"a\r", "b\r"}));
}

TEST(ReadLoop, CtrlZEndsTheInput) {
    Converted c = convert_source("a\nb\x1a" "c\nd\n");
    EXPECT_EQ(c.equations, preamble_only({"a", "b"}));
    c = convert_source("a\n\x1a" "b\n");
    EXPECT_EQ(c.equations, preamble_only({"a", ""}));
}

TEST(ReadLoop, NulBytesAreData) {
    Converted c = convert_source(std::string("a\0b\n\0", 5));
    EXPECT_EQ(c.equations, preamble_only({std::string("a\0b", 3), std::string("\0", 1)}));
}

TEST(ReadLoop, FinalLineEndYieldsOneMoreEmptyLine) {
    EXPECT_EQ(convert_source("a\n").equations, preamble_only({"a", ""}));
    EXPECT_EQ(convert_source("a").equations, preamble_only({"a"}));
    EXPECT_EQ(convert_source("\\begin{document}\nHello\n").wiki, crlf({"Hello", ""}));
    EXPECT_EQ(convert_source("\\begin{document}\nHello").wiki, crlf({"Hello"}));
}

TEST(ReadLoop, EmptyFileIsOneEmptyLine) {
    Converted c = convert_source("");
    EXPECT_EQ(c.wiki, "");
    EXPECT_EQ(c.equations, preamble_only({""}));
    EXPECT_EQ(c.log, crlf({"file : paper.tex", "  parse ok"}));
}

TEST(ReadLoop, LineSpanningManyInputBlocks) {
    const std::string long_line(300000, 'x');
    Converted c = convert_source("\\begin{document}\n" + long_line + "\r\nend");
    EXPECT_EQ(c.wiki, crlf({long_line, "end"}));
}

// --- Document region ----------------------------------------------------------

TEST(DocumentRegion, EndBeforeBeginStopsTheReading) {
    Converted c = convert_source("x\n\\end{document}\n\\begin{document}\nbody\n");
    EXPECT_EQ(c.wiki, "");
    EXPECT_EQ(c.equations, preamble_only({"x"}));
}

TEST(DocumentRegion, CommentedBeginIsPreamble) {
    Converted c = convert_source("% \\begin{document}\nstill preamble\n");
    EXPECT_EQ(c.wiki, "");
    EXPECT_EQ(c.equations, preamble_only({"% \\begin{document}", "still preamble", ""}));
}

TEST(DocumentRegion, RestOfTheBeginLineIsDropped) {
    Converted c = convert_source("\\begin{document} Hello\nWorld\n\\end{document}\n");
    EXPECT_EQ(c.wiki, crlf({"World"}));
}

TEST(DocumentRegion, BeginTestedBeforeEnd) {
    Converted c = convert_source("\\begin{document}\\end{document}\nkept\n\\end{document}\n");
    EXPECT_EQ(c.wiki, crlf({"kept"}));
}

TEST(DocumentRegion, SecondBeginInTheBodyIsDropped) {
    Converted c = convert_source("\\begin{document}\na\n\\begin{document}\nb\n\\end{document}\n");
    EXPECT_EQ(c.wiki, crlf({"a", "b"}));
}

TEST(DocumentRegion, LinesAfterTheEndAreNeverRead) {
    Converted c = convert_source(
        "\\begin{document}\n$a$\n\\end{document}\n%%KELVARIN_EQUATION_TYPE=png\n");
    EXPECT_EQ(c.equations,
              equation_document({}, {{"% paper.eq1.gif - inline (row : 2, column : 0 - 2)", {"a"}}}));
}

TEST(DocumentRegion, EndLineFollowedOnlyByLfEndsThere) {
    Converted c = convert_source("\\begin{document}\na\n\\end{document}\n");
    EXPECT_EQ(c.wiki, crlf({"a"}));
}

TEST(DocumentRegion, EscapedPercentStartsAComment) {
    Converted c = convert_source("\\begin{document}\nRates rose 5\\% today\n\\end{document}");
    EXPECT_EQ(c.wiki, crlf({"Rates rose 5\\"}));
}

// --- Preamble -----------------------------------------------------------------

TEST(Preamble, DocumentClassIsSetAt12pt) {
    Converted c = convert_source(
        "\\documentclass[a4paper,11pt]{report}\n"
        "\\documentclass{article} % main\n"
        "\\documentclass[a4paper]\n"
        "\\documentclass{report\n"
        "% \\documentclass{book}\n"
        "x % \\documentclass{book}\n"
        "\\documentclass[x] % {from}{the comment}\n"
        "\\begin{document}\n");
    EXPECT_EQ(c.equations, preamble_only({
        "\\documentclass[12pt]{report}",
        "\\documentclass[12pt]{article}",
        "\\documentclass[a4paper]",
        "\\documentclass{report",
        "% \\documentclass{book}",
        "x % \\documentclass{book}",
        "\\documentclass[12pt]{from}",
    }));
}

TEST(Preamble, CommentLinesAreStoredWhole) {
    Converted c = convert_source("\\usepackage{x} % why\n%%KELVARIN_EQUATION_SCALE=80%\n\\begin{document}\n");
    EXPECT_EQ(c.equations, preamble_only({"\\usepackage{x} % why", "%%KELVARIN_EQUATION_SCALE=80%"}));
}

// --- Inputs that must never be lost, and failures that must show ---------------

TEST(SoundBehaviour, DirectoryAsInputIsAnInvalidFile) {
    Sandbox box;
    mkdir(box.path("dir.tex").c_str(), 0755);
    RunResult r = run_kelvarin(box.dir, {"dir.tex"});
    EXPECT_EQ(r.out, "Invalid file specified\n");
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(read_file(box.path("kelvarin.log")), crlf({"file : dir.tex", "  parse failure"}));
    EXPECT_FALSE(file_exists(box.path("dir.wiki.txt")));
    EXPECT_FALSE(file_exists(box.path("dir.eq.tex")));
}

TEST(SoundBehaviour, WikiPageLinkedToTheInputIsRefused) {
    Sandbox box;
    const std::string source = "\\begin{document}\nprecious\n";
    write_file(box.path("paper.tex"), source);
    ASSERT_EQ(symlink("paper.tex", box.path("paper.wiki.txt").c_str()), 0);
    RunResult r = run_kelvarin(box.dir, {"paper.tex"});
    EXPECT_EQ(r.out, "Invalid file specified\n");
    EXPECT_EQ(read_file(box.path("paper.tex")), source);
    EXPECT_FALSE(file_exists(box.path("paper.eq.tex")));
    EXPECT_EQ(read_file(box.path("kelvarin.log")), crlf({"file : paper.tex", "  parse failure"}));
}

TEST(SoundBehaviour, EquationDocumentHardLinkedToTheInputIsRefused) {
    Sandbox box;
    const std::string source = "\\begin{document}\n$x$\n";
    write_file(box.path("paper.tex"), source);
    ASSERT_EQ(link(box.path("paper.tex").c_str(), box.path("paper.eq.tex").c_str()), 0);
    RunResult r = run_kelvarin(box.dir, {"paper.tex"});
    EXPECT_EQ(r.out, "Invalid file specified\n");
    EXPECT_EQ(read_file(box.path("paper.tex")), source);
    EXPECT_FALSE(file_exists(box.path("paper.wiki.txt")));
}

TEST(SoundBehaviour, ReadErrorIsAFailureWithADiagnostic) {
    Sandbox box;
    // Reading a process's memory at offset 0 fails with an I/O error.
    ASSERT_EQ(symlink("/proc/self/mem", box.path("x.tex").c_str()), 0);
    RunResult r = run_kelvarin(box.dir, {"x.tex"});
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("x.tex"), std::string::npos);
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1);
    EXPECT_EQ(read_file(box.path("kelvarin.log")), crlf({"file : x.tex", "  parse failure"}));
    EXPECT_EQ(read_file(box.path("x.wiki.txt")), "");
    EXPECT_EQ(read_file(box.path("x.eq.tex")), preamble_only({}));
}

TEST(SoundBehaviour, WikiPageThatCannotBeCreated) {
    // A directory in the way of the wiki page makes its open fail even for
    // root, who writes into read-only directories.
    Sandbox box;
    write_file(box.path("paper.tex"), "\\begin{document}\n$a$\n");
    mkdir(box.path("paper.wiki.txt").c_str(), 0755);
    RunResult r = run_kelvarin(box.dir, {"paper.tex"});
    EXPECT_EQ(r.out, "Invalid file specified\n");
    EXPECT_FALSE(file_exists(box.path("paper.eq.tex")));
    EXPECT_EQ(read_file(box.path("kelvarin.log")), crlf({"file : paper.tex", "  parse failure"}));
}

TEST(SoundBehaviour, EquationDocumentThatCannotBeCreatedKeepsTheWikiPage) {
    Sandbox box;
    write_file(box.path("paper.tex"), "\\begin{document}\n$a$\n");
    mkdir(box.path("paper.eq.tex").c_str(), 0755);
    RunResult r = run_kelvarin(box.dir, {"paper.tex"});
    EXPECT_EQ(r.out, "Invalid file specified\n");
    EXPECT_EQ(read_file(box.path("paper.wiki.txt")), crlf({"&ref(paper.eq1.gif,,70%);", ""}));
    EXPECT_EQ(read_file(box.path("kelvarin.log")), crlf({"file : paper.tex", "  parse failure"}));
}
