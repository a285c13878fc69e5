// kelvarin-render on real TeX: images named from the page comments, so a
// formula that fails cannot shift the names of the others. Skipped, with a
// message, where latex is not installed.
#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include <gtest/gtest.h>

#include "render/equation_pages.h"
#include "support/harness.h"

using namespace kelvarin_test;
namespace fs = std::filesystem;

namespace {

bool have_tex() {
    return std::system("command -v latex >/dev/null 2>&1 && command -v dvipng >/dev/null 2>&1 && "
                       "command -v dvisvgm >/dev/null 2>&1") == 0;
}

#define REQUIRE_TEX()                                                                        \
    if (!have_tex()) GTEST_SKIP() << "latex, dvipng or dvisvgm not installed: "              \
                                     "apt-get install texlive-latex-base "                    \
                                     "texlive-fonts-recommended dvipng dvisvgm"

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
