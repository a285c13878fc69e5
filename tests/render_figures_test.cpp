// A paper with figures of every kind, converted with --rich and rendered
// with real TeX: a PDF figure, an EPS figure, a PNG figure named without its
// extension and found through \graphicspath, a TikZ drawing and a tikz-cd
// diagram (png images, made through dvips and Ghostscript). Every image the
// page names must be there and be a whole image;
// a figure file that is gone, or that a link leads out of the paper's
// folder, is a reported failure that stops no other image. The fixture
// files are written here, by hand. Skipped, with a message, where TeX or the
// figure tools are not installed (failed under CI: see support/tex_check.h).
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "render/image_checks.h"
#include "support/file_bytes.h"
#include "support/harness.h"
#include "support/tex_check.h"

using namespace kelvarin_test;
namespace fs = std::filesystem;

namespace {

#define KELVARIN_FIGURE_TOOLS_MISSING                                                  \
    "pdftoppm, gs, dvips or tikz-cd not installed: apt-get install poppler-utils " \
    "ghostscript texlive-binaries texlive-pictures"

bool have_figure_tools() {
    return !on_path("pdftoppm").empty() && !on_path("gs").empty() && !on_path("dvips").empty() &&
           std::system("kpsewhich tikz-cd.sty >/dev/null 2>&1") == 0;
}

#define REQUIRE_FIGURE_TOOLS()                                                                 \
    do {                                                                                       \
        REQUIRE_TEX();                                                                         \
        if (!have_figure_tools()) {                                                            \
            if (under_ci()) FAIL() << KELVARIN_FIGURE_TOOLS_MISSING " (CI=true)";              \
            GTEST_SKIP() << KELVARIN_FIGURE_TOOLS_MISSING;                                     \
        }                                                                                      \
    } while (0)

// A one-page PDF file, 2 by 1 inches: a blue box and a red diagonal.
std::string small_pdf() {
    const std::string content = "0 0 1 rg 10 10 124 52 re f 1 0 0 RG 4 w 0 0 m 144 72 l S\n";
    const std::vector<std::string> objects = {
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 144 72] /Contents 4 0 R /Resources << >> >>",
        "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "endstream",
    };
    std::string pdf = "%PDF-1.4\n";
    std::vector<std::size_t> offsets;
    for (std::size_t k = 0; k < objects.size(); ++k) {
        offsets.push_back(pdf.size());
        pdf += std::to_string(k + 1) + " 0 obj\n" + objects[k] + "\nendobj\n";
    }
    const std::size_t xref = pdf.size();
    pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (std::size_t offset : offsets) {
        char entry[24];
        std::snprintf(entry, sizeof entry, "%010zu 00000 n \n", offset);
        pdf += entry;
    }
    pdf += "trailer\n<< /Size " + std::to_string(objects.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
           std::to_string(xref) + "\n%%EOF\n";
    return pdf;
}

// An EPS file of 1 by 0.5 inches: a line and a blue square.
const char* const kSmallEps =
    "%!PS-Adobe-3.0 EPSF-3.0\n"
    "%%BoundingBox: 0 0 72 36\n"
    "newpath 2 2 moveto 70 34 lineto 2 setlinewidth stroke\n"
    "0 0 1 setrgbcolor 10 10 20 20 rectfill\n"
    "showpage\n"
    "%%EOF\n";

std::uint32_t crc32(const std::string& bytes) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char c : bytes) {
        crc ^= c;
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

std::string be32(std::uint32_t v) {
    return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8), static_cast<char>(v)};
}

std::string png_chunk(const std::string& type, const std::string& data) {
    return be32(static_cast<std::uint32_t>(data.size())) + type + data + be32(crc32(type + data));
}

// A 40 by 20 PNG image, grey with a dark band, its pixels stored uncompressed.
std::string small_png() {
    const std::uint32_t width = 40, height = 20;
    std::string raw;
    for (std::uint32_t y = 0; y < height; ++y) {
        raw.push_back('\0');  // no filter
        for (std::uint32_t x = 0; x < width; ++x) raw.append(3, static_cast<char>(y > 8 && y < 12 ? 40 : 200));
    }
    // zlib: one stored deflate block, then the Adler-32 of the data.
    std::string z = "\x78\x01";
    z.push_back('\x01');
    const auto n = static_cast<std::uint16_t>(raw.size());
    z += {static_cast<char>(n & 0xFF), static_cast<char>(n >> 8), static_cast<char>(~n & 0xFF),
          static_cast<char>((~n >> 8) & 0xFF)};
    z += raw;
    std::uint32_t a = 1, b = 0;
    for (unsigned char c : raw) {
        a = (a + c) % 65521;
        b = (b + a) % 65521;
    }
    z += be32(b << 16 | a);
    const std::string header = be32(width) + be32(height) + std::string("\x08\x02\x00\x00\x00", 5);
    return std::string("\x89PNG\r\n\x1a\n", 8) + png_chunk("IHDR", header) + png_chunk("IDAT", z) +
           png_chunk("IEND", "");
}

