// Formulas in rich mode. Every kind of LaTeX math becomes an image like a
// display formula of the default mode, numbered in the same sequence: the
// equation document gets the formula without its \label, \nonumber, \notag
// and \tag, wrapped (aligned, gathered, ...) where its environment would not
// typeset on a page of its own, and the wiki page its reference.
#include <algorithm>

#include "core/image_names.h"
#include "core/job_state.h"
#include "classic/math_capture.h"
#include "rich/environments.h"
#include "rich/internal.h"
#include "io/text_helpers.h"
#include "wiki/markup.h"

namespace kelvarin {

namespace {

// A display formula open over more lines than this is no formula: its
// lines go back to the page as text, so that memory stays bounded.
constexpr std::size_t kLongestDisplayLines = 4000;
constexpr std::size_t kLongestDisplayBytes = 1 << 20;

std::string_view base_name_of(std::string_view environment) {
    if (!environment.empty() && environment.back() == '*') environment.remove_suffix(1);
    return environment;
}

// The position after the brace group that starts at `open`, nesting
// counted; kNoPosition when it does not close.
std::size_t group_end(std::string_view text, std::size_t open) {
    int depth = 0;
    for (std::size_t p = open; p < text.size(); ++p) {
        if (text[p] == '\\') {
            ++p;
        } else if (text[p] == '{') {
            ++depth;
        } else if (text[p] == '}' && --depth == 0) {
            return p + 1;
        }
    }
    return kNoPosition;
}

// The same, text.size() when it does not close.
std::size_t after_group(std::string_view text, std::size_t open) {
    const std::size_t end = group_end(text, open);
    return end == kNoPosition ? text.size() : end;
}

// The text with each run of blanks and line ends made one blank.
std::string on_one_line(std::string_view text) {
    std::string one;
    for (const char c : text) {
        const bool blank = c == ' ' || c == '\t' || c == '\n' || c == '\r';
        if (!blank) one.push_back(c);
        else if (one.empty() || one.back() != ' ') one.push_back(' ');
    }
    return std::string(trim_blanks_and_tabs(one));
}

// What the formula's rows say about their numbers.
struct FormulaRow {
    bool blank = true;
    bool suppressed = false;  // \nonumber or \notag
    bool tagged = false;
    std::string tag;
    std::vector<std::string> labels;
};

std::vector<FormulaRow> read_rows(std::string_view content, bool split_rows) {
    std::vector<FormulaRow> rows(1);
    int environments = 0;
    int braces = 0;
    std::size_t p = 0;
    while (p < content.size()) {
        const char c = content[p];
        if (c == '{') ++braces;
        if (c == '}') --braces;
        if (c != '\\') {
            if (c != ' ' && c != '\t' && c != '\n' && c != '{' && c != '}') rows.back().blank = false;
            ++p;
            continue;
        }
        const std::size_t length = command_name_length(content, p);
        const std::string_view name = content.substr(p + 1, length);
        std::size_t next = p + 1 + length;
        if (name == "\\" && split_rows && environments == 0 && braces == 0) {
            rows.emplace_back();
        } else if (name == "label" || name == "tag") {
            if (next < content.size() && content[next] == '*') ++next;
            if (next < content.size() && content[next] == '{') {
                const std::size_t close = after_group(content, next);
                // A value written over lines reads as one line with blanks.
                const std::string value = on_one_line(content.substr(next + 1, close - next - 2));
                if (name == "label") {
                    rows.back().labels.push_back(value);
                } else {
                    rows.back().tagged = true;
                    // "\tag{$*$}" reads "(*)" in the text.
                    std::string& tag = rows.back().tag;
                    tag = value;
                    tag.erase(std::remove(tag.begin(), tag.end(), '$'), tag.end());
                }
                next = close;
            }
        } else if (name == "nonumber" || name == "notag") {
            rows.back().suppressed = true;
        } else {
            if (name == "begin") ++environments;
            if (name == "end") --environments;
            rows.back().blank = false;
        }
        p = next;
    }
    return rows;
}

// The formula's lines without \label{...}, \nonumber, \notag and \tag{...}.
// The lines are read as one text, so that a value written over lines goes
// whole; the line ends inside it stay, so that every line keeps its row.
std::vector<std::string> without_numbering(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) {
        text.append(line);
        text.push_back('\n');
    }
    std::string kept;
    std::size_t p = 0;
    while (p < text.size()) {
        if (text[p] != '\\') {
            kept.push_back(text[p++]);
            continue;
        }
        const std::size_t length = command_name_length(text, p);
        const std::string_view name = std::string_view(text).substr(p + 1, length);
        std::size_t next = p + 1 + length;
        if (name == "label" || name == "tag") {
            if (next < text.size() && text[next] == '*') ++next;
            if (next < text.size() && text[next] == '{') {
                const std::size_t close = after_group(text, next);
                kept.append(static_cast<std::size_t>(std::count(text.begin() + static_cast<std::ptrdiff_t>(p),
                                                                 text.begin() + static_cast<std::ptrdiff_t>(close), '\n')),
                            '\n');
                p = close;
                continue;
            }
        } else if (name == "nonumber" || name == "notag") {
            p = next;
            continue;
        }
        kept.append(text, p, next - p);
        p = next;
    }
    std::vector<std::string> result;
    std::size_t start = 0;
    for (std::size_t end = kept.find('\n'); end != std::string::npos; end = kept.find('\n', start)) {
        result.emplace_back(kept, start, end - start);
        start = end + 1;
    }
    return result;
}

void wrap_lines(std::string_view base, std::string_view argument, std::vector<std::string>& lines) {
    std::string open, close;
    if (base == "align" || base == "flalign") {
        open = "\\begin{aligned}";
        close = "\\end{aligned}";
    } else if (base == "alignat") {
        open = "\\begin{alignedat}{" + std::string(argument) + "}";
        close = "\\end{alignedat}";
    } else if (base == "gather" || base == "multline") {
        open = "\\begin{gathered}";
        close = "\\end{gathered}";
    } else if (base == "eqnarray") {
        open = "\\begin{array}{rcl}";
        close = "\\end{array}";
    } else {
        return;
    }
    lines.insert(lines.begin(), open);
    lines.push_back(close);
}

}  // namespace

