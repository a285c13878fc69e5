#include "classic/math_capture.h"

#include <array>

#include "classic/body_translator.h"
#include "core/image_names.h"
#include "core/job_state.h"
#include "io/text_helpers.h"
#include "wiki/markup.h"

namespace kelvarin {

namespace {

constexpr std::array<std::string_view, 3> kOpeningMarkers = {
    "\\[", "\\begin{equation}", "\\begin{equation*}"};
constexpr std::array<std::string_view, 3> kClosingMarkers = {
    "\\]", "\\end{equation}", "\\end{equation*}"};
constexpr std::size_t kNone = std::string_view::npos;

// Length of the marker of `markers` that `text` starts with; 0 for none.
std::size_t marker_at_start(std::string_view text,
                            const std::array<std::string_view, 3>& markers) {
    // Every marker starts with a backslash; most lines do not.
    if (text.empty() || text.front() != '\\') return 0;
    for (std::string_view marker : markers)
        if (begins_with(text, marker)) return marker.size();
    return 0;
}

// Finds the earliest closing marker at or after a position that only moves
// forward along one text. Each marker's next occurrence is remembered and
// looked for again only once the position has passed it, so a line holding
// many one-line displays is scanned once per marker, not once per display.
struct ClosingMarkerSearch {
    std::string_view text;
    std::array<std::size_t, 3> next{};  // kNone: no occurrence left
    bool started = false;
};

struct MarkerPosition {
    std::size_t at = kNone;
    std::size_t length = 0;
};

MarkerPosition find_closing_marker(ClosingMarkerSearch& search, std::size_t from) {
    MarkerPosition earliest;
    for (std::size_t i = 0; i < kClosingMarkers.size(); ++i) {
        std::size_t& next = search.next[i];
        if (!search.started || (next != kNone && next < from))
            next = search.text.find(kClosingMarkers[i], from);
        if (next < earliest.at) earliest = {next, kClosingMarkers[i].size()};
    }
    search.started = true;
    return earliest;
}

// The reference parts for the settings and prefix as they stand now.
const ReferenceParts& current_reference_parts(JobState& job) {
    ReferenceParts& parts = job.reference_parts;
    if (parts.made) return parts;
    parts.made = true;
    const EquationSettings& now = job.settings;
    // Any line with a "%" may have held a directive, but few did, and fewer
    // changed anything: the parts are made again only when what they are
    // made of differs.
    if (!parts.prefix.empty() && parts.prefix == job.equation_prefix && parts.type == now.type &&
        parts.scale == now.scale && parts.parameter == now.parameter && parts.title == now.title)
        return parts;
    parts.prefix = job.equation_prefix;
    parts.type = now.type;
    parts.scale = now.scale;
    parts.parameter = now.parameter;
    parts.title = now.title;
    // The parts are cut from whole references, so that they cannot differ
    // from what equation_reference writes.
    const auto split = [&](bool is_inline, std::string& head, std::string& tail) {
        std::string whole;
        equation_reference(whole, is_inline, "0", job.equation_prefix, now);
        const std::size_t head_size =
            (is_inline ? std::string_view("&ref(") : std::string_view("#ref(")).size() +
            job.equation_prefix.size();
        head.assign(whole, 0, head_size);
        tail.assign(whole, head_size + 1, std::string::npos);  // behind the "0"
    };
    split(true, parts.inline_head, parts.inline_tail);
    split(false, parts.block_head, parts.block_tail);
    return parts;
}

void append_reference(std::string& out, const ReferenceParts& parts,
                      bool is_inline, std::string_view key) {
    out.append(is_inline ? parts.inline_head : parts.block_head);
    out.append(key);
    out.append(is_inline ? parts.inline_tail : parts.block_tail);
}

// One line of an open display formula. The key gets the line and the two
// bytes backslash and "n", never a newline byte.
void capture_display_line(JobState& job, std::string_view line) {
    job.formula_text.append(line);
    job.formula_text.append("\\n");
    job.pending_record.lines.emplace_back(line);
    job.pending_record.line_count += 1;
}

// Opens a display formula. One still open is abandoned: its text is dropped
// and never registered. `first_line` is formula text that stands behind the
// marker on the opening line itself; it is captured as the formula's first
// line, which then starts on this row.
void start_display(JobState& job, std::string_view first_line) {
    job.formula_text.clear();
    job.body.in_display_math = true;
    EquationRecord& rec = job.pending_record;
    rec.index = registry_size(job.registry);
    rec.is_inline = false;
    rec.lines.clear();
    rec.first_row = rec.last_row = job.line_number + 1;
    rec.line_count = 0;
    rec.first_column = rec.last_column = -1;
    if (!first_line.empty()) {
        rec.first_row = job.line_number;
        capture_display_line(job, first_line);
    }
}

// Registers the captured display formula and writes its block reference.
void write_display(JobState& job) {
    const std::int64_t number =
        register_equation(job.registry, job.formula_text, job.pending_record);
    job.reference.clear();
    char key[24];
    append_reference(job.reference, current_reference_parts(job), false,
                     image_key(job.registry, number, key));
    write_line(job.wiki, job.reference);
    write_empty_line(job.wiki);
}

// Closes a display formula and writes its block reference. `last_line` is
// formula text that stands before the closing marker on its own line; it is
// the formula's last line, which then ends on this row. A closing marker with
// no formula open does nothing at all: whatever formula_text still holds is
// stale, and registering it would put a number on the page that no page of
// the equation document matches.
void end_display(JobState& job, std::string_view last_line) {
    const bool was_open = job.body.in_display_math;
    job.body.in_display_math = false;
    if (!was_open) return;
    job.pending_record.last_row = job.line_number - 1;
    if (!last_line.empty()) {
        capture_display_line(job, last_line);
        job.pending_record.last_row = job.line_number;
    }
    if (!job.formula_text.empty()) write_display(job);
}

// A display written whole on one line, markers included. An empty one
// registers nothing; either way a formula still open is abandoned.
void one_line_display(JobState& job, std::string_view text) {
    start_display(job, {});
    job.body.in_display_math = false;
    if (text.empty()) return;
    capture_display_line(job, text);
    job.pending_record.first_row = job.pending_record.last_row = job.line_number;
    write_display(job);
}

void rewrite_inline(JobState& job, std::string_view line, std::size_t first_dollar);

// What stands behind a display marker, from `from` on in `text`, is a line of
// its own: its leading blanks go, one-line displays and stray closing markers
// at its start are taken in turn, and the text that is left gets the escape
// replacements and then goes where any body line that reaches the formulas
// goes (inline formulas, the bibliography drop, or the page). A loop, not a
// recursion, so that a line of a hundred thousand displays costs no stack.
//
// Markers are recognised on the text as written, before the escape
// replacements, as they are for the formula text behind them.
void handle_own_line(JobState& job, std::string_view text, std::size_t from,
                     ClosingMarkerSearch& closing) {
    for (;;) {
        from += leading_blank_count(text.substr(from));
        if (from == text.size()) return;
        const std::string_view rest = text.substr(from);
        if (const std::size_t n = marker_at_start(rest, kOpeningMarkers)) {
            const std::size_t inside = from + n;
            const MarkerPosition close = find_closing_marker(closing, inside);
            if (close.at == kNone) {
                start_display(job, trim_blanks_and_tabs(text.substr(inside)));
                return;
            }
            one_line_display(job, trim_blanks_and_tabs(
                                      text.substr(inside, close.at - inside)));
            from = close.at + close.length;
            continue;
        }
        // No formula is open here: a closing marker registers nothing.
        if (const std::size_t n = marker_at_start(rest, kClosingMarkers)) {
            from += n;
            continue;
        }
        job.own_line.assign(rest);
        replace_escapes(job.own_line);
        if (const std::size_t dollar = job.own_line.find('$'); dollar != kNone)
            rewrite_inline(job, job.own_line, dollar);
        else if (!contains(job.own_line, "\\bib"))
            write_line(job.wiki, job.own_line);
        return;
    }
}

// The text behind the marker that `line` starts with, as written: taken from
// the line before the escape replacements when that starts with the same
// marker, which it does unless an escape replacement made the marker.
std::string_view behind_marker(std::string_view line, std::string_view as_written,
                               std::size_t marker_length) {
    if (begins_with(as_written, line.substr(0, marker_length)))
        return as_written.substr(marker_length);
    return line.substr(marker_length);
}

// A line that starts with an opening marker: the whole display when its
// closing marker follows on the line, otherwise the start of one.
void handle_opening_line(JobState& job, std::string_view behind) {
    ClosingMarkerSearch closing{behind};
    const MarkerPosition close = find_closing_marker(closing, 0);
    if (close.at == kNone) {
        start_display(job, trim_blanks_and_tabs(behind));
        return;
    }
    one_line_display(job, trim_blanks_and_tabs(behind.substr(0, close.at)));
    handle_own_line(job, behind, close.at + close.length, closing);
}

// A line of an open display formula: captured whole, or, when a closing
// marker stands in it after its first byte, ended there.
void handle_formula_line(JobState& job, std::string_view line) {
    ClosingMarkerSearch closing{line};
    const MarkerPosition close = find_closing_marker(closing, 1);
    if (close.at == kNone) {
        capture_display_line(job, line);
        return;
    }
    end_display(job, trim_trailing_blanks_and_tabs(line.substr(0, close.at)));
    handle_own_line(job, line, close.at + close.length, closing);
}

// Replaces each "$...$" pair of the line by its inline reference. A "$"
// without a partner and everything behind it stay as they are. The line is
// read once, from left to right, and each pair's reference goes where the
// pair stood, in the page's own line buffer. A formula met before is only
// looked up: nothing is copied or allocated for it.
void rewrite_inline(JobState& job, std::string_view line, std::size_t first_dollar) {
    const ReferenceParts& parts = current_reference_parts(job);
    LineOutput& out = job.wiki;
    start_line(out);
    std::size_t next = 0;  // the first byte not yet placed
    for (std::size_t open = first_dollar; open != kNone; open = line.find('$', next)) {
        const std::size_t close = line.find('$', open + 1);
        if (close == kNone) break;
        const std::string_view formula = line.substr(open + 1, close - open - 1);
        EquationLookup where;
        std::int64_t number = find_equation(job.registry, formula, where);
        if (number == 0) {
            // Its one line is its text, so no line is copied here.
            EquationRecord rec;
            rec.is_inline = true;
            rec.line_count = 1;
            rec.first_row = rec.last_row = job.line_number;
            rec.first_column = static_cast<std::int64_t>(open);
            rec.last_column = static_cast<std::int64_t>(close);
            number = add_equation(job.registry, where, formula, rec);
        }
        char digits[24];
        add_to_line(out, line.substr(next, open - next));
        add_to_line(out, parts.inline_head);
        add_to_line(out, image_key(job.registry, number, digits));
        add_to_line(out, parts.inline_tail);
        next = close + 1;
    }
    add_to_line(out, line.substr(next));
    finish_line(out);
}

}  // namespace

void equation_reference(std::string& out, bool is_inline, std::string_view key,
                        std::string_view equation_prefix,
                        const EquationSettings& settings) {
    std::string file(equation_prefix);
    file.append(key);
    file.push_back('.');
    file.append(settings.type);
    wiki::append_image(out, is_inline, file, settings.parameter, settings.scale, settings.title);
}

void append_equation_reference(std::string& out, JobState& job, bool is_inline, std::int64_t number) {
    char key[24];
    append_reference(out, current_reference_parts(job), is_inline, image_key(job.registry, number, key));
}

bool may_begin_display_marker(std::string_view line) {
    if (line.empty() || line.front() != '\\') return false;  // the usual case
    return begins_with(line, "\\[") || begins_with(line, "\\]") ||
           begins_with(line, "\\begin") || begins_with(line, "\\end");
}

bool handle_math_line(JobState& job, std::string_view line,
                      std::string_view as_written) {
    // Every display marker starts with a backslash; most lines do not.
    if (!line.empty() && line.front() == '\\') {
        if (const std::size_t n = marker_at_start(line, kOpeningMarkers)) {
            handle_opening_line(job, behind_marker(line, as_written, n));
            return true;
        }
        if (const std::size_t n = marker_at_start(line, kClosingMarkers)) {
            end_display(job, {});
            const std::string_view behind = behind_marker(line, as_written, n);
            ClosingMarkerSearch closing{behind};
            handle_own_line(job, behind, 0, closing);
            return true;
        }
    }
    if (job.body.in_display_math) {
        handle_formula_line(job, line);
        return true;
    }
    if (const std::size_t dollar = line.find('$'); dollar != kNone) {
        rewrite_inline(job, line, dollar);
        return true;
    }
    return false;
}

}  // namespace kelvarin
