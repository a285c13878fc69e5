// kelvarin-render on real TeX: images named from the page comments, so a
// formula that fails cannot shift the names of the others; the paper's own
// files found; faults found in one pass and each reported with its row;
// reads outside the paper's folder refused; nothing left behind when
// stopped. Skipped, with a message, where TeX is not installed (failed
// under CI: see support/tex_check.h).
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <thread>

#include <gtest/gtest.h>

#include "render/equation_pages.h"
#include "support/harness.h"
#include "support/tex_check.h"

using namespace kelvarin_test;
using namespace std::string_literals;
namespace fs = std::filesystem;

namespace {

RunResult render(const std::string& dir, const std::vector<std::string>& args) {
    return run_program(KELVARIN_RENDER_BIN, dir, args);
}

std::uint32_t u16le(const std::string& b, std::size_t at) {
    return static_cast<unsigned char>(b[at]) | static_cast<unsigned char>(b[at + 1]) << 8;
}
std::uint32_t u32be(const std::string& b, std::size_t at) {
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < 4; ++i) v = v << 8 | static_cast<unsigned char>(b[at + i]);
    return v;
}

// A GIF file with a logical screen larger than one pixel each way.
void expect_gif(const std::string& path) {
    const std::string b = read_file(path);
    ASSERT_GE(b.size(), 10u) << path;
    EXPECT_TRUE(b.compare(0, 6, "GIF87a") == 0 || b.compare(0, 6, "GIF89a") == 0) << path;
    EXPECT_GT(u16le(b, 6), 1u) << path;
    EXPECT_GT(u16le(b, 8), 1u) << path;
}

void expect_png(const std::string& path) {
    const std::string b = read_file(path);
    ASSERT_GE(b.size(), 24u) << path;
    EXPECT_EQ(b.substr(0, 8), "\x89PNG\r\n\x1a\n") << path;
    EXPECT_GT(u32be(b, 16), 1u) << path;
    EXPECT_GT(u32be(b, 20), 1u) << path;
}

