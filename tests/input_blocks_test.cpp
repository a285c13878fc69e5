// The input is read in blocks of 64 KiB, and a line end, a CR or the end
// byte 0x1A can fall on either side of a block's edge. Each case puts one of
// them right at an edge and checks the whole wiki page against the line
// rules: a line ends at LF, one CR right before that LF belongs to the line
// end, any other CR is data, and the first 0x1A ends the input.
#include "support/harness.h"

using namespace kelvarin_test;

namespace {

constexpr std::size_t kBlock = 1 << 16;

// Appends a line of filler so that the next byte of `source` stands at
// `offset` (at least two bytes before it).
void fill_to(std::string& source, std::size_t offset) {
    const std::size_t length = offset - source.size() - 1;
    for (std::size_t k = 0; k < length; ++k) source += static_cast<char>('a' + k % 26);
    source += '\n';
}

// The page the line rules give for a body of plain text lines: each line as
// it stands, with CR LF.
std::string page_of(std::string body) {
    if (const std::size_t stop = body.find('\x1a'); stop != std::string::npos) body.resize(stop);
    std::string page;
    std::size_t start = 0;
    for (;;) {
        const std::size_t lf = body.find('\n', start);
        std::string line = body.substr(start, lf == std::string::npos ? std::string::npos : lf - start);
        if (lf != std::string::npos && !line.empty() && line.back() == '\r') line.pop_back();
        page += line + "\r\n";
        if (lf == std::string::npos) return page;
        start = lf + 1;
    }
}

}  // namespace

TEST(InputBlocks, LineEndsAtTheEdgesOfBlocks) {
    const std::string begin = "\\begin{document}\n";
    const struct {
        const char* name;
        std::string before_edge, after_edge;
    } cases[] = {
        {"CR LF split by the edge", "ends with CR\r", "\nnext line"},
        {"lone CR before the edge", "keeps its CR\r", "as data\nnext line"},
        {"LF first byte of a block", "ends here", "\nnext line"},
        {"two CRs, one of them data", "two CRs\r\r", "\nnext line"},
        {"empty line across the edge", "x\n\r", "\n\nnext line"},
        {"end byte first in a block", "last line", "\x1aignored\nignored"},
        {"end byte last in a block", "last line\x1a", "ignored\n"},
        {"end byte right after LF", "last line\n", "\x1a"},
        {"LF at the very end of the file", "last line", "\n"},
    };
    for (const auto& c : cases) {
        for (std::size_t edge : {kBlock, 3 * kBlock}) {
            std::string source = begin;
            fill_to(source, edge - c.before_edge.size());
            source += c.before_edge + c.after_edge;
            ASSERT_EQ(source.substr(edge, c.after_edge.size()), c.after_edge);
            const Converted converted = convert_source(source);
            EXPECT_TRUE(converted.wiki == page_of(source.substr(begin.size())))
                << c.name << ", at byte " << edge;
        }
    }
}