const char* const kPaper =
    "\\documentclass{article}\n"
    "\\usepackage{graphicx}\n"
    "\\usepackage{tikz}\n"
    "\\usepackage{tikz-cd}\n"
    "\\graphicspath{{figures/}{art/}}\n"
    "\\begin{document}\n"
    "A formula $x^2$ before the figures.\n"
    "\\begin{figure}\\centering\\includegraphics[width=0.5\\linewidth]{decay}\\caption{A PDF figure}\\end{figure}\n"
    "\\begin{figure}\\includegraphics[scale=0.4]{ring.eps}\\caption{An EPS figure}\\end{figure}\n"
    "\\begin{figure}\\includegraphics{plot}\\caption{A PNG figure}\\end{figure}\n"
    "\\begin{tikzpicture}\\draw[line width=2pt] (0,0) -- (2,1);\\fill (0,0) circle (3pt);\\end{tikzpicture}\n"
    "\\begin{tikzcd} A \\arrow[r, \"f\"] & B \\end{tikzcd}\n"
    "\\end{document}\n";

// Writes the paper and its figure files into `box`.
void write_paper(const Sandbox& box) {
    fs::create_directories(box.path("figures"));
    fs::create_directories(box.path("art"));
    write_file(box.path("paper.tex"), kPaper);
    write_file(box.path("figures/decay.pdf"), small_pdf());
    write_file(box.path("art/ring.eps"), kSmallEps);
    write_file(box.path("figures/plot.png"), small_png());
}

// The files the page's image references name ("&ref(name,...)", "#ref(name,...)").
std::vector<std::string> images_named(const std::string& page) {
    std::vector<std::string> names;
    for (const std::string lead : {"&ref(", "#ref("})
        for (std::size_t p = page.find(lead); p != std::string::npos; p = page.find(lead, p + 1)) {
            const std::size_t start = p + lead.size();
            names.push_back(page.substr(start, page.find(',', start) - start));
        }
    return names;
}

// Width and height of a GIF or PNG image; 0, 0 for anything else.
std::pair<std::uint32_t, std::uint32_t> size_of(const std::string& b) {
    auto byte = [&](std::size_t at) { return static_cast<std::uint32_t>(static_cast<unsigned char>(b[at])); };
    if (b.size() >= 10 && b.compare(0, 4, "GIF8") == 0) return {byte(6) | byte(7) << 8, byte(8) | byte(9) << 8};
    if (b.size() >= 24 && b.compare(1, 3, "PNG") == 0)
        return {byte(16) << 24 | byte(17) << 16 | byte(18) << 8 | byte(19),
                byte(20) << 24 | byte(21) << 16 | byte(22) << 8 | byte(23)};
    return {0, 0};
}

// The image at `path` exists, is whole and is at least 8 pixels each way.
void expect_real_image(const std::string& path, bool non_trivial = true) {
    ASSERT_TRUE(file_exists(path)) << path << " is missing";
    const std::string bytes = read_file(path);
    const std::string ext = fs::path(path).extension().string().substr(1);
    EXPECT_EQ(kelvarin::image_problem(bytes, ext), "") << path;
    const auto [width, height] = size_of(bytes);
    if (non_trivial) {
        EXPECT_GE(width, 8u) << path;
        EXPECT_GE(height, 8u) << path;
    }
}

// How many bytes of a PNG image are its compressed pixels (its IDAT chunks):
// Ghostscript puts a colour profile of its own into every image, so the
// file's size says little about what it shows.
std::size_t pixel_bytes(const std::string& png) {
    std::size_t total = 0;
    for (std::size_t at = 8; at + 8 <= png.size();) {
        std::size_t length = 0;
        for (std::size_t k = 0; k < 4; ++k) length = length << 8 | static_cast<unsigned char>(png[at + k]);
        if (png.compare(at + 4, 4, "IDAT") == 0) total += length;
        at += 12 + length;
    }
    return total;
}

