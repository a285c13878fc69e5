// What rich mode carries from one line to the next, and what its first pass
// learns for the second: labels with the numbers and headings they name, and
// the anchors of the headings and theorems that labels point at.
#ifndef KELVARIN_RICH_STATE_H
#define KELVARIN_RICH_STATE_H

#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "rich/latex_lexing.h"
#include "rich/macros.h"
#include "rich/passes.h"

namespace kelvarin {

// What a \label names: the last numbered thing before it in its scope.
struct LabelTarget {
    enum Kind { none, section, equation, figure, table, theorem, item, footnote } kind = none;
    std::string number;       // as LaTeX would print it: "3", "2.1", "a"
    std::string name;         // theorem: its printed name ("Lemma")
    std::int64_t ordinal = -1;  // heading, theorem: its ordinal among its kind in the document
    std::string environment;  // theorem: its environment ("lem"), which \crefname names
};

struct Label {
    LabelTarget target;
    std::string title;   // heading: its title as plain text, for \nameref and unnumbered ones
    std::string anchor;  // heading, theorem: the fixed anchor links go to
};

// Gathered by the first pass over a source, read by the second.
struct RichOutline {
    std::unordered_map<std::string, Label> labels;
    std::unordered_map<std::int64_t, std::string> heading_anchors;  // by ordinal
    std::unordered_map<std::int64_t, std::string> theorem_anchors;  // by ordinal
    std::unordered_map<std::string, int> anchors_taken;             // id -> uses
    bool has_chapters = false;
};

// A theorem-like environment: "\newtheorem{lemma}[theorem]{Lemma}[section]".
struct TheoremKind {
    std::string printed;  // "Lemma"
    std::string counter;  // the counter it numbers with; empty: unnumbered
};

// The LaTeX counters that numbers are made from.
struct Counters {
    std::int64_t sectioning[4] = {0, 0, 0, 0};  // chapter, section, subsection, subsubsection
    bool appendix = false;                      // top level counts A, B, C ...
    std::int64_t equation = 0;
    std::int64_t figure = 0;
    std::int64_t table = 0;
    std::int64_t footnote = 0;
    std::string equation_within;                // "\numberwithin{equation}{section}"
    std::string figure_within, table_within;
    std::map<std::string, std::int64_t> theorem;        // by counter name
    std::map<std::string, std::string> theorem_within;  // counter -> sectioning unit
    // The deepest sectioning level whose headings show their number
    // ("\setcounter{secnumdepth}{1}"); kUnset: LaTeX's default for the class.
    static constexpr std::int64_t kUnset = -1000;
    std::int64_t secnumdepth = kUnset;
};

// An image of a figure, with the caption of its own part.
struct FigureImage {
    std::string file;
    std::string subcaption;
    std::string scale = "100%";  // of the text's width, as the reference's size
};

// A figure file that kelvarin-render turns into the image the page names:
// a PDF or EPS drawing converted, a web image in a folder copied.
struct FigureToConvert {
    std::string image;   // "paper.fig-decay.png", a plain file name beside the formula images
    std::string source;  // "figures/decay.pdf", relative to the paper's folder
    std::int64_t row = 0;  // the source line of its first \includegraphics
};

// One environment open in the body.
struct OpenEnvironment {
    enum Kind { list, quote, theorem, abstract, figure, subfigure, table, tabular, layout, paper } kind = layout;
    std::string name;          // as written in \begin{...}
    char marker = '-';         // list: '-', '+', ':' (description), 'b' (bibliography)
    std::int64_t items = 0;    // list: items so far
    // A numbered list's own labels, as LaTeX templates ("(\roman*)"); empty
    // where the wiki's numbers show them.
    std::string label;
    std::string reference;           // how \ref prints an item
    std::int64_t first = 1;          // the number of the first item
    int level = 0;                   // numbered lists it stands in, itself included
    std::string item_reference;      // the current item's, as \ref prints it
    LabelTarget saved_target;  // restored when the environment closes
    std::vector<FigureImage> images;    // figure: its images
    std::vector<std::string> captions;  // figure, table: translated, numbered
    std::string end_code;               // paper: what its \end stands for
};

// A display formula whose closing marker has not been met yet.
struct OpenDisplay {
    bool open = false;
    std::string environment;  // "align*", "equation", ... or "" for \[ and $$
    std::string end_marker;   // "\end{align*}", "\]", "$$"
    std::string argument;     // alignat's column count
    std::vector<std::string> lines;
    std::vector<std::int64_t> rows;     // the source row of each line
    std::vector<std::int64_t> columns;  // the source column of each line's first byte
    std::size_t bytes = 0;
};

struct TabularState {
    int depth = 0;                   // open tabulars; only the outer one makes rows
    std::size_t columns = 0;         // cells every row has; 0 until known
    std::vector<std::string> cells;  // cells of the row being read
    std::string cell;                // the cell being read
    std::int64_t rows_done = 0;      // rows completed
    std::vector<std::string> held;   // rows held back until a rule tells if they are the header
    bool header_decided = false;     // the header is written, or there is none
    bool top_rule = false;           // a \toprule above the first row
};

// Where a byte of the logical line came from, for the rows and columns of
// the formulas in it.
struct RowStart {
    std::int64_t offset;  // first byte of the source line in the logical line
    std::int64_t row;
};

struct RichState {
    const PassSink* pass = &kWritingPass;  // where the walk's findings go
    RichOutline outline;

