// kelvarin-render with several latex runs at once (-j N) on real TeX: the
// same images, name for name and byte for byte, the same failures with the
// same messages, and the same manifest as from one run. Stopping such a run
// is tested with the other stop signals (render_security_test.cpp).
#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/harness.h"
#include "support/tex_check.h"

using namespace kelvarin_test;
namespace fs = std::filesystem;

namespace {

RunResult render(const std::string& dir, const std::vector<std::string>& args) {
    return run_program(KELVARIN_RENDER_BIN, dir, args);
}

// Every file of the folder with its bytes.
std::map<std::string, std::string> contents(const std::string& dir) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::directory_iterator(dir))
        files[entry.path().filename().string()] = read_file(entry.path().string());
    return files;
}

// The lines of `text` that hold `what`.
std::vector<std::string> lines_with(const std::string& text, const std::string& what) {
    std::vector<std::string> found;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        const std::string line = text.substr(start, end - start);
        if (line.find(what) != std::string::npos) found.push_back(line);
        start = end + 1;
    }
    return found;
}

// `count` formulas of the kinds papers hold, of different lengths, with
// faults in both halves: an error, a formula that spills over a page, and
// \end{document} where it does not belong.
std::string faulty_document(std::size_t count, const std::string& type) {
    std::vector<std::string> pages;
    for (std::size_t i = 1; i <= count; ++i) {
        const std::string k = std::to_string(i);
        std::string body;
        switch (i % 4) {
            case 0: body = "x_{" + k + "}^2"; break;
            case 1: body = "\\frac{a_{" + k + "}}{1 + b^{" + k + "}}"; break;
            case 2: body = "\\sum_{j=1}^{" + k + "} j^2 = \\int_0^{" + k + "} t\\,dt"; break;
            default: body = "\\begin{pmatrix} " + k + " & 0 \\\\ 0 & " + k + " \\end{pmatrix}"; break;
        }
        if (i == count / 4) body = "\\frac{";
        if (i == count / 2 + count / 4) body = "a \\end{document} b";
        if (i == count - 3) body = "x \\] \\vspace*{2\\textheight} \\[ y";
        pages.push_back("% paper.eq" + k + "." + type + " - block (row : " + std::to_string(i + 10) + " - " +
                        std::to_string(i + 10) + ")");
        pages.push_back(body);
    }
    return equation_document({"\\documentclass[12pt]{article}", "\\usepackage{amsmath}"}, pages);
}

}  // namespace

TEST(RenderParallel, TwoRunsGiveTheBytesAndFailuresOfOne) {
    REQUIRE_TEX();
    for (const std::string type : {"gif", "png"}) {
        Sandbox box;
        write_file(box.path("paper.eq.tex"), faulty_document(600, type));
        const RunResult one = render(box.dir, {"-j", "1", "--out", "one", "paper.eq.tex"});
        const RunResult two = render(box.dir, {"-j2", "--out", "two", "paper.eq.tex"});
        EXPECT_EQ(one.exit_status, 1) << one.err;
        EXPECT_EQ(two.exit_status, 1) << two.err;
        EXPECT_NE(two.err.find("in 2 latex runs"), std::string::npos) << "not split: " << two.err;
        const std::vector<std::string> failures = lines_with(one.err, "block (row");
        EXPECT_EQ(failures.size(), 3u) << one.err;
        EXPECT_EQ(lines_with(two.err, "block (row"), failures);
        EXPECT_NE(one.err.find("597 of 600 images written, 3 failed"), std::string::npos) << one.err;
        EXPECT_NE(two.err.find("597 of 600 images written, 3 failed"), std::string::npos) << two.err;
        const auto from_one = contents(box.path("one"));
        EXPECT_EQ(from_one.size(), 598u);  // and the manifest
        EXPECT_TRUE(contents(box.path("two")) == from_one) << type << ": not the same files or bytes";
    }
}

TEST(RenderParallel, SvgDocumentsStayOneRun) {
    REQUIRE_TEX();
    Sandbox box;
    write_file(box.path("paper.eq.tex"), faulty_document(420, "svg"));
    const RunResult one = render(box.dir, {"-j", "1", "--out", "one", "paper.eq.tex"});
    const RunResult two = render(box.dir, {"-j", "2", "--out", "two", "paper.eq.tex"});
    EXPECT_EQ(two.err.find("latex runs"), std::string::npos) << two.err;
    EXPECT_EQ(lines_with(two.err, "block (row"), lines_with(one.err, "block (row"));
    EXPECT_TRUE(contents(box.path("two")) == contents(box.path("one"))) << "not the same files or bytes";
}