// A white PNG image of `width` by `height` pixels, made as Ghostscript makes
// a drawing's.
std::string blank_png(const Sandbox& box, std::uint32_t width, std::uint32_t height) {
    const std::string out = box.path("blank.png");
    const std::string command = "gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=png16m -g" + std::to_string(width) + "x" +
                                std::to_string(height) + " -sOutputFile='" + out + "' -c showpage";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    return read_file(out);
}

RunResult render(const Sandbox& box, std::vector<std::string> args) {
    args.push_back("paper.eq.tex");
    return run_program(KELVARIN_RENDER_BIN, box.dir, args);
}

// kelvarin-render on the paper, untrusted, confined by the folder view alone.
RunResult render_without_landlock(const Sandbox& box) {
    const char* was = std::getenv("KELVARIN_RENDER_LANDLOCK");
    const std::string saved = was == nullptr ? "" : was;
    setenv("KELVARIN_RENDER_LANDLOCK", "off", 1);
    RunResult run = render(box, {});
    if (was == nullptr) unsetenv("KELVARIN_RENDER_LANDLOCK");
    else setenv("KELVARIN_RENDER_LANDLOCK", saved.c_str(), 1);
    return run;
}

// The paper converted with --rich; its page.
std::string convert(const Sandbox& box) {
    const RunResult run = run_kelvarin(box.dir, {"--rich", "paper.tex"});
    EXPECT_EQ(run.exit_status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    return read_file(box.path("paper.wiki.txt"));
}

}  // namespace

TEST(RenderFigures, EveryImageThePageNamesIsMadeFromPdfEpsPngAndDrawings) {
    REQUIRE_FIGURE_TOOLS();
    Sandbox box;
    write_paper(box);
    const std::string page = convert(box);
    // PDF and EPS become PNG images beside the formulas', at the size the
    // paper gives relative to the text width; the PNG file, found through
    // \graphicspath and its extension, is copied there under a plain name.
    EXPECT_NE(page.find("&ref(paper.fig-decay.png,,50%);"), std::string::npos) << page;
    EXPECT_NE(page.find("&ref(paper.fig-ring.png,,40%);"), std::string::npos) << page;
    EXPECT_NE(page.find("&ref(paper.fig-plot.png,,100%);"), std::string::npos) << page;

    const RunResult run = render(box, {});
    EXPECT_EQ(run.exit_status, 0) << run.err;
    const std::vector<std::string> names = images_named(page);
    ASSERT_EQ(names.size(), 6u) << page;  // a formula, three figures, two drawings
    EXPECT_NE(page.find("#ref(paper.eq2.png,,70%)"), std::string::npos) << page;
    EXPECT_NE(page.find("#ref(paper.eq3.png,,70%)"), std::string::npos) << page;
    for (const std::string& name : names) expect_real_image(box.path(name));
}

// dvipng cannot draw the PostScript that pgf writes into the DVI file (it
// draws each special on its own, without pgf's header): a TikZ drawing came
// out as a 1 by 1 image and a tikz-cd diagram as its labels without arrows.
// Drawn by Ghostscript, each is its drawing, cut to what it draws: not a
// blank page of the right size either (a page drawn off its box), which is
// told by its pixel data against a blank image of the same size.
TEST(RenderFigures, DrawingsComeOutAsWhatTheyDraw) {
    REQUIRE_FIGURE_TOOLS();
    Sandbox box;
    write_paper(box);
    convert(box);
    const RunResult run = render(box, {"--trust-paper"});
    EXPECT_EQ(run.exit_status, 0) << run.err;
    for (const std::string name : {"paper.eq2.png", "paper.eq3.png"}) {
        SCOPED_TRACE(name);
        expect_real_image(box.path(name));
        const std::string bytes = read_file(box.path(name));
        const auto [width, height] = size_of(bytes);
        // At 120 dpi: the line is 2 cm by 1 cm, the diagram an arrow with a label above it.
        EXPECT_GE(width, 40u);
        EXPECT_GE(height, 20u) << "the diagram's arrow and its label are missing";
        EXPECT_LT(width, 400u) << "not cut to the drawing";
        EXPECT_GT(pixel_bytes(bytes), pixel_bytes(blank_png(box, width, height)) + 150) << "a blank image";
    }
}

