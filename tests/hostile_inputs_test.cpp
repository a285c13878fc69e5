// Inputs nobody should write but somebody will: huge, binary, unclosed,
// repeated without end. Each case checks what comes out, not only that the
// program survives.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <random>

#include <gtest/gtest.h>

#include "support/harness.h"

using namespace kelvarin_test;

namespace {

const std::string kBegin = "\\begin{document}\n";

std::string ref(int n) { return "&ref(paper.eq" + std::to_string(n) + ".gif,,70%);"; }

// Repeats `piece` `count` times.
std::string repeat(const std::string& piece, std::size_t count) {
    std::string out;
    out.reserve(piece.size() * count);
    for (std::size_t i = 0; i < count; ++i) out += piece;
    return out;
}

std::string random_bytes(std::size_t size, std::uint32_t seed) {
    std::mt19937 gen(seed);
    std::string out(size, '\0');
    for (char& c : out) c = static_cast<char>(gen() & 0xFF);
    return out;
}

}  // namespace

TEST(HostileInputs, OneLineOf64MiB) {
    std::string line(64u << 20, 'a');
    for (std::size_t i = 0; i < line.size(); i += 4099) line[i] = ' ';
    Converted c = convert_source(kBegin + line);
    EXPECT_EQ(c.log, crlf({"file : paper.tex", "  parse ok"}));
    EXPECT_TRUE(c.wiki == line.substr(1) + "\r\n") << "wiki page of " << c.wiki.size() << " bytes";
}

TEST(HostileInputs, AMillionEmptyLines) {
    Converted c = convert_source(kBegin + std::string(1000000, '\n'));
    // The final line end yields one more empty line.
    EXPECT_TRUE(c.wiki == repeat("\r\n", 1000001)) << c.wiki.size();
}

TEST(HostileInputs, OnlyNulBytes) {
    const std::string nuls(100000, '\0');
    Converted c = convert_source(nuls);
    EXPECT_EQ(c.wiki, "");
    EXPECT_EQ(c.equations, equation_document({nuls}, {}));
    EXPECT_EQ(c.log, crlf({"file : paper.tex", "  parse ok"}));
}