std::int64_t register_formula(JobState& job, FoundFormula found) {
    EquationRecord rec;
    rec.is_inline = found.is_inline;
    rec.first_row = found.first_row;
    rec.last_row = found.last_row;
    rec.first_column = found.first_column;
    rec.last_column = found.last_column;
    rec.bare = found.bare;
    rec.postscript = found.postscript;
    if (found.is_inline) {
        // Its one line is its text: a formula met before is only looked up,
        // and a new one is copied once, into the registry.
        EquationLookup where;
        const std::int64_t number = find_equation(job.registry, found.text, where);
        if (number != 0) return number;
        rec.line_count = 1;
        return add_equation(job.registry, where, found.text, rec);
    }
    // The formula's text as the registry compares it: a display's lines
    // joined with "\n", as the default translator joins them.
    std::string text;
    for (const std::string& line : found.lines) {
        text.append(line);
        text.append("\\n");
    }
    rec.index = registry_size(job.registry);
    rec.line_count = static_cast<std::int64_t>(found.lines.size());
    rec.lines = std::move(found.lines);
    return register_equation(job.registry, text, rec);
}

namespace {

// Appends the reference to formula `number`'s image; a drawing made of
// PostScript has an image type of its own (core/image_names.h).
void reference_to(std::string& out, bool is_inline, JobState& job, std::int64_t number) {
    const std::string_view type = image_type_of(job.registry, number, job.settings.type);
    if (type == job.settings.type) {
        append_equation_reference(out, job, is_inline, number);
        return;
    }
    char key[24];
    EquationSettings settings = job.settings;
    settings.type = std::string(type);
    equation_reference(out, is_inline, image_key(job.registry, number, key), job.equation_prefix, settings);
}

// A complete display formula: its numbers and labels, its page, its
// reference (inline into `out` where a line cannot take a block).
void finish_formula(JobState& job, RichState& r, const OpenDisplay& d, std::string* out) {
    const std::string_view base = base_name_of(d.environment);
    const EnvironmentEntry& entry = environment_entry(d.environment);
    const bool numbered = entry.numbered;
    std::string content;
    for (const std::string& line : d.lines) {
        content.append(line);
        content.push_back('\n');
    }
    std::vector<FormulaRow> rows = read_rows(content, entry.numbers_rows);
    if (!entry.numbers_rows) {
        // One number for the whole formula.
        for (std::size_t i = 1; i < rows.size(); ++i) {
            rows[0].labels.insert(rows[0].labels.end(), rows[i].labels.begin(), rows[i].labels.end());
            rows[0].suppressed |= rows[i].suppressed;
        }
        rows.resize(1);
        rows[0].blank = false;
    }
    const LabelTarget saved = r.target;
    std::vector<std::string> shown;  // numbers of the labelled rows
    for (const FormulaRow& row : rows) {
        if (row.blank && row.labels.empty() && !row.tagged) continue;
        std::string number;
        if (row.tagged) {
            number = row.tag;
            r.target = LabelTarget{LabelTarget::equation, number, "", -1, ""};
        } else if (numbered && !row.suppressed) {
            number = step_equation(r);
        }
        for (const std::string& key : row.labels) define_label(r, key);
        if (!row.labels.empty() && !number.empty()) shown.push_back(number);
    }
    r.target = saved;

    std::vector<std::string> lines;
    std::int64_t first_row = 0, last_row = 0;
    const std::vector<std::string> unnumbered = without_numbering(d.lines);
    for (std::size_t i = 0; i < d.lines.size(); ++i) {
        const std::string line(trim_blanks_and_tabs(unnumbered[i]));
        if (line.empty()) continue;
        if (lines.empty()) first_row = d.rows[i];
        last_row = d.rows[i];
        lines.push_back(line);
    }
    if (lines.empty()) return;
    if (entry.drawing) {
        // The environment as written: latex draws it on a page of its own.
        // Its options or size ("[scale=2]", "(20,10)") stay on the line of
        // its \\begin, where they are read.
        const std::string begin = "\\begin{" + d.environment + "}";
        if (lines.front()[0] == '[' || lines.front()[0] == '(')
            lines.front().insert(0, begin);
        else
            lines.insert(lines.begin(), begin);
        lines.push_back("\\end{" + d.environment + "}");
    } else {
        wrap_lines(base, d.argument, lines);
    }
    FoundFormula found{false, {}, std::move(lines), first_row, last_row, -1, -1};
    found.bare = entry.drawing;
    found.postscript = entry.postscript;
    const std::int64_t number = r.pass->formula(job, std::move(found));
    std::string reference;
    if (out != nullptr || r.tabular.depth > 0) {
        reference_to(out != nullptr ? *out : line_sink(r), true, job, number);
        return;
    }
    flush_before_block(job, r);
    reference_to(reference, false, job, number);
    std::string numbers;
    for (std::size_t i = 0; i < shown.size(); ++i) numbers.append((i == 0 ? "(" : ", (") + shown[i] + ")");
    // The numbers stand under the image; inside a list item above it, as
    // the item's text after them would go on in their right-aligned line.
    const bool numbers_above = !numbers.empty() && r.list_depth > 0;
    if (numbers_above) write_wiki_line(job, wiki::right_aligned(numbers));
    write_wiki_line(job, reference);
    if (!numbers.empty() && !numbers_above) write_wiki_line(job, wiki::right_aligned(numbers));
    block_break(job, r);
}

// "\intertext{text}" (or \shortintertext) between the rows of an
// alignment: where it stands and where its text is.
struct Intertext {
    std::size_t at = kNoPosition;     // its backslash
    std::size_t text_begin = 0, text_end = 0;
    std::size_t next = 0;             // after its closing brace
};

// The first \intertext at or after `from` at the top of `content`, outside
// groups and inner environments (whose own \intertext typesets there); one
// whose text does not close is no cut.
Intertext find_intertext(std::string_view content, std::size_t from) {
    int environments = 0;
    int braces = 0;
    for (std::size_t p = from; p < content.size(); ++p) {
        const char c = content[p];
        if (c == '{') ++braces;
        if (c == '}') --braces;
        if (c != '\\') continue;
        const std::size_t length = command_name_length(content, p);
        const std::string_view name = content.substr(p + 1, length);
        if (name == "begin") ++environments;
        if (name == "end") --environments;
        std::size_t open = p + 1 + length;
        while (open < content.size() && (content[open] == ' ' || content[open] == '\n')) ++open;
        const bool intertext = name == "intertext" || name == "shortintertext";
        if (intertext && braces == 0 && environments == 0 && open < content.size() && content[open] == '{') {
            const std::size_t close = group_end(content, open);
            // A text that does not close leaves the rest of the display in
            // its group: nothing after it is at the top.
            if (close == kNoPosition) return {};
            return {p, open + 1, close - 1, close};
        }
        p += std::max<std::size_t>(length, 1);
    }
    return {};
}

// The display's lines between bytes `from` and `to` of their text joined
// (each line followed by "\n", line i starting at starts[i]), each piece
// with the row of the line it comes from.
OpenDisplay display_piece(const OpenDisplay& d, const std::vector<std::size_t>& starts, std::string_view content,
                          std::size_t from, std::size_t to) {
    OpenDisplay piece;
    piece.environment = d.environment;
    piece.argument = d.argument;
    std::size_t i = static_cast<std::size_t>(std::upper_bound(starts.begin(), starts.end(), from) - starts.begin()) - 1;
    std::size_t p = from;
    while (p < to && i < d.lines.size()) {
        const std::size_t line_end = std::min(starts[i] + d.lines[i].size(), to);
        if (line_end > p) {
            piece.lines.emplace_back(content.substr(p, line_end - p));
            piece.rows.push_back(d.rows[i]);
            piece.columns.push_back(d.columns[i] + static_cast<std::int64_t>(p - starts[i]));
        }
        ++i;
        p = i < starts.size() ? starts[i] : to;
    }
    return piece;
}

// The rows before an \intertext end with the "\\" that leads to it; in the
// image of those rows alone it would only add an empty row.
void drop_final_row_break(OpenDisplay& piece) {
    while (!piece.lines.empty() && trim_blanks_and_tabs(piece.lines.back()).empty()) {
        piece.lines.pop_back();
        piece.rows.pop_back();
        piece.columns.pop_back();
    }
    if (piece.lines.empty()) return;
    std::string_view last = trim_blanks_and_tabs(piece.lines.back());
    const bool row_break = last.size() >= 2 && last.substr(last.size() - 2) == "\\\\" &&
                           (last.size() == 2 || last[last.size() - 3] != '\\');
    if (row_break) last.remove_suffix(2);
    piece.lines.back() = std::string(last);
}

bool is_blank_piece(const OpenDisplay& piece) {
    return std::all_of(piece.lines.begin(), piece.lines.end(),
                       [](const std::string& line) { return trim_blanks_and_tabs(line).empty(); });
}

// The text of an \intertext: a paragraph of its own between the two images,
// or, where the formula stands inside a line, text between the references.
void write_intertext(JobState& job, RichState& r, std::string_view source, const std::vector<RowStart>& rows,
                     std::string* out) {
    // The text was read over lines; the walk reads it as one.
    std::string joined(source);
    std::replace(joined.begin(), joined.end(), '\n', ' ');
    const std::string text = translate_text(job, r, joined, &rows);
    if (text.empty()) return;
    if (out != nullptr || r.tabular.depth > 0) {
        std::string& sink = out != nullptr ? *out : line_sink(r);
        sink.append(" " + text + " ");
        return;
    }
    flush_line(job, r);
    r.out = text;
    flush_line(job, r);
    block_break(job, r);
}

// A complete display formula. \intertext splits it: the rows before it one
// formula, its text a paragraph, the rows after it another formula, numbered
// on from the first.
void finish_display(JobState& job, RichState& r, const OpenDisplay& d, std::string* out) {
    std::string content;
    std::vector<std::size_t> starts;
    for (const std::string& line : d.lines) {
        starts.push_back(content.size());
        content.append(line);
        content.push_back('\n');
    }
    Intertext cut = find_intertext(content, 0);
    if (cut.at == kNoPosition) {
        finish_formula(job, r, d, out);
        return;
    }
    std::size_t from = 0;
    for (; cut.at != kNoPosition; cut = find_intertext(content, from)) {
        OpenDisplay before = display_piece(d, starts, content, from, cut.at);
        drop_final_row_break(before);
        if (!is_blank_piece(before)) finish_formula(job, r, before, out);
        // Where each source line starts, counted from the text's first byte,
        // for the rows and columns of formulas inside it.
        std::vector<RowStart> rows;
        const auto first = std::upper_bound(starts.begin(), starts.end(), cut.text_begin) - 1;
        for (std::size_t i = static_cast<std::size_t>(first - starts.begin());
             i < starts.size() && starts[i] < cut.text_end; ++i)
            rows.push_back({static_cast<std::int64_t>(starts[i]) - static_cast<std::int64_t>(cut.text_begin) -
                                d.columns[i],
                            d.rows[i]});
        write_intertext(job, r, std::string_view(content).substr(cut.text_begin, cut.text_end - cut.text_begin),
                        rows, out);
        from = cut.next;
    }
    const OpenDisplay after = display_piece(d, starts, content, from, content.size());
    if (!is_blank_piece(after)) finish_formula(job, r, after, out);
}

std::string end_marker_of(std::string_view environment) {
    if (environment.empty()) return "\\]";
    if (environment == "$$") return "$$";
    return "\\end{" + std::string(environment) + "}";
}

}  // namespace