    // Declarations, from the preamble or the body.
    PaperVocabulary vocabulary;
    // The last numbered list closed at each level, for enumitem's "resume":
    // its last number and its labels.
    struct FinishedList {
        std::int64_t last = 0;
        std::string label, reference;
    };
    FinishedList finished_lists[4];
    bool enumerate_package = false;  // \usepackage{enumerate}: "[(i)]" refers by the counter alone
    std::string source_folder;  // where the paper's own style files are
    std::vector<std::string> graphics_folders;  // \graphicspath's folders, as written ("figures/")
    std::vector<FigureToConvert> figures_to_convert;  // in the order first met
    // Figure files looked for under the current \graphicspath: name ->
    // the file found ("" none) and whether one outside the folder was met.
    std::unordered_map<std::string, std::pair<std::string, bool>> figure_lookups;
    // The names in each folder of the paper's that figure files were looked
    // for in (by its path in the paper's folder), read once.
    std::unordered_map<std::string, std::unordered_set<std::string>> figure_folders;
    int figure_warnings = 0;  // figure files named on standard error so far
    bool cref_capitalised = false;  // cleveref loaded with "capitalise"
    // "\crefname{lemma}{lem.}{lems.}", "\Crefname{lemma}{Lem.}{Lems.}": the
    // paper's names for a kind of target, by cleveref's name of the kind.
    std::unordered_map<std::string, std::string> cref_names, cref_capital_names;
    int files_loading = 0;      // the paper's own files being read inside each other
    std::unordered_map<std::string, TheoremKind> theorems;
    std::string title, author, date;
    std::string preamble_pending;  // a declaration whose braces close on a later line

    std::string pending;             // logical line carried to the next source line
    LatexIndex pending_index;        // of the logical line, kept to reuse its memory
    std::vector<RowStart> pending_rows;
    int pending_lines = 0;

    std::string out;         // the wiki line being built
    std::size_t out_markup = 0;  // bytes of mark-up at its start (a list item's marker)
    bool after_empty_line = true;  // the page is empty or ends with an empty line
    std::int64_t lines_written = 0;  // lines handed to the pass so far
    bool out_continues = false;  // out is a list item, which later lines continue
    std::string code_end;    // "\end{verbatim}" while in a code block
    bool in_comment = false; // inside \begin{comment}
    OpenDisplay display;

    std::vector<OpenEnvironment> environments;
    // The open numbered lists, outermost first, as indexes into
    // `environments`: an item's number is made of the first four, and a
    // nest of lists a hundred thousand deep must not be searched for them.
    std::vector<std::size_t> numbered_lists;
    int list_depth = 0;
    int quote_depth = 0;
    bool quote_opening_due = false;  // ">" not written yet for the open quotation
    Counters counters;
    LabelTarget target;              // what a \label names here
    std::int64_t headings = 0;       // headings met so far
    std::int64_t theorems_met = 0;   // numbered theorem-like environments met so far
    std::string heading_title;       // the last heading's title, plain
    TabularState tabular;
};

}  // namespace kelvarin

#endif
