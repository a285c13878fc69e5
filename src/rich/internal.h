// The pieces of rich mode and how they call each other. The line driver
// (body.cpp) assembles logical lines and feeds them to the walker
// (walk.cpp), which translates text and hands block constructs to
// blocks.cpp, formulas to math.cpp and labels and references to
// outline.cpp.
#ifndef KELVARIN_RICH_INTERNAL_H
#define KELVARIN_RICH_INTERNAL_H

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "rich/latex_lexing.h"
#include "rich/state.h"

namespace kelvarin {

struct JobState;

// Whether `name` is one of `names`.
inline bool one_of(std::string_view name, std::initializer_list<std::string_view> names) {
    for (std::string_view candidate : names)
        if (candidate == name) return true;
    return false;
}

// What the walk is writing, which decides what a construct may do there.
enum class Context : std::uint8_t {
    // A logical line at its top: block constructs act (environments, items,
    // headings, display formulas, table cells), and text goes to the wiki
    // line being built, or to the current cell inside a table.
    line,
    // The text of an argument (a caption, a footnote, emphasis, a link's
    // text): constructs are reduced to what fits in a line.
    text,
    // Text the page shows bare, as a reference prints a heading's title: no
    // mark-up, no footnotes, no links, formulas as written.
    plain,
};

// Where a walk writes: its context, and outside the line context the text
// being built.
struct Place {
    Context context = Context::line;
    std::string* text = nullptr;
    bool top() const { return context == Context::line; }
};

// The place for text built into `text` inside a walk in `outer`: plain text
// stays plain, anything else becomes argument text.
inline Place inner_place(Context outer, std::string& text) {
    return {outer == Context::plain ? Context::plain : Context::text, &text};
}

// One walk over a logical line.
struct Walk {
    Walk(JobState& job_state, RichState& rich, LatexIndex& lexical)
        : job(job_state), r(rich), index(lexical) {}
    JobState& job;
    RichState& r;
    LatexIndex& index;  // of `text`
    std::string_view text;
    const std::vector<RowStart>* rows = nullptr;  // where each source line starts
    bool final = false;  // unclosed constructs are text, not carried to the next line
    bool declarations_only = false;  // a preamble line: only declarations act, expansions included
    int nesting = 0;     // groups being walked inside each other
    // The last search for the "\)" closing an inline formula: from where,
    // and what it found. A later search from between the two finds the same,
    // so a line of many unclosed "\(" is still scanned once.
    std::size_t inline_close_from = kNoPosition;
    std::size_t inline_close_at = kNoPosition;
};

// A required brace argument: its content and the position after it.
struct Argument {
    bool found = false;
    bool closed = false;
    std::size_t begin = 0, end = 0;  // content
    std::size_t next = 0;            // after the closing brace
    std::string_view text;
};

// --- walk.cpp ---------------------------------------------------------------
// Translates text[begin, end) into `place`. At the top of the line it
// returns where an unclosed construct starts when that is to be carried to
// the next line, else `end`.
std::size_t walk(Walk& w, std::size_t begin, std::size_t end, Place place);
// The translation of an argument met in a walk in context `outer`.
std::string translate_argument(Walk& w, const Argument& arg, Context outer);
// The translation of the optional argument "[...]" at `at` (blanks before
// it skipped when asked) into `text`, trimmed; returns the position after
// it, or `at` when there is none.
std::size_t translate_optional_argument(Walk& w, std::size_t at, bool skip_blanks_first,
                                        std::string& text, Context outer);
// Reads the brace argument at `at` (blanks before it skipped).
Argument read_argument(Walk& w, std::size_t at, std::size_t end);
// The translation of `source`, text held apart from the line being walked
// (the title block, the text between a display's rows), trimmed.
// `rows` says where its source lines start, as a logical line's do.
std::string translate_text(JobState& job, RichState& r, std::string_view source,
                           const std::vector<RowStart>* rows = nullptr, Context context = Context::text);
// Where text at the top of the line goes: the current table cell or line.
std::string& line_sink(RichState& r);
// Where text goes in `place`: the line's sink at the top, else its text.
std::string& sink_of(Walk& w, Place place);
// Acts on the declarations of a preamble line (theorem kinds, the title
// block, equation numbering) and on nothing else.
void read_declarations(Walk& w);
// A command at `at` (its backslash), acted on in `place`. Returns the
// position after it, or kNoPosition to carry the line on.
std::size_t command(Walk& w, std::size_t at, std::size_t end, Place place, bool may_carry);

// --- commands_paper.cpp ----------------------------------------------------
// The arguments of a call of the paper's macro or environment, from `at`:
// an optional first one (or its default), then brace groups or single
// tokens. Returns the position after them, or kNoPosition when one is
// missing or does not close within `end`.
std::size_t read_macro_arguments(Walk& w, std::size_t at, std::size_t end, int parameters,
                                 const std::optional<std::string>& optional, std::vector<std::string_view>& arguments);
// Walks `text`, an expansion of a call at `at`, in `place`.
void walk_expansion(Walk& w, std::size_t at, const std::string& text, Place place);

// --- blocks.cpp -------------------------------------------------------------
// Each returns the position after what it consumed.
std::size_t begin_environment(Walk& w, std::size_t at, std::size_t end, Place place);
std::size_t end_environment(Walk& w, std::size_t at, std::size_t end, bool top);
std::size_t start_item(Walk& w, std::size_t at, std::size_t end);
std::size_t heading(Walk& w, std::string_view command, std::size_t at, std::size_t end);
void write_title_block(Walk& w);
// The body has ended: every environment still open writes what it holds.
void close_all_environments(Walk& w);
void write_contents(Walk& w);
// --- table_rows.cpp ---------------------------------------------------------
// The rules of a table: above the first row, the middle one of booktabs, a
// full one (\hline), one under some columns, the bottom one.
enum class TableRule : std::uint8_t { top, middle, full, partial, bottom };
// A table opens with `column_format` ("l|rr", "*{3}{c}"), or has ended.
void start_table_rows(RichState& r, std::string_view column_format);
void finish_table_rows(Walk& w);
void table_rule(Walk& w, TableRule rule);
void end_table_cell(Walk& w);
void end_table_row(Walk& w);
// The innermost figure's images so far; an image added to it at `scale`;
// the caption of its last image.
std::size_t figure_images(RichState& r);
void add_image(Walk& w, std::string file, std::string scale);
void set_subcaption(Walk& w, std::string text);
// A caption's number comes before its text, as LaTeX steps the counter
// before it sets the text: a \label inside the caption names the figure.
// caption_lead steps the counter of the float the caption belongs to and
// returns "Figure 3: " ("" unnumbered or outside a float); set_caption
// puts the caption, lead included, where it belongs.
std::string caption_lead(RichState& r, bool numbered);
void set_caption(Walk& w, std::string text);
// The wiki line being built is complete: written, unless it is blank.
void flush_line(JobState& job, RichState& r);
void paragraph_break(JobState& job, RichState& r);
// The line is complete and a block (an image, a table) follows it.
void flush_before_block(JobState& job, RichState& r);
// A block has ended: an empty line ends it on the wiki, except inside a
// list, which the empty line would end too; there what follows goes on in
// the item.
void block_break(JobState& job, RichState& r);
void write_wiki_line(JobState& job, std::string_view line);
bool in_figure(const RichState& r);
// The writing pass's ends: a wiki line onto the page, a heading written.
void write_page_line(JobState& job, std::string_view line);
void write_heading(Walk& w, int level, bool numbered, const Argument& arg, const std::string& title);
// The learning pass's end for headings: the plain title and number learnt.
void learn_heading(Walk& w, int level, bool numbered, const Argument& arg, const std::string& title);

// --- item_labels.cpp ---------------------------------------------------------
// The label style of a numbered list `level` deep among numbered lists,
// from the options of its \begin and the paper's \labelenumi.
void read_list_style(const RichState& r, OpenEnvironment& list, std::string_view options, int level);
// A label template with the item's number `n` put in, as LaTeX source.
std::string item_label_source(const RichState& r, const std::string& label, std::int64_t n, int level);

// --- math.cpp ---------------------------------------------------------------
// An inline formula: registered, its reference appended to `out` (in plain
// text, the formula as written).
void inline_formula(Walk& w, Context context, std::string_view formula, std::size_t open, std::size_t close,
                    std::string& out);
// A display formula that opens at `at` with `marker`; returns the position
// after it, or `end` when it continues on later lines.
std::size_t display_formula(Walk& w, std::string_view environment, std::string_view argument,
                            std::size_t content, std::size_t end, Place place);
// A source line while a display formula is open; returns where the text
// after its closing marker starts, or kNoPosition when it goes on.
std::size_t display_line(JobState& job, RichState& r, std::string_view line);
// A display formula left open at the end of the body: its lines as text.
void abandon_display(JobState& job, RichState& r);
// Registers a formula in the equation registry; returns its number.
std::int64_t register_formula(JobState& job, FoundFormula formula);
// Source row and column of a byte of the logical line.
std::int64_t row_of(const Walk& w, std::size_t offset);
std::int64_t column_of(const Walk& w, std::size_t offset);

// --- outline.cpp ------------------------------------------------------------
// "\\label{key}": handed to the pass, which learns it in the first pass.
void define_label(RichState& r, std::string_view key);
void learn_label(RichState& r, std::string_view key);
// The text a reference command writes for its keys; a heading's title as a
// link to it when `linked`.
std::string reference_text(const RichState& r, std::string_view command, std::string_view keys, bool linked);
// Numbers: each call steps the counter and makes the new number the label target.
std::string step_equation(RichState& r);
std::string step_figure(RichState& r);
std::string step_table(RichState& r);
std::string step_theorem(RichState& r, const TheoremKind& kind, std::string_view environment);
std::string step_footnote(RichState& r);
void step_item(RichState& r, OpenEnvironment& list);
// Returns the number the heading shows: "" where it shows none (starred,
// or deeper than secnumdepth).
std::string step_heading(RichState& r, int level, bool numbered, std::string_view plain_title);
// The anchor id of the heading with ordinal `heading`, or "" without one.
std::string heading_anchor(const RichState& r, std::int64_t heading);
// The anchor of the theorem just stepped, where a label points at it.
std::string theorem_anchor(const RichState& r);
// The deepest level that shows its number unless the paper says otherwise:
// subsections in a book, subsubsections in an article.
int default_secnumdepth(const RichState& r);
// Declarations read from the preamble or the body.
void declare_theorem(RichState& r, std::string_view name, std::string_view shared,
                     std::string_view printed, std::string_view within, bool numbered);
const TheoremKind* theorem_kind(RichState& r, std::string_view environment);
// "\\numberwithin{counter}{unit}": the counter's numbers start with the unit's
// and start again with each new unit.
void number_within(RichState& r, std::string_view counter, std::string_view unit);

}  // namespace kelvarin

#endif