std::int64_t row_of(const Walk& w, std::size_t offset) {
    if (w.rows == nullptr || w.rows->empty()) return w.job.line_number;
    const auto after = std::upper_bound(w.rows->begin(), w.rows->end(), static_cast<std::int64_t>(offset),
                                        [](std::int64_t o, const RowStart& s) { return o < s.offset; });
    return after == w.rows->begin() ? w.rows->front().row : std::prev(after)->row;
}

std::int64_t column_of(const Walk& w, std::size_t offset) {
    if (w.rows == nullptr || w.rows->empty()) return static_cast<std::int64_t>(offset);
    const auto after = std::upper_bound(w.rows->begin(), w.rows->end(), static_cast<std::int64_t>(offset),
                                        [](std::int64_t o, const RowStart& s) { return o < s.offset; });
    const std::int64_t start = after == w.rows->begin() ? 0 : std::prev(after)->offset;
    return static_cast<std::int64_t>(offset) - start;
}

void inline_formula(Walk& w, Context context, std::string_view formula, std::size_t open, std::size_t close,
                    std::string& out) {
    if (context == Context::plain) {
        out.append(formula);
        return;
    }
    // The learning pass neither numbers inline formulas nor keeps text.
    if (!w.r.pass->keeps_text) return;
    const std::int64_t first_column = column_of(w, open);
    const std::int64_t row = row_of(w, open);
    const std::int64_t number = w.r.pass->formula(
        w.job, {true, formula, {}, row, row, first_column, first_column + static_cast<std::int64_t>(close - open)});
    reference_to(out, true, w.job, number);
}