// For a paper not trusted, Ghostscript runs only inside the kernel's
// confinement; without it the drawings fail, each with its reason, and
// every other image is made.
TEST(RenderFigures, DrawingsOfAnUntrustedPaperNeedTheKernelsConfinement) {
    REQUIRE_FIGURE_TOOLS();
    Sandbox box;
    write_paper(box);
    convert(box);
    const RunResult run = render_without_landlock(box);
    EXPECT_EQ(run.exit_status, 1) << run.err;
    for (const std::string name : {"paper.eq2.png", "paper.eq3.png"}) {
        EXPECT_NE(run.err.find(name + ", block (row : "), std::string::npos) << run.err;
        EXPECT_FALSE(file_exists(box.path(name))) << name;
    }
    EXPECT_NE(run.err.find("typeset, but a drawing made of PostScript goes through Ghostscript only under the "
                           "kernel's confinement (Landlock) for an untrusted paper, which is not in use here; use "
                           "--trust-paper for a paper you trust\n"),
              std::string::npos)
        << run.err;
    expect_real_image(box.path("paper.eq1.gif"));
    expect_real_image(box.path("paper.fig-decay.png"));
}

// picture draws with fonts and rules: in a document of png images its page
// is bare and png as a TikZ drawing's is, but dvipng makes it, with no
// Ghostscript and so without the kernel's confinement too.
TEST(RenderFigures, APictureInAPngDocumentIsMadeByDvipng) {
    REQUIRE_FIGURE_TOOLS();
    Sandbox box;
    write_file(box.path("paper.tex"), "%%KELVARIN_EQUATION_TYPE=png\n\\documentclass{article}\n\\begin{document}\n"
                                      "\\begin{picture}(40,20)\\put(0,0){\\line(2,1){40}}\\end{picture}\n"
                                      "\\end{document}\n");
    const std::string page = convert(box);
    EXPECT_NE(page.find("#ref(paper.eq1.png,,70%)"), std::string::npos) << page;
    const RunResult run = render_without_landlock(box);
    EXPECT_EQ(run.exit_status, 0) << run.err;
    expect_real_image(box.path("paper.eq1.png"));
}

// A document of svg images: the formula's image is svg, the drawing's png.
TEST(RenderFigures, ADrawingOfAnSvgDocumentIsStillAPngImage) {
    REQUIRE_FIGURE_TOOLS();
    Sandbox box;
    write_file(box.path("paper.tex"), "%%KELVARIN_EQUATION_TYPE=svg\n\\documentclass{article}\n\\usepackage{tikz}\n"
                                      "\\begin{document}\nA formula $x^2$ and a drawing:\n"
                                      "\\begin{tikzpicture}\\draw (0,0) circle (1);\\end{tikzpicture}\n"
                                      "\\end{document}\n");
    const std::string page = convert(box);
    EXPECT_NE(page.find("#ref(paper.eq2.png,,70%)"), std::string::npos) << page;
    const RunResult run = render(box, {"--trust-paper"});
    EXPECT_EQ(run.exit_status, 0) << run.err;
    expect_real_image(box.path("paper.eq1.svg"), false);
    expect_real_image(box.path("paper.eq2.png"));
    const auto [width, height] = size_of(read_file(box.path("paper.eq2.png")));
    EXPECT_NEAR(static_cast<double>(width), static_cast<double>(height), 4) << "a circle is as wide as it is high";
}

TEST(RenderFigures, AFigureFileGoneIsReportedWithItsRowAndStopsNoOtherImage) {
    REQUIRE_FIGURE_TOOLS();
    Sandbox box;
    write_paper(box);
    convert(box);
    fs::remove(box.path("figures/decay.pdf"));
    const RunResult run = render(box, {});
    EXPECT_EQ(run.exit_status, 1) << run.err;
    EXPECT_NE(run.err.find("kelvarin-render: paper.fig-decay.png, figure (row : 8): figures/decay.pdf not found\n"),
              std::string::npos)
        << run.err;
    EXPECT_FALSE(file_exists(box.path("paper.fig-decay.png")));
    expect_real_image(box.path("paper.fig-ring.png"));
    expect_real_image(box.path("paper.eq1.gif"));
}

