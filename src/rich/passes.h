// Rich mode reads the body twice with the same walk; what differs is where
// the walk's findings go. The first pass learns the outline (headings with
// their plain titles, numbers, labels) so that a reference can name what
// the paper defines only later; it writes no line and registers no formula.
// The second pass writes the page and the formulas, with every label known.
// Each pass is a sink: the walk hands it lines, formulas, labels and
// headings, and never asks which pass it is in.
#ifndef KELVARIN_RICH_PASSES_H
#define KELVARIN_RICH_PASSES_H

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kelvarin {

struct JobState;
struct RichState;
struct Walk;
struct Argument;

// A formula found in the walk, with where it stands in the source.
struct FoundFormula {
    bool is_inline = false;
    std::string_view text;           // inline: the formula, in the text being walked
    std::vector<std::string> lines;  // display: its lines
    std::int64_t first_row = 0, last_row = 0;
    std::int64_t first_column = -1, last_column = -1;
    bool bare = false;  // a drawing, typeset as it stands
    bool postscript = false;  // a drawing made of PostScript, its image png
};

struct PassSink {
    // Whether prose text is worth building at all: the learning pass skips
    // copying it, and skips source lines that can teach it nothing.
    bool keeps_text;
    // A complete wiki line.
    void (*line)(JobState& job, std::string_view line);
    // A formula; returns its number (0 where formulas are not numbered).
    std::int64_t (*formula)(JobState& job, FoundFormula formula);
    // "\label{key}" met where the walk stands.
    void (*label)(RichState& r, std::string_view key);
    // A heading command's title argument, at `level` (-1 part, 0 chapter,
    // 1 section ... 3 subsubsection and below); `title` is its translation.
    void (*heading)(Walk& w, int level, bool numbered, const Argument& arg, const std::string& title);
};

extern const PassSink kLearningPass;
extern const PassSink kWritingPass;

}  // namespace kelvarin

#endif
