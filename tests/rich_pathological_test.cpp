// Rich mode on pathological inputs, one test per input, each with a bound of
// its own far above what it needs (a second or two; more under the
// sanitizers): a reader that went quadratic would run into it. Each case
// also keeps the output rules and leaves no reference without its page.
#include <cstdlib>

#include "support/harness.h"
#include "support/rich_pathological.h"

using namespace kelvarin_test;

namespace {

constexpr unsigned kBoundSeconds = 120;

class RichPathological : public ::testing::TestWithParam<PathologicalCase> {};

// The highest image number a page refers to, and the pages the equation
// document holds.
std::size_t highest_reference(const std::string& wiki) {
    std::size_t highest = 0;
    for (std::size_t at = wiki.find("ref(paper.eq"); at != std::string::npos; at = wiki.find("ref(paper.eq", at + 1))
        highest = std::max<std::size_t>(highest, std::strtoull(wiki.c_str() + at + 12, nullptr, 10));
    return highest;
}

std::size_t equation_pages(const std::string& equations) {
    std::size_t pages = 0;
    for (std::size_t at = equations.find("\n% paper.eq"); at != std::string::npos;
         at = equations.find("\n% paper.eq", at + 1))
        ++pages;
    return pages;
}

}  // namespace

TEST_P(RichPathological, EndsInTimeAndKeepsTheOutputRules) {
    Sandbox box;
    write_file(box.path("paper.tex"), "\\begin{document}\n" + GetParam().body);
    const RunResult run = run_program(KELVARIN_BIN, box.dir, {"--rich", "paper.tex"}, false, kBoundSeconds);
    ASSERT_EQ(run.exit_status, 0) << "did not end within " << kBoundSeconds << " s, or failed: " << run.err;
    EXPECT_EQ(read_file(box.path("kelvarin.log")), crlf({"file : paper.tex", "  parse ok"}));
    const std::string wiki = read_file(box.path("paper.wiki.txt"));
    const std::string equations = read_file(box.path("paper.eq.tex"));
    EXPECT_TRUE(all_lines_end_with_crlf(wiki) && all_lines_end_with_crlf(equations));
    EXPECT_LE(highest_reference(wiki), equation_pages(equations));
}

INSTANTIATE_TEST_SUITE_P(Inputs, RichPathological, ::testing::ValuesIn(rich_pathological_cases()),
                         [](const ::testing::TestParamInfo<PathologicalCase>& input) { return input.param.name; });