// The converter never lists such a file; an equation document written by
// hand, or a link made after the conversion, may.
TEST(RenderFigures, AFigureThatALinkLeadsOutOfThePapersFolderIsNotRead) {
    REQUIRE_FIGURE_TOOLS();
    Sandbox box, elsewhere;
    write_paper(box);
    convert(box);
    write_file(elsewhere.path("secret.pdf"), small_pdf());
    fs::remove(box.path("figures/decay.pdf"));
    fs::create_symlink(elsewhere.path("secret.pdf"), box.path("figures/decay.pdf"));
    const RunResult run = render(box, {});
    EXPECT_EQ(run.exit_status, 1) << run.err;
    EXPECT_NE(run.err.find("paper.fig-decay.png, figure (row : 8): figures/decay.pdf lies outside the paper's folder"),
              std::string::npos)
        << run.err;
    EXPECT_FALSE(file_exists(box.path("paper.fig-decay.png")));
    // A trusted paper may.
    const RunResult trusted = render(box, {"--trust-paper"});
    EXPECT_EQ(trusted.exit_status, 0) << trusted.err;
    expect_real_image(box.path("paper.fig-decay.png"));
}

TEST(RenderFigures, AFigureImageThatComesOutTheSameIsNotListedAsChanged) {
    REQUIRE_FIGURE_TOOLS();
    Sandbox box;
    write_paper(box);
    convert(box);
    ASSERT_EQ(render(box, {"--changed", "first.txt"}).exit_status, 0);
    const std::string first = read_file(box.path("first.txt"));
    EXPECT_NE(first.find("paper.fig-decay.png\n"), std::string::npos) << first;
    EXPECT_NE(first.find("paper.fig-ring.png\n"), std::string::npos) << first;
    ASSERT_EQ(render(box, {"--changed", "second.txt"}).exit_status, 0);
    EXPECT_EQ(read_file(box.path("second.txt")), "");
    // A new figure file is a new image.
    std::string red = kSmallEps;
    red.replace(red.find("0 0 1"), 5, "1 0 0");
    write_file(box.path("art/ring.eps"), red);
    ASSERT_EQ(render(box, {"--changed", "third.txt"}).exit_status, 0);
    EXPECT_EQ(read_file(box.path("third.txt")), "paper.fig-ring.png\n");
}

// The converter looks at no file outside the paper's folder, whatever name
// or link leads there; no example can hold a link.
TEST(RichFigureFiles, AFigureFileALinkLeadsOutOfThePapersFolderToIsNotUsed) {
    Sandbox box, elsewhere;
    fs::create_directories(box.path("figures"));
    write_file(elsewhere.path("secret.pdf"), small_pdf());
    fs::create_symlink(elsewhere.path("secret.pdf"), box.path("figures/decay.pdf"));
    write_file(box.path("paper.tex"),
               "\\graphicspath{{figures/}}\n\\begin{document}\n\\includegraphics{decay}\n\\end{document}\n");
    const RunResult run = run_kelvarin(box.dir, {"--rich", "paper.tex"});
    EXPECT_EQ(run.exit_status, 0) << run.err;
    EXPECT_EQ(run.err, "kelvarin: paper.tex:3: figure file decay not used: it lies outside the paper's folder\n");
    EXPECT_EQ(read_file(box.path("paper.wiki.txt")), "&ref(decay,,100%);\r\n");
    EXPECT_EQ(read_file(box.path("paper.eq.tex")).find("% figure"), std::string::npos);
}

// A copied SVG figure is published as it is: one that holds script is
// refused as a formula's SVG image would be.
TEST(RenderFigures, ACopiedSvgFigureWithScriptIsRefused) {
    REQUIRE_FIGURE_TOOLS();
    Sandbox box;
    fs::create_directories(box.path("figures"));
    write_file(box.path("figures/bad.svg"),
               "<svg xmlns=\"http://www.w3.org/2000/svg\"><script>alert(1)</script></svg>\n");
    write_file(box.path("figures/good.svg"),
               "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"20\" height=\"10\"><rect width=\"20\" "
               "height=\"10\"/></svg>\n");
    write_file(box.path("paper.tex"), "\\graphicspath{{figures/}}\n\\begin{document}\n"
                                      "\\includegraphics{bad.svg} \\includegraphics{good.svg}\n\\end{document}\n");
    const std::string page = convert(box);
    EXPECT_EQ(page, "&ref(paper.fig-bad.svg,,100%); &ref(paper.fig-good.svg,,100%);\r\n");
    const RunResult run = render(box, {});
    EXPECT_EQ(run.exit_status, 1) << run.err;
    EXPECT_NE(run.err.find("paper.fig-bad.svg, figure (row : 3): figures/bad.svg: the SVG file holds a <script> "
                           "element; refused (cp)"),
              std::string::npos)
        << run.err;
    EXPECT_FALSE(file_exists(box.path("paper.fig-bad.svg")));
    EXPECT_EQ(read_file(box.path("paper.fig-good.svg")), read_file(box.path("figures/good.svg")));
}
