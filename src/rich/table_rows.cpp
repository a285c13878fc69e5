// The rows of a table in rich mode. The wiki makes a table of rows with the
// same number of cells, so every row gets as many as the table's column
// format makes (the empty ones filled, the cells a \multicolumn joins
// counted); the header is the row a rule sets off under it, or, under a
// booktabs \toprule, the rows up to the first \midrule. Rows that may still
// turn out to be the header are held back until a rule or another row
// tells.
#include <cctype>
#include <cstdlib>

#include "core/job_state.h"
#include "io/text_helpers.h"
#include "rich/internal.h"
#include "wiki/markup.h"

namespace kelvarin {

namespace {

// Past this many columns a row is not filled further: a format of a million
// columns must not make every row a megabyte.
constexpr std::size_t kWidestRow = 64;
// Column formats inside "*{n}{...}" inside each other, at most.
constexpr int kDeepestRepeat = 8;
// Rows under a \toprule that a \midrule may still make the header.
constexpr std::size_t kMostHeaderRows = 3;

// The position after the brace group at `at` (blanks before it skipped), or
// kNoPosition when there is none or it does not close.
std::size_t after_group_at(std::string_view text, std::size_t at) {
    while (at < text.size() && (text[at] == ' ' || text[at] == '\n' || text[at] == '\t')) ++at;
    if (at >= text.size() || text[at] != '{') return kNoPosition;
    int depth = 0;
    for (std::size_t p = at; p < text.size(); ++p) {
        if (text[p] == '\\') ++p;
        else if (text[p] == '{') ++depth;
        else if (text[p] == '}' && --depth == 0) return p + 1;
    }
    return kNoPosition;
}

// The cells per row of a column format: each letter ("l", "p{3cm}",
// "S[table-format=1.2]", a paper's own column type) is one; "*{3}{c}"
// repeats; "|", "@{...}", "!{...}", ">{...}", "<{...}" and commands are
// none. 0 when the format cannot be read.
std::size_t count_columns(std::string_view format, int depth) {
    if (depth > kDeepestRepeat) return 0;
    std::size_t count = 0;
    std::size_t p = 0;
    while (p < format.size() && count < kWidestRow) {
        const char c = format[p];
        if (c == ' ' || c == '\t' || c == '\n' || c == '|' || c == ':') {
            ++p;
        } else if (c == '@' || c == '!' || c == '>' || c == '<') {
            p = after_group_at(format, p + 1);
            if (p == kNoPosition) return 0;
        } else if (c == '*') {
            const std::size_t times_end = after_group_at(format, p + 1);
            const std::size_t inner_end = times_end == kNoPosition ? kNoPosition : after_group_at(format, times_end);
            if (inner_end == kNoPosition) return 0;
            const std::size_t times_open = format.find('{', p + 1);
            const std::string times(format.substr(times_open + 1, times_end - times_open - 2));
            const long n = std::strtol(times.c_str(), nullptr, 10);
            const std::size_t open = format.find('{', times_end);
            const std::size_t inner = count_columns(format.substr(open + 1, inner_end - open - 2), depth + 1);
            if (n > 0) count += inner * std::min<std::size_t>(static_cast<std::size_t>(n), kWidestRow);
            p = inner_end;
        } else if (c == '\\') {
            p = p + 1 + std::max<std::size_t>(command_name_length(format, p), 1);
        } else if (std::isalpha(static_cast<unsigned char>(c))) {
            ++count;
            ++p;
            if (p < format.size() && format[p] == '[') {
                const std::size_t close = format.find(']', p);
                if (close == std::string_view::npos) return 0;
                p = close + 1;
            }
            for (std::size_t next = after_group_at(format, p); next != kNoPosition; next = after_group_at(format, p))
                p = next;
        } else {
            return 0;
        }
    }
    return std::min(count, kWidestRow);
}

// The held rows are written, as the header or as plain rows; from here on
// rows are written as they come.
void release_held_rows(JobState& job, TabularState& t, bool header) {
    for (const std::string& row : t.held) write_wiki_line(job, header ? wiki::header_row(row) : row);
    t.held.clear();
    t.header_decided = true;
}

void write_table_row(JobState& job, TabularState& t, std::string row) {
    ++t.rows_done;
    if (t.header_decided) {
        write_wiki_line(job, row);
        return;
    }
    t.held.push_back(std::move(row));
    // Without a \toprule only the first row can be the header.
    if (t.held.size() > (t.top_rule ? kMostHeaderRows : 1)) release_held_rows(job, t, false);
}

}  // namespace

void start_table_rows(RichState& r, std::string_view column_format) {
    r.tabular = TabularState{};
    r.tabular.depth = 1;
    r.tabular.columns = count_columns(column_format, 0);
}

void finish_table_rows(Walk& w) {
    end_table_row(w);
    release_held_rows(w.job, w.r.tabular, false);
}

void end_table_cell(Walk& w) {
    TabularState& t = w.r.tabular;
    t.cells.emplace_back(trim_blanks_and_tabs(t.cell));
    t.cell.clear();
}

void end_table_row(Walk& w) {
    TabularState& t = w.r.tabular;
    if (t.cells.empty() && trim_blanks_and_tabs(t.cell).empty()) {
        t.cell.clear();
        return;
    }
    end_table_cell(w);
    // A format that could not be read: the first row tells the width.
    if (t.columns == 0) t.columns = std::min(t.cells.size(), kWidestRow);
    if (t.cells.size() < t.columns) t.cells.resize(t.columns);
    std::string row = wiki::table_row(t.cells);
    t.cells.clear();
    write_table_row(w.job, t, std::move(row));
}

void table_rule(Walk& w, TableRule rule) {
    TabularState& t = w.r.tabular;
    // Only a rule between rows says something of the rows above it.
    const bool between_rows = t.cells.empty() && trim_blanks_and_tabs(t.cell).empty();
    if (t.header_decided || !between_rows) return;
    if (t.held.empty()) {
        if (rule == TableRule::top) t.top_rule = true;
        return;
    }
    if (rule == TableRule::partial) return;  // \cline, \cmidrule: a header may go on under it
    const bool header = rule == TableRule::middle || (rule == TableRule::full && t.held.size() == 1);
    release_held_rows(w.job, t, header);
}

}  // namespace kelvarin
