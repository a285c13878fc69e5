// Inputs nobody should write but somebody will: huge, binary, repeated without end, in a folder
// nobody may write. Each case checks what comes out, not only that the program survives.
#include <sys/stat.h>

#include <algorithm>
#include <random>

#include "support/harness.h"

using namespace kelvarin_test;

namespace {

const std::string kBegin = "\\begin{document}\n";
const std::string kParseOk = crlf({"file : paper.tex", "  parse ok"});
const std::string kRef = "&ref(paper.eq1.gif,,70%);";

std::string repeat(const std::string& piece, std::size_t count) {
    std::string out;
    while (count-- > 0) out += piece;
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
    // The line spans a thousand input blocks; its CR LF end comes after them.
    std::string line(64u << 20, 'a');
    for (std::size_t i = 0; i < line.size(); i += 4099) line[i] = ' ';
    Converted c = convert_source(kBegin + line + "\r\nend");
    EXPECT_EQ(c.log, kParseOk);
    EXPECT_TRUE(c.wiki == line.substr(1) + "\r\nend\r\n") << "wiki page of " << c.wiki.size() << " bytes";
}

// Bodies far beyond any real paper, each beside the exact wiki page it gives and, where given,
// the exact equation document.
TEST(HostileInputs, HugeBodiesGiveExactPages) {
    std::string formulas, references;
    for (int i = 1; i <= 20000; ++i) {
        formulas += "$x_{" + std::to_string(i) + "}$,";
        references += "&ref(paper.eq" + std::to_string(i) + ".gif,,70%);,";
    }
    // The last formula, "$x_{20000}$", stands just before the final comma.
    const std::string last_page = "% paper.eq20000.gif - inline (row : 2, column : " +
                                  std::to_string(formulas.size() - 12) + " - " + std::to_string(formulas.size() - 2) +
                                  ")\r\n\\[\r\nx_{20000}\r\n";
    const struct {
        std::string body, wiki, equations;
    } cases[] = {
        // The final line end gives one more empty line.
        {std::string(1000000, '\n'), repeat("\r\n", 1000001), ""},
        {std::string(100000, '$'), crlf({repeat(kRef, 50000)}),
         equation_document({}, {"% paper.eq1.gif - inline (row : 2, column : 0 - 1)", ""})},
        {std::string(100001, '$'), crlf({repeat(kRef, 50000) + "$"}), ""},
        {formulas, crlf({references}), ""},
        // A hundred thousand openings abandon each other; the last one closes.
        {repeat("\\[\n", 100000) + "x\n\\]\n", crlf({"#ref(paper.eq1.gif,,70%)", "", ""}),
         equation_document({}, {"% paper.eq1.gif - block (row : 100002 - 100002)", "x"})},
        // Lists and figures are one flag each, however deep.
        {repeat("\\begin{itemize}\n", 100000) + "\\item a\n\\end{itemize}\n\\item b", crlf({"-a", "", "\\item b"}), ""},
        {repeat("\\begin{figure}\n", 100000) + "\\end{figure}\nafter", crlf({"", "#ref(,,100%)", "", "after"}), ""},
        // Braces that never close and items that never stop.
        {"\\section{" + std::string(1000000, '{') + "}", crlf({"*" + std::string(999999, '{') + "{"}), ""},
        {"\\begin{itemize}\n" + repeat("\\item ", 100000), crlf({"-" + repeat("\\item ", 99999)}), ""},
    };
    for (const auto& [body, wiki, equations] : cases) {
        Converted c = convert_source(kBegin + body);
        const std::string start = body.substr(0, 30);
        EXPECT_EQ(c.log, kParseOk) << start;
        EXPECT_TRUE(c.wiki == wiki) << start << "… gives a page of " << c.wiki.size() << " bytes";
        EXPECT_TRUE(equations.empty() || c.equations == equations) << start;
        EXPECT_TRUE(body != formulas || c.equations.find(last_page) != std::string::npos);
    }
}

TEST(HostileInputs, BinaryPreambleComesBackLineForLine) {
    // Without 0x1A, "%" and "\" the whole input is preamble, stored line for line: here a line of
    // NUL bytes, then random bytes.
    std::string bytes = std::string(100000, '\0') + "\n" + random_bytes(1 << 20, 7);
    for (char& c : bytes)
        if (c == '\x1a' || c == '%' || c == '\\') c = 'x';
    std::vector<std::string> lines{""};
    for (char c : bytes) {
        if (c != '\n') lines.back() += c;
        else if (!lines.back().empty() && lines.back().back() == '\r') lines.back().pop_back();
        if (c == '\n') lines.emplace_back();
    }
    Converted c = convert_source(bytes);
    EXPECT_TRUE(c.equations == equation_document(lines, {}));
    EXPECT_EQ(c.wiki, "");
    EXPECT_EQ(c.log, kParseOk);
}

TEST(HostileInputs, RandomBinaryBodyKeepsTheOutputRules) {
    for (std::uint32_t seed = 1; seed <= 8; ++seed) {
        std::string bytes = random_bytes(1 << 18, seed);
        std::replace(bytes.begin(), bytes.end(), '\x1a', '$');
        Converted c = convert_source(kBegin + bytes);
        EXPECT_EQ(c.log, kParseOk) << "seed " << seed;
        EXPECT_TRUE(all_lines_end_with_crlf(c.wiki) && all_lines_end_with_crlf(c.equations)) << "seed " << seed;
    }
}

// Run as the user nobody, who may not write the input's folder, from a copy of kelvarin in the
// sandbox: the build folder may be private to its owner, as one made by mktemp -d is.
TEST(HostileInputs, OutputsInAReadOnlyDirectory) {
    Sandbox box;
    std::filesystem::copy_file(KELVARIN_BIN, box.path("kelvarin"));
    mkdir(box.path("work").c_str(), 0777);
    mkdir(box.path("ro").c_str(), 0755);
    write_file(box.path("ro/paper.tex"), kBegin + "$x$\n");
    for (const auto& [path, mode] : {std::pair<std::string, mode_t>{box.dir, 0755}, {box.path("work"), 0777},
                                     {box.path("ro/paper.tex"), 0644}, {box.path("ro"), 0555}})
        chmod(path.c_str(), mode);
    RunResult r = run_program(box.path("kelvarin"), box.path("work"), {"../ro/paper.tex"}, /*unprivileged=*/true);
    if (r.exit_status == 126 && r.out.empty()) GTEST_SKIP() << "the user nobody cannot run kelvarin here: " << r.err;
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(r.out, "Invalid file specified\n");
    EXPECT_EQ(r.err, "kelvarin: ../ro/paper.wiki.txt: cannot be written: Permission denied\n");
    EXPECT_EQ(read_file(box.path("work/kelvarin.log")), crlf({"file : ../ro/paper.tex", "  parse failure"}));
    EXPECT_FALSE(file_exists(box.path("ro/paper.wiki.txt")));
    EXPECT_EQ(read_file(box.path("ro/paper.tex")), kBegin + "$x$\n");
}