TEST(HostileInputs, RandomBinaryPreambleComesBackLineForLine) {
    std::string bytes = random_bytes(1 << 20, 7);
    // Without 0x1A and "%" the whole input is preamble, stored line for line.
    for (char& c : bytes)
        if (c == '\x1a' || c == '%' || c == '\\') c = 'x';
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (;;) {
        const std::size_t lf_at = bytes.find('\n', start);
        std::string line = bytes.substr(start, lf_at == std::string::npos ? std::string::npos : lf_at - start);
        if (lf_at != std::string::npos && !line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        if (lf_at == std::string::npos) break;
        start = lf_at + 1;
    }
    Converted c = convert_source(bytes);
    EXPECT_TRUE(c.equations == equation_document(lines, {}));
    EXPECT_EQ(c.wiki, "");
}

TEST(HostileInputs, RandomBinaryBodyKeepsTheOutputRules) {
    for (std::uint32_t seed = 1; seed <= 8; ++seed) {
        std::string bytes = random_bytes(1 << 18, seed);
        for (char& c : bytes)
            if (c == '\x1a') c = '$';
        Converted c = convert_source(kBegin + bytes);
        EXPECT_EQ(c.log, crlf({"file : paper.tex", "  parse ok"})) << "seed " << seed;
        EXPECT_TRUE(all_lines_end_with_crlf(c.wiki)) << "seed " << seed;
        EXPECT_TRUE(all_lines_end_with_crlf(c.equations)) << "seed " << seed;
    }
}

TEST(HostileInputs, EveryConstructLeftOpenAtTheEnd) {
    EXPECT_EQ(convert_source(kBegin + "\\begin{figure}\n\\includegraphics{a.png}\ntext").wiki, "");
    EXPECT_EQ(convert_source(kBegin + "\\begin{itemize}\n\\item a").wiki, crlf({"-a"}));
    EXPECT_EQ(convert_source(kBegin + "\\begin{enumerate}\n\\item a").wiki, crlf({"+a"}));
    EXPECT_EQ(convert_source(kBegin + "\\begin{verbatim}\n  code").wiki, crlf({"#code(C){{", "  code"}));
    EXPECT_EQ(convert_source(kBegin + "\\begin{quote}\n  said").wiki, crlf({"", ">", "  said"}));
    Converted c = convert_source(kBegin + "$a$\n\\[\nlost\n");
    EXPECT_EQ(c.wiki, crlf({ref(1)}));
    EXPECT_EQ(c.equations, equation_document({}, {{"% paper.eq1.gif - inline (row : 2, column : 0 - 2)", {"a"}}}));
}

TEST(HostileInputs, HundredThousandDollarsOnOneLine) {
    Converted even = convert_source(kBegin + std::string(100000, '$'));
    EXPECT_TRUE(even.wiki == crlf({repeat(ref(1), 50000)}));
    EXPECT_EQ(even.equations,
              equation_document({}, {{"% paper.eq1.gif - inline (row : 2, column : 0 - 1)", {""}}}));
    Converted odd = convert_source(kBegin + std::string(100001, '$'));
    EXPECT_TRUE(odd.wiki == crlf({repeat(ref(1), 50000) + "$"}));
}

TEST(HostileInputs, ManyDistinctFormulasOnOneLine) {
    std::string line;
    std::string expected;
    for (int i = 1; i <= 20000; ++i) {
        line += "$x_{" + std::to_string(i) + "}$,";
        expected += ref(i) + ",";
    }
    Converted c = convert_source(kBegin + line);
    EXPECT_TRUE(c.wiki == crlf({expected}));
    EXPECT_NE(c.equations.find("% paper.eq20000.gif - inline (row : 2, column : "), std::string::npos);
}

TEST(HostileInputs, DeeplyRepeatedMarkers) {
    // A hundred thousand openings abandon each other; the last one closes.
    Converted display = convert_source(kBegin + repeat("\\[\n", 100000) + "x\n\\]\n");
    EXPECT_EQ(display.wiki, crlf({"#ref(paper.eq1.gif,,70%)", "", ""}));
    EXPECT_EQ(display.equations,
              equation_document({}, {{"% paper.eq1.gif - block (row : 100002 - 100002)", {"x"}}}));
    // Lists and figures are one flag each, however deep.
    EXPECT_EQ(convert_source(kBegin + repeat("\\begin{itemize}\n", 100000) + "\\item a\n\\end{itemize}\n\\item b")
                  .wiki,
              crlf({"-a", "", "\\item b"}));
    EXPECT_EQ(convert_source(kBegin + repeat("\\begin{figure}\n", 100000) + "\\end{figure}\nafter").wiki,
              crlf({"", "#ref(,,100%)", "", "after"}));
    // Braces that never close and items that never stop.
    EXPECT_EQ(convert_source(kBegin + "\\section{" + std::string(1000000, '{') + "}").wiki,
              crlf({"*" + std::string(999999, '{') + "{"}));
    EXPECT_EQ(convert_source(kBegin + "\\begin{itemize}\n" + repeat("\\item ", 100000)).wiki,
              crlf({"-" + repeat("\\item ", 99999)}));
}

TEST(HostileInputs, OutputsInAReadOnlyDirectory) {
    Sandbox box;
    chmod(box.dir.c_str(), 0755);
    mkdir(box.path("work").c_str(), 0777);
    chmod(box.path("work").c_str(), 0777);
    mkdir(box.path("ro").c_str(), 0755);
    write_file(box.path("ro/paper.tex"), kBegin + "$x$\n");
    chmod(box.path("ro/paper.tex").c_str(), 0644);
    chmod(box.path("ro").c_str(), 0555);
    RunResult r = run_kelvarin(box.path("work"), {"../ro/paper.tex"}, /*unprivileged=*/true);
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.out, "Invalid file specified\n");
    EXPECT_EQ(read_file(box.path("work/kelvarin.log")), crlf({"file : ../ro/paper.tex", "  parse failure"}));
    EXPECT_FALSE(file_exists(box.path("ro/paper.wiki.txt")));
    EXPECT_EQ(read_file(box.path("ro/paper.tex")), kBegin + "$x$\n");
}

TEST(HostileInputs, InputGivenTwiceAndItsOwnOutputAsInput) {
    Sandbox box;
    write_file(box.path("a.tex"), kBegin + "$x$\n");
    RunResult r = run_kelvarin(box.dir, {"a.tex", "a.wiki.txt", "a.tex"});
    EXPECT_EQ(read_file(box.path("kelvarin.log")),
              crlf({"file : a.tex", "  parse ok", "file : a.wiki.txt", "  parse ok", "file : a.tex",
                    "  parse ok"}));
    EXPECT_EQ(read_file(box.path("a.wiki.txt")), crlf({"&ref(a.eq1.gif,,70%);", ""}));
    // a.wiki.txt was all preamble to the second conversion.
    EXPECT_EQ(read_file(box.path("a.wiki.eq.tex")), equation_document({"&ref(a.eq1.gif,,70%);", "", ""}, {}));
}

TEST(HostileInputs, PathWithSpacesNonAsciiAndLineBreaks) {
    Sandbox box;
    const std::string name = "-my paper \xe2\x88\x91\xff\r\nline.tex";
    write_file(box.path(name), kBegin + "$x$\n");
    RunResult r = run_kelvarin(box.dir, {name});
    const std::string stem = name.substr(0, name.size() - 4);
    // The log repeats the argument byte for byte, whatever it holds.
    EXPECT_EQ(read_file(box.path("kelvarin.log")), crlf({"file : " + name, "  parse ok"}));
    EXPECT_EQ(read_file(box.path(stem + ".wiki.txt")), crlf({"&ref(" + stem + ".eq1.gif,,70%);", ""}));
    EXPECT_EQ(r.out, "");
}