std::vector<std::string> images_in(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) {
        const std::string ext = entry.path().extension().string();
        if (ext == ".gif" || ext == ".png" || ext == ".svg") names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

const std::string kOverview = read_file(std::string(KELVARIN_SOURCE_DIR) + "/tests/golden/overview-example/paper.tex");

// Converts `source` as `name` in the sandbox and renders its equation document.
RunResult convert_and_render(const Sandbox& box, const std::string& source, const std::string& name,
                             std::vector<std::string> options = {}) {
    write_file(box.path(name), source);
    run_kelvarin(box.dir, {name});
    options.push_back(name.substr(0, name.rfind('.')) + ".eq.tex");
    return render(box.dir, options);
}

// The gif that the formula gives as the only formula of a document: what its
// image must be, whatever failed around it.
std::string gif_of_formula_alone(const std::string& formula) {
    Sandbox alone;
    convert_and_render(alone, "\\documentclass{article}\n\\begin{document}\n$" + formula + "$\n", "paper.tex");
    return read_file(alone.path("paper.eq1.gif"));
}

// The page comment kelvarin writes for formula `number` of paper.tex, as a
// display formula on row number + 10.
std::string block_comment(std::size_t number) {
    const std::string row = std::to_string(number + 10);
    return "% paper.eq" + std::to_string(number) + ".gif - block (row : " + row + " - " + row + ")";
}

// The gif a formula gives as the only page of an equation document with
// this preamble.
std::string gif_alone(const std::vector<std::string>& preamble, const std::string& formula) {
    Sandbox alone;
    write_file(alone.path("paper.eq.tex"), equation_document(preamble, {block_comment(1), formula}));
    render(alone.dir, {"paper.eq.tex"});
    return read_file(alone.path("paper.eq1.gif"));
}

std::vector<std::string> files_in(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

TEST(Render, OverviewExampleGivesItsTwoGifs) {
    REQUIRE_TEX();
    Sandbox box;
    RunResult r = convert_and_render(box, kOverview, "paper.tex");
    EXPECT_EQ(r.exit_status, 0) << r.err;
    EXPECT_EQ(r.out, "2 images written to .\n");
    EXPECT_EQ(images_in(box.dir), (std::vector<std::string>{"paper.eq1.gif", "paper.eq2.gif"}));
    expect_gif(box.path("paper.eq1.gif"));
    expect_gif(box.path("paper.eq2.gif"));
}

TEST(Render, PngAndSvgFollowTheType) {
    REQUIRE_TEX();
    Sandbox box;
    RunResult r = convert_and_render(box, "%%KELVARIN_EQUATION_TYPE=png\n" + kOverview, "paper.tex",
                                     {"--dpi", "200", "--transparent"});
    EXPECT_EQ(r.exit_status, 0) << r.err;
    expect_png(box.path("paper.eq1.png"));
    expect_png(box.path("paper.eq2.png"));

    Sandbox svg;
    r = convert_and_render(svg, "%%KELVARIN_EQUATION_TYPE=svg\n" + kOverview, "paper.tex");
    EXPECT_EQ(r.exit_status, 0) << r.err;
    EXPECT_EQ(images_in(svg.dir), (std::vector<std::string>{"paper.eq1.svg", "paper.eq2.svg"}));
    EXPECT_NE(read_file(svg.path("paper.eq1.svg")).find("<svg"), std::string::npos);
}

TEST(Render, FailingFormulaKeepsTheOtherNamesRight) {
    REQUIRE_TEX();
    Sandbox box;
    RunResult r = convert_and_render(box,
                                     "\\documentclass{article}\n\\begin{document}\nGood $a+b$.\n"
                                     "Bad $\\frac{$ one.\nGood $c^2$.\n",
                                     "paper.tex", {"--out", "images"});
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(r.out, "2 images written to images\n");
    EXPECT_NE(r.err.find("paper.eq2.gif, inline (row : 4, column : 4 - 11): "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("\\frac"), std::string::npos) << r.err;
    EXPECT_EQ(images_in(box.path("images")), (std::vector<std::string>{"paper.eq1.gif", "paper.eq3.gif"}));

    // Image 3 is c^2, exactly as c^2 renders as the only formula of a page.
    EXPECT_EQ(read_file(box.path("images/paper.eq3.gif")), gif_of_formula_alone("c^2"));
}

TEST(Render, FormulaSpillingOntoASecondPageIsReported) {
    REQUIRE_TEX();
    Sandbox box;
    RunResult r = convert_and_render(box,
                                     "\\documentclass{article}\n\\begin{document}\n$a$\n"
                                     "$x \\] \\newpage \\[ y$\n$b$\n",
                                     "paper.tex");
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_NE(r.err.find("paper.eq2.gif, inline (row : 4, column : 0 - 19): typeset onto 2 pages"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(images_in(box.dir), (std::vector<std::string>{"paper.eq1.gif", "paper.eq3.gif"}));
    EXPECT_EQ(read_file(box.path("paper.eq3.gif")), gif_of_formula_alone("b"));
}

TEST(Render, StemWithASpaceAndNonAsciiBytes) {
    REQUIRE_TEX();
    Sandbox box;
    const std::string name = "my paper \xc3\xa9t\xc3\xa9.tex";
    RunResult r = convert_and_render(box, kOverview, name);
    EXPECT_EQ(r.exit_status, 0) << r.err;
    const std::string stem = name.substr(0, name.size() - 4);
    expect_gif(box.path(stem + ".eq1.gif"));
    expect_gif(box.path(stem + ".eq2.gif"));
}

TEST(Render, SvgImagesOfTenAndMorePagesKeepTheirNames) {
    REQUIRE_TEX();
    std::string source = "%%KELVARIN_EQUATION_TYPE=svg\n\\documentclass{article}\n\\begin{document}\n";
    for (int i = 1; i <= 12; ++i) source += "$x_{" + std::to_string(i) + "}$\n";
    Sandbox box;
    RunResult r = convert_and_render(box, source, "paper.tex");
    EXPECT_EQ(r.exit_status, 0) << r.err;
    EXPECT_EQ(images_in(box.dir).size(), 12u);
    EXPECT_TRUE(file_exists(box.path("paper.eq12.svg")));
}

TEST(Render, PaperOwnStyleAndMacroFilesAreFoundBesideTheEquationDocument) {
    REQUIRE_TEX();
    Sandbox box;
    fs::create_directory(box.path("paper"));
    write_file(box.path("paper/mystyle.sty"), "\\ProvidesPackage{mystyle}\n\\newcommand{\\vect}[1]{\\mathbf{#1}}\n");
    write_file(box.path("paper/mymacros.tex"), "\\newcommand{\\R}{\\mathrm{R}}\n");
    write_file(box.path("paper/paper.tex"), "\\documentclass{article}\n\\usepackage{mystyle}\n\\input{mymacros}\n"
                                            "\\begin{document}\nLet $\\vect{v} \\in \\R^3$ and $\\vect{w}$.\n");
    run_kelvarin(box.path("paper"), {"paper.tex"});
    std::vector<std::string> expected = files_in(box.path("paper"));
    // Run from the folder above: latex must look where the document is, and
    // write where TMPDIR, relative to here, says.
    fs::create_directory(box.path("tmp"));
    const char* old_tmpdir = std::getenv("TMPDIR");
    const std::string kept = old_tmpdir ? old_tmpdir : "";
    setenv("TMPDIR", "tmp", 1);
    RunResult r = render(box.dir, {"paper/paper.eq.tex"});
    if (old_tmpdir) setenv("TMPDIR", kept.c_str(), 1); else unsetenv("TMPDIR");
    EXPECT_EQ(r.exit_status, 0) << r.err;
    EXPECT_EQ(r.out, "2 images written to paper\n");
    expect_gif(box.path("paper/paper.eq1.gif"));
    expect_gif(box.path("paper/paper.eq2.gif"));
    // latex's own files went elsewhere.
    expected.insert(expected.end(), {"paper.eq1.gif", "paper.eq2.gif", "paper.eq.manifest"});
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(files_in(box.path("paper")), expected);
}

TEST(Render, PreambleThatDoesNotTypesetIsReportedOnceWithinSeconds) {
    REQUIRE_TEX();
    std::vector<std::string> pages;
    for (std::size_t i = 1; i <= 1000; ++i) pages.insert(pages.end(), {block_comment(i), "x_{" + std::to_string(i) + "}"});
    Sandbox box;
    write_file(box.path("paper.eq.tex"),
               equation_document({"\\documentclass[12pt]{article}", "\\usepackage{nosuchpackage}"}, pages));
    const auto start = std::chrono::steady_clock::now();
    const RunResult r = render(box.dir, {"paper.eq.tex"});
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
    EXPECT_EQ(r.exit_status, 2);
    EXPECT_EQ(r.out, "");
    std::size_t mentions = 0;
    for (std::size_t at = r.err.find("preamble"); at != std::string::npos; at = r.err.find("preamble", at + 1))
        ++mentions;
    EXPECT_EQ(mentions, 1u) << r.err;
    EXPECT_NE(r.err.find("nosuchpackage.sty' not found (line 2 of paper.eq.tex: \\usepackage{nosuchpackage})"),
              std::string::npos)
        << r.err;
    EXPECT_TRUE(images_in(box.dir).empty());
}

// latex reads to the end of the document looking for the "}" and names no
// line; the report names the line where the unfinished definition starts.
TEST(Render, PreambleDefinitionLeftOpenIsReportedWhereItStarts) {
    REQUIRE_TEX();
    const struct {
        std::vector<std::string> preamble;
        std::string expected;
    } cases[] = {
        {{"\\documentclass[12pt]{article}", "\\newcommand{\\set}[1]{\\{#1\\}} % a set {", "\\newcommand{\\pair}{x}",
          "\\newcommand{\\vect}[1]{\\mathbf{#1}", "\\newcommand{\\norm}{y}"},
         "File ended while scanning use of \\@argdef (line 4 of paper.eq.tex: \\newcommand{\\vect}[1]{\\mathbf{#1}, "
         "whose \"{\" is never closed)"},
        {{"\\documentclass[12pt]{article}", "\\title{On sets", "", "\\author{A. Writer}"},
         "File ended while scanning use of \\title (line 2 of paper.eq.tex: \\title{On sets, "
         "whose \"{\" is never closed)"},
    };
    for (const auto& c : cases) {
        Sandbox box;
        write_file(box.path("paper.eq.tex"), equation_document(c.preamble, {block_comment(1), "x"}));
        const RunResult r = render(box.dir, {"paper.eq.tex"});
        EXPECT_EQ(r.exit_status, 2);
        EXPECT_NE(r.err.find(c.expected), std::string::npos) << r.err;
        EXPECT_TRUE(images_in(box.dir).empty());
    }
}

TEST(Render, FaultsAmongHundredsOfFormulasAreEachReportedAndTheRestRenderedAsAlone) {
    REQUIRE_TEX();
    const std::vector<std::string> preamble = {"\\documentclass[12pt]{article}", "\\usepackage{amsmath}"};
    // Formula number -> its source, and what its report must say.
    const std::map<std::size_t, std::pair<std::string, std::string>> faults = {
        {40, {"\\nosuchmacro x", "Undefined control sequence \\nosuchmacro"}},
        {90, {"\\frac{a", "\\frac"}},
        {150, {"x \\] \\newpage \\[ y", "typeset onto 2 pages"}},
        {200, {"a \\end{document} b", ""}},
        {250, {"\\def\\x{\\x}\\x", "did not finish: latex made no progress"}},
    };
    auto good = [](std::size_t i) {
        const std::string n = std::to_string(i);
        // One prints a line that looks like latex's own, with a number too big.
        if (i == 120) return "x \\message{^^Jpaper.eq.tex:99999999999999999999: y^^J}"s;
        return i % 3 ? "a_{" + n + "} + \\frac{1}{" + n + "}" : "\\sum_{k=1}^{" + n + "} k^2";
    };
    const std::size_t n = 300;
    std::vector<std::string> pages;
    for (std::size_t i = 1; i <= n; ++i)
        pages.insert(pages.end(), {block_comment(i), faults.count(i) ? faults.at(i).first : good(i)});
    Sandbox box;
    write_file(box.path("paper.eq.tex"), equation_document(preamble, pages));
    const RunResult r = render(box.dir, {"paper.eq.tex"});
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(r.out, std::to_string(n - faults.size()) + " images written to .\n");
    for (const auto& [i, fault] : faults) {
        const std::string row = std::to_string(i + 10);
        const std::size_t at =
            r.err.find("paper.eq" + std::to_string(i) + ".gif, block (row : " + row + " - " + row + "): ");
        ASSERT_NE(at, std::string::npos) << i << "\n" << r.err;
        EXPECT_NE(r.err.substr(at, r.err.find('\n', at) - at).find(fault.second), std::string::npos) << r.err;
    }
    for (std::size_t i = 1; i <= n; ++i)
        EXPECT_EQ(file_exists(box.path("paper.eq" + std::to_string(i) + ".gif")), !faults.count(i)) << i;
    // The neighbours of every fault, the first and the last: each exactly as
    // that formula renders on its own.
    for (std::size_t i : {1, 41, 91, 151, 201, 251, 300})
        EXPECT_EQ(read_file(box.path("paper.eq" + std::to_string(i) + ".gif")), gif_alone(preamble, good(i))) << i;
}

TEST(Render, ReadsOutsideThePaperFolderAreRefusedUnlessThePaperIsTrusted) {
    REQUIRE_TEX();
    Sandbox box;
    fs::create_directory(box.path("paper"));
    write_file(box.path("secret.tex"), "s+e\n");
    const std::vector<std::string> preamble = {"\\documentclass[12pt]{article}"};
    write_file(box.path("paper/paper.eq.tex"),
               equation_document(preamble, {block_comment(1), "\\input{" + box.path("secret") + "}",
                                            block_comment(2), "\\input{../secret}", block_comment(3),
                                            "\\immediate\\openout5=" + box.path("written.tex") +
                                                "\\immediate\\closeout5 a",
                                            block_comment(4), "b"}));
    RunResult r = render(box.path("paper"), {"paper.eq.tex"});
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(r.out, "1 images written to .\n");
    for (const char* image : {"paper.eq1.gif", "paper.eq2.gif"}) {
        const std::size_t at = r.err.find(image);
        ASSERT_NE(at, std::string::npos) << r.err;
        EXPECT_NE(r.err.substr(at, r.err.find('\n', at) - at).find("may not read"), std::string::npos) << r.err;
    }
    EXPECT_NE(r.err.find("--trust-paper lifts this"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("paper.eq3.gif, block (row : 13 - 13): latex may not write"), std::string::npos) << r.err;

    // Trusted, the paper may read anything; writes stay confined.
    r = render(box.path("paper"), {"--trust-paper", "paper.eq.tex"});
    EXPECT_EQ(r.exit_status, 1) << r.err;
    EXPECT_EQ(r.out, "3 images written to .\n");
    EXPECT_EQ(read_file(box.path("paper/paper.eq1.gif")), gif_alone(preamble, "s+e"));
    EXPECT_TRUE(file_exists(box.path("paper/paper.eq2.gif")));
    EXPECT_FALSE(file_exists(box.path("written.tex")));
}

TEST(Render, StoppedRunLeavesNoScratchFolderBehind) {
    REQUIRE_TEX();
    Sandbox box;
    fs::create_directory(box.path("tmp"));
    write_file(box.path("paper.eq.tex"),
               equation_document({"\\documentclass[12pt]{article}"},
                                 {block_comment(1), "a", block_comment(2), "\\def\\x{\\x}\\x"}));
    const pid_t pid = fork();
    if (pid == 0) {
        setenv("TMPDIR", box.path("tmp").c_str(), 1);
        if (chdir(box.dir.c_str()) != 0) _exit(127);
        freopen("/dev/null", "w", stderr);
        freopen("/dev/null", "w", stdout);
        execl(KELVARIN_RENDER_BIN, KELVARIN_RENDER_BIN, "paper.eq.tex", static_cast<char*>(nullptr));
        _exit(127);
    }
    // Stop it once latex is at work in its scratch folder.
    bool running = false;
    for (int i = 0; i < 3000 && !running; ++i) {
        for (const std::string& scratch : files_in(box.path("tmp")))
            running = running || file_exists(box.path("tmp/" + scratch + "/run1/kelvarin-formulas.log"));
        if (!running) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(running);
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
    EXPECT_TRUE(files_in(box.path("tmp")).empty());
}

TEST(Render, BookInThreeFilesFlattenedWithLatexpandGivesEveryImage) {
    REQUIRE_TEX();
    const std::string latexpand = on_path("latexpand");
    if (latexpand.empty()) GTEST_SKIP() << "latexpand not installed: apt-get install texlive-extra-utils";
    Sandbox box;
    write_file(box.path("bookstyle.sty"), "\\ProvidesPackage{bookstyle}\n\\newcommand{\\vect}[1]{\\mathbf{#1}}\n");
    write_file(box.path("macros.tex"), "\\makeatletter\n\\newcommand{\\norm@}[1]{\\lVert #1\\rVert}\n"
                                       "\\newcommand{\\norm}{\\norm@}\n\\makeatother\n");
    write_file(box.path("main.tex"), "\\documentclass{book}\n\\usepackage{amsmath}\n\\usepackage{bookstyle}\n"
                                     "\\input{macros}\n\\begin{document}\n\\include{chapter1}\n\\input{chapter2}\n"
                                     "\\end{document}\n");
    write_file(box.path("chapter1.tex"), "\\chapter{One}\nLet $\\vect{v}$ and $\\norm{v}$.\n");
    write_file(box.path("chapter2.tex"), "\\chapter{Two}\n\\[\n\\vect{a} + \\norm{b}\n\\]\n");
    const RunResult flat = run_program(latexpand, box.dir, {"--makeatletter", "main.tex"});
    ASSERT_EQ(flat.exit_status, 0) << flat.err;
    write_file(box.path("book.tex"), flat.out);
    run_kelvarin(box.dir, {"book.tex"});
    const RunResult r = render(box.dir, {"book.eq.tex"});
    EXPECT_EQ(r.exit_status, 0) << r.err;
    EXPECT_EQ(r.out, "3 images written to .\n");
    for (const char* image : {"book.eq1.gif", "book.eq2.gif", "book.eq3.gif"}) expect_gif(box.path(image));
}

// Rich mode wraps align, gather, multline, eqnarray and alignat so that each
// typesets on a page of its own: on real papers every formula must render.
TEST(Render, RichModeEquationDocumentsOfRealPapersTypesetEveryFormula) {
    REQUIRE_TEX();
    for (const char* name : {"notes", "systems", "oscillators"}) {
        Sandbox box;
        write_file(box.path("paper.tex"),
                   read_file(std::string(KELVARIN_SOURCE_DIR) + "/bench/papers/" + name + ".tex"));
        run_kelvarin(box.dir, {"--rich", "paper.tex"});
        const std::string document = read_file(box.path("paper.eq.tex"));
        std::size_t pages = 0;
        for (std::size_t at = document.find("\n% paper.eq"); at != std::string::npos;
             at = document.find("\n% paper.eq", at + 1))
            ++pages;
        const RunResult r = render(box.dir, {"paper.eq.tex"});
        EXPECT_EQ(r.exit_status, 0) << name << ": " << r.err;
        EXPECT_EQ(r.out, std::to_string(pages) + " images written to .\n") << name;
    }
}

TEST(Render, UnknownTypeIsRefusedBeforeAnythingRuns) {
    Sandbox box;
    RunResult r = convert_and_render(box, "%%KELVARIN_EQUATION_TYPE=jpg\n" + kOverview, "paper.tex");
    EXPECT_EQ(r.exit_status, 2);
    EXPECT_NE(r.err.find("'jpg'"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(images_in(box.dir).empty());
}

TEST(Render, NameThatWouldLeaveTheFolderIsRefused) {
    Sandbox box;
    RunResult r = convert_and_render(box, "%%KELVARIN_EQUATION_TYPE=x/../../evil.gif\n" + kOverview, "paper.tex");
    EXPECT_EQ(r.exit_status, 2);
    EXPECT_NE(r.err.find("not a plain file name"), std::string::npos) << r.err;
}

TEST(Render, DocumentWithoutFormulasWritesNothing) {
    Sandbox box;
    RunResult r = convert_and_render(box, "\\begin{document}\nText.\n", "paper.tex");
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.out, "0 images written to .\n");
    EXPECT_FALSE(file_exists(box.path("paper.eq.manifest")));
}

TEST(Render, BadArgumentsAndDocuments) {
    Sandbox box;
    EXPECT_EQ(render(box.dir, {}).exit_status, 2);
    EXPECT_EQ(render(box.dir, {"--dpi", "x", "a.eq.tex"}).exit_status, 2);
    EXPECT_EQ(render(box.dir, {"missing.eq.tex"}).exit_status, 2);
    write_file(box.path("plain.tex"), "\\documentclass{article}\n\\begin{document}\n\\end{document}\n");
    RunResult r = render(box.dir, {"plain.tex"});
    EXPECT_EQ(r.exit_status, 2);
    EXPECT_NE(r.err.find("not an equation document"), std::string::npos);
}

TEST(EquationPages, PositionIsFoundFromTheEnd) {
    kelvarin::EquationPages doc;
    std::string error;
    const std::string text = crlf({"\\documentclass[12pt]{article}", "", "% kelvarin", "\\usepackage{txfonts}",
                                   "\\pagestyle{empty}", "", "\\begin{document}", "",
                                   "% a - b.eq1.x - block (row : 1 - 1).gif - inline (row : 5, column : 7 - 14)",
                                   "\\[", "E", "\\]", "\\newpage", "", "\\end{document}", ""});
    ASSERT_TRUE(kelvarin::parse_equation_pages(text, doc, error)) << error;
    ASSERT_EQ(doc.pages.size(), 1u);
    EXPECT_EQ(doc.pages[0].image_name, "a - b.eq1.x - block (row : 1 - 1).gif");
    EXPECT_EQ(doc.pages[0].position, "inline (row : 5, column : 7 - 14)");
    EXPECT_EQ(doc.head.size(), 8u);
    EXPECT_EQ(doc.pages[0].lines.size(), 6u);
}
