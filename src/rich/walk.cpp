// The rich-mode walker: one left-to-right pass over a logical line that
// writes its text as wiki text and hands every command to the command table
// (commands.cpp) and every block construct (environments, items, display
// formulas, table cells) to the code that knows it.
#include <algorithm>
#include <array>

#include "core/job_state.h"
#include "io/byte_sets.h"
#include "io/text_helpers.h"
#include "rich/commands.h"
#include "rich/internal.h"

namespace kelvarin {

namespace {

// Groups nested deeper than this are copied as they stand: a line of a
// million "{" must not cost a million stack frames.
constexpr int kDeepestNesting = 64;

// Bytes that end a run of plain text.
const ByteSet kSpecial = byte_set("\\{}$~-`'&");

// "``" or "`" (and "''" or "'"): the doubled quote or the single one.
std::size_t quote(std::string_view t, std::size_t pos, std::size_t end, std::string_view doubled,
                  std::string_view single, std::string& sink) {
    const bool twice = pos + 1 < end && t[pos + 1] == t[pos];
    sink.append(twice ? doubled : single);
    return pos + (twice ? 2 : 1);
}

// A brace group. One that opens with a font switch ("{\bf text}") becomes
// wiki emphasis; any other is transparent, its text written in place.
std::size_t group(Walk& w, std::size_t at, std::size_t end, Place place, bool may_carry) {
    const std::size_t close = group_close(w.index, at);
    if (close == kNoPosition || close >= end) return may_carry ? kNoPosition : at + 1;
    std::string& sink = sink_of(w, place);
    // Deeper than this a group is only its content: the walk goes on into it
    // without a call of its own (its closing brace is passed over like any
    // stray one), so that a line of a million "{" costs no stack.
    if (w.nesting >= kDeepestNesting) return at + 1;
    const std::size_t first = skip_blanks(w.text, at + 1);
    if (first < close && w.text[first] == '\\') {
        const std::size_t length = command_name_length(w.text, first);
        const CommandEntry* entry = find_command(w.text.substr(first + 1, length));
        if (entry != nullptr && entry->handler == font_switch) {
            std::string inner;
            ++w.nesting;
            walk(w, first + 1 + length, close, inner_place(place.context, inner));
            --w.nesting;
            append_emphasis(sink, place.context == Context::plain ? "" : font_marker(entry->font), inner);
            return close + 1;
        }
    }
    ++w.nesting;
    walk(w, at + 1, close, place);
    --w.nesting;
    return close + 1;
}

}  // namespace

std::string& line_sink(RichState& r) {
    return r.tabular.depth > 0 ? r.tabular.cell : r.out;
}

Argument read_argument(Walk& w, std::size_t at, std::size_t end) {
    Argument arg;
    const std::size_t open = skip_blanks(w.text, at);
    if (open >= end || w.text[open] != '{') return arg;
    arg.found = true;
    const std::size_t close = group_close(w.index, open);
    if (close == kNoPosition || close >= end) return arg;
    arg.closed = true;
    arg.begin = open + 1;
    arg.end = close;
    arg.next = close + 1;
    arg.text = w.text.substr(arg.begin, arg.end - arg.begin);
    return arg;
}

std::size_t translate_optional_argument(Walk& w, std::size_t at, bool skip_blanks_first,
                                        std::string& text, Context outer) {
    const std::size_t next = skip_optional_argument(w.index, at, skip_blanks_first);
    if (next == at) return at;
    Argument arg;
    arg.found = arg.closed = true;
    arg.begin = skip_blanks(w.text, at) + 1;
    arg.end = next - 1;
    arg.next = next;
    text = std::string(trim_blanks_and_tabs(translate_argument(w, arg, outer)));
    return next;
}

std::string translate_argument(Walk& w, const Argument& arg, Context outer) {
    std::string text;
    if (w.nesting >= kDeepestNesting) return std::string(arg.text);
    ++w.nesting;
    walk(w, arg.begin, arg.end, inner_place(outer, text));
    --w.nesting;
    return text;
}

std::string translate_text(JobState& job, RichState& r, std::string_view source, const std::vector<RowStart>* rows,
                           Context context) {
    // A copy: what the walk declares may replace the text it is reading.
    const std::string text(source);
    LatexIndex index;
    Walk sub(job, r, index);
    sub.text = text;
    sub.rows = rows;
    index_latex(text, sub.index);
    sub.nesting = 1;
    std::string out;
    walk(sub, 0, text.size(), {context, &out});
    return std::string(trim_blanks_and_tabs(out));
}

std::size_t walk(Walk& w, std::size_t pos, std::size_t end, Place place) {
    // Only the walk over a whole logical line, at its top, may stop at an
    // unclosed construct and carry it on to the next source line.
    const bool may_carry = place.top() && w.nesting == 0 && !w.final;
    const std::string_view t = w.text;
    while (pos < end) {
        const std::size_t run = next_in_set(t, pos, end, kSpecial);
        if (run > pos && place.top() && !w.r.pass->keeps_text) {
            pos = run;  // a pass that writes no text has nothing to copy
            continue;
        }
        if (run > pos) {
            std::string& sink = sink_of(w, place);
            // Blanks after a blank (where a dropped command stood) add nothing.
            if (!sink.empty() && sink.back() == ' ')
                while (pos < run && t[pos] == ' ') ++pos;
            append_source_text(w, sink, t.substr(pos, run - pos));
            pos = run;
            continue;
        }
        std::string& sink = sink_of(w, place);
        const char c = t[pos];
        std::size_t next = pos + 1;
        switch (c) {
            case '\\': next = command(w, pos, end, place, may_carry); break;
            case '{': next = group(w, pos, end, place, may_carry); break;
            case '}': break;  // closes a group opened on an earlier line
            case '$':
                if (pos + 1 < end && t[pos + 1] == '$') {
                    next = display_formula(w, "$$", "", pos + 2, end, place);
                } else {
                    const std::size_t close = next_dollar(w.index, pos + 1);
                    if (close == kNoPosition || close >= end) {
                        if (may_carry) return pos;
                        sink.push_back('$');
                    } else {
                        inline_formula(w, place.context, t.substr(pos + 1, close - pos - 1), pos, close, sink);
                        next = close + 1;
                    }
                }
                break;
            case '~': sink.push_back(' '); break;
            case '-':
                if (t.substr(pos, 3) == "---" && pos + 3 <= end) {
                    sink.append("\xE2\x80\x94");
                    next = pos + 3;
                } else if (t.substr(pos, 2) == "--" && pos + 2 <= end) {
                    sink.append("\xE2\x80\x93");
                    next = pos + 2;
                } else {
                    sink.push_back('-');
                }
                break;
            case '`': next = quote(t, pos, end, "\xE2\x80\x9C", "\xE2\x80\x98", sink); break;
            case '\'': next = quote(t, pos, end, "\xE2\x80\x9D", "\xE2\x80\x99", sink); break;
            case '&':
                if (place.top() && w.r.tabular.depth > 0)
                    end_table_cell(w);
                else
                    sink.push_back('&');
                break;
            default: break;
        }
        if (next == kNoPosition) return pos;  // carried to the next line
        pos = next;
    }
    return end;
}

}  // namespace kelvarin