std::size_t display_formula(Walk& w, std::string_view environment, std::string_view argument,
                            std::size_t content, std::size_t end, Place place) {
    const std::string marker = end_marker_of(environment == "$$" ? "$$" : environment);
    const std::size_t close = w.text.substr(0, end).find(marker, content);
    OpenDisplay d;
    d.environment = std::string(environment == "$$" ? "" : environment);
    d.argument = std::string(argument);
    if (close != std::string_view::npos && place.context == Context::plain) {
        // Plain text shows a formula as written.
        sink_of(w, place).append(trim_blanks_and_tabs(w.text.substr(content, close - content)));
        return close + marker.size();
    }
    if (close != std::string_view::npos) {
        d.lines.emplace_back(w.text.substr(content, close - content));
        d.rows.push_back(row_of(w, content));
        d.columns.push_back(column_of(w, content));
        if (environment_entry(environment).inline_math) {
            inline_formula(w, place.context, trim_blanks_and_tabs(d.lines.front()), content, close,
                           sink_of(w, place));
        } else {
            finish_display(w.job, w.r, d, place.top() ? nullptr : place.text);
        }
        return close + marker.size();
    }
    if (!place.top() || w.nesting > 0) {
        // Inside a group the formula cannot go on to later lines.
        sink_of(w, place).append(environment.empty() ? "\\[" : environment == "$$" ? "$$" : "");
        return content;
    }
    d.open = true;
    d.end_marker = marker;
    const std::string_view rest = trim_blanks_and_tabs(w.text.substr(content, end - content));
    if (!rest.empty()) {
        d.lines.emplace_back(rest);
        const std::size_t first = static_cast<std::size_t>(rest.data() - w.text.data());
        d.rows.push_back(row_of(w, first));
        d.columns.push_back(column_of(w, first));
        d.bytes = rest.size();
    }
    w.r.display = std::move(d);
    return end;
}

