#include "rich/body.h"

#include <algorithm>
#include <array>

#include "core/job_state.h"
#include "io/byte_sets.h"
#include "rich/environments.h"
#include "rich/internal.h"
#include "io/text_helpers.h"

namespace kelvarin {

namespace {

// A group or formula left open is joined with the lines after it, but not
// for ever: past these bounds the text is taken as it stands.
constexpr int kMostJoinedLines = 40;
constexpr std::size_t kLongestJoinedText = 64 * 1024;

bool is_blank(std::string_view text) { return trim_blanks_and_tabs(text).empty(); }

bool begins_code(std::string_view text) {
    for (std::string_view name : code_environments())
        if (text.find("\\begin{" + std::string(name)) != std::string_view::npos) return true;
    return false;
}

// Walks the logical line in r.pending. What an unclosed construct leaves
// over stays in r.pending for the next source line; otherwise the line is
// done, and the wiki line with it unless a list item goes on.
void walk_pending(JobState& job, RichState& r, bool final) {
    Walk w(job, r, r.pending_index);
    w.text = r.pending;
    w.rows = &r.pending_rows;
    w.final = final || r.pending_lines >= kMostJoinedLines || r.pending.size() >= kLongestJoinedText;
    index_latex(w.text, w.index);
    r.vocabulary.budget = kExpansionFactor * w.text.size() + kExpansionAllowance;
    const std::size_t stop = walk(w, 0, w.text.size(), Place{});
    if (stop < w.text.size()) {
        // The carried text keeps the rows it came from; offsets now count
        // from its first byte, so a row that began before it starts below 0.
        std::vector<RowStart> kept;
        for (std::size_t i = 0; i < r.pending_rows.size(); ++i) {
            const bool ends_before = i + 1 < r.pending_rows.size() &&
                                     r.pending_rows[i + 1].offset <= static_cast<std::int64_t>(stop);
            if (!ends_before)
                kept.push_back({r.pending_rows[i].offset - static_cast<std::int64_t>(stop),
                                r.pending_rows[i].row});
        }
        r.pending.erase(0, stop);
        r.pending_rows = std::move(kept);
        ++r.pending_lines;
        return;
    }
    r.pending.clear();
    r.pending_rows.clear();
    r.pending_lines = 0;
    if (!r.out_continues) flush_line(job, r);
}

void code_line(JobState& job, RichState& r, const std::string& raw_line) {
    const std::size_t close = raw_line.find(r.code_end);
    if (close == std::string::npos) {
        write_wiki_line(job, raw_line);
        return;
    }
    const std::string_view before = std::string_view(raw_line).substr(0, close);
    if (!is_blank(before)) write_wiki_line(job, before);
    write_wiki_line(job, "}}");
    std::string rest = raw_line.substr(close + r.code_end.size());
    r.code_end.clear();
    if (!is_blank(rest)) rich_body_line(job, rest);
}

// The bytes without which a line teaches the first pass nothing.
const ByteSet kTelling = byte_set("\\{}$%&");

// Whether the line's only telling bytes, the first of which is at `p`, are
// those of inline formulas "$...$" that close on it, read as the walk reads
// them: no "$$", no \verb or \lstinline inside one, no backslash right
// before a closing "$" (nor any outside them, so no "$" is escaped).
bool only_inline_formulas(std::string_view line, std::size_t p) {
    while (p < line.size()) {
        if (line[p] != '$' || (p + 1 < line.size() && line[p + 1] == '$')) return false;
        const std::size_t close = line.find('$', p + 1);
        if (close == std::string_view::npos || line[close - 1] == '\\') return false;
        const std::string_view formula = line.substr(p + 1, close - p - 1);
        for (std::size_t b = formula.find('\\'); b != std::string_view::npos; b = formula.find('\\', b + 1)) {
            const std::string_view name = line.substr(p + 2 + b);
            if (name.substr(0, 4) == "verb" || name.substr(0, 9) == "lstinline") return false;
        }
        p = next_in_set(line, close + 1, line.size(), kTelling);
    }
    return true;
}

// The first pass learns labels, headings and numbers, all of which come from
// commands, groups, display formulas and tables. A line with no backslash,
// brace, dollar, percent or ampersand, met while nothing is open that takes
// or joins whole lines, teaches it nothing and is passed over; so is one
// whose only such bytes are those of inline formulas, which the first pass
// does not number, unless a branch of a conditional is being passed over
// (its \fi may stand in a formula).
bool nothing_to_learn(const RichState& r, std::string_view line) {
    if (!r.pending.empty() || r.display.open || !r.code_end.empty() || r.in_comment || r.tabular.depth > 0)
        return false;
    const std::size_t first = next_in_set(line, 0, line.size(), kTelling);
    return first == line.size() || (!r.vocabulary.skipping && only_inline_formulas(line, first));
}

}  // namespace

void rich_body_line(JobState& job, std::string& raw_line) {
    RichState& r = job.rich;
    if (!r.pass->keeps_text && nothing_to_learn(r, raw_line)) return;
    if (r.vocabulary.skipping) {
        // A branch of a conditional not taken: passed over to its end.
        const std::size_t comment = comment_start(raw_line);
        const std::string_view text(raw_line.data(), comment == kNoPosition ? raw_line.size() : comment);
        const std::size_t rest = skip_branch(r.vocabulary, text, 0);
        if (rest == kNoPosition || is_blank(text.substr(rest))) return;
        raw_line.erase(0, rest);
    }
    if (!r.code_end.empty()) {
        code_line(job, r, raw_line);
        return;
    }
    // Text after the end of a block on its line is no line of its own when
    // it is blank: no paragraph break.
    bool after_block = false;
    if (r.in_comment) {
        const std::size_t close = raw_line.find("\\end{comment}");
        if (close == std::string::npos) return;
        r.in_comment = false;
        raw_line.erase(0, close + 13);
        after_block = true;
    }
    const std::size_t comment = comment_start(raw_line);
    std::string_view text(raw_line);
    if (comment != kNoPosition) text = text.substr(0, comment);
    if (r.display.open) {
        const std::size_t rest = display_line(job, r, text);
        if (rest == kNoPosition) return;
        text = text.substr(rest);
        after_block = true;
    }
    text.remove_prefix(std::min(text.size(), leading_blank_count(text)));
    const bool blank = is_blank(text);
    // A line holding only a comment is no paragraph break: LaTeX skips it.
    if (blank && (comment != kNoPosition || after_block)) return;
    if (!r.pending.empty() && (blank || begins_code(text))) walk_pending(job, r, true);
    if (blank) {
        paragraph_break(job, r);
        return;
    }
    if (!r.pending.empty()) {
        r.pending.push_back(' ');
    } else {
        // A list item or table cell that goes on from the line before.
        std::string& sink = line_sink(r);
        if (!sink.empty() && sink.back() != ' ') sink.push_back(' ');
    }
    r.pending_rows.push_back({static_cast<std::int64_t>(r.pending.size()), job.line_number});
    r.pending.append(text);
    walk_pending(job, r, false);
}

void rich_finish_body(JobState& job) {
    RichState& r = job.rich;
    if (!r.pending.empty()) walk_pending(job, r, true);
    if (r.display.open) abandon_display(job, r);
    if (!r.code_end.empty()) write_wiki_line(job, "}}");
    r.code_end.clear();
    LatexIndex unused;
    Walk w(job, r, unused);
    close_all_environments(w);
    flush_line(job, r);
}

void rich_preamble_line(JobState& job, std::string_view raw_line) {
    RichState& r = job.rich;
    const std::size_t comment = comment_start(raw_line);
    std::string_view text = raw_line.substr(0, comment == kNoPosition ? raw_line.size() : comment);
    if (r.preamble_pending.empty() && text.find('\\') == std::string_view::npos) return;
    r.preamble_pending.append(text);
    LatexIndex index;
    Walk w(job, r, index);
    w.text = r.preamble_pending;
    w.declarations_only = true;
    index_latex(w.text, w.index);
    r.vocabulary.budget = kExpansionFactor * w.text.size() + kExpansionAllowance;
    const bool open_group = !all_groups_close(w.index);
    if (open_group && r.preamble_pending.size() < kLongestJoinedText) {
        r.preamble_pending.push_back(' ');
        return;
    }
    read_declarations(w);
    r.preamble_pending.clear();
}

}  // namespace kelvarin