std::size_t display_line(JobState& job, RichState& r, std::string_view line) {
    OpenDisplay& d = r.display;
    const std::size_t close = line.find(d.end_marker);
    const std::string_view formula = trim_blanks_and_tabs(close == std::string_view::npos ? line : line.substr(0, close));
    if (!formula.empty()) {
        d.lines.emplace_back(formula);
        d.rows.push_back(job.line_number);
        d.columns.push_back(static_cast<std::int64_t>(formula.data() - line.data()));
        d.bytes += formula.size();
    }
    if (close == std::string_view::npos) {
        if (d.lines.size() > kLongestDisplayLines || d.bytes > kLongestDisplayBytes) abandon_display(job, r);
        return kNoPosition;
    }
    const std::size_t after = close + d.end_marker.size();
    d.open = false;
    if (environment_entry(d.environment).inline_math) {
        // \begin{math} over several lines: one inline formula, joined.
        std::string joined;
        for (const std::string& part : d.lines) joined.append(joined.empty() ? "" : " ").append(part);
        LatexIndex unused;
        Walk w(job, r, unused);
        w.text = joined;
        inline_formula(w, Context::line, joined, 0, joined.size(), r.out);
    } else {
        finish_display(job, r, d, nullptr);
    }
    r.display = OpenDisplay{};
    return after;
}

void abandon_display(JobState& job, RichState& r) {
    OpenDisplay d = std::move(r.display);
    r.display = OpenDisplay{};
    flush_line(job, r);
    for (const std::string& line : d.lines) write_wiki_line(job, line);
}

}  // namespace kelvarin
