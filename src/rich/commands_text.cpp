// Commands of running text: emphasis and font switches, spaces and breaks,
// text kept as written (\verb), links, footnotes, accents and the control
// symbols.
#include <utility>

#include "core/job_state.h"
#include "io/text_helpers.h"
#include "rich/commands.h"
#include "rich/latex_characters.h"
#include "wiki/markup.h"

namespace kelvarin {

namespace {

// An accent over nothing, "\^{}": the accent on its own.
std::string_view spacing_accent(char mark) {
    static constexpr std::pair<char, std::string_view> kSpacing[] = {
        {'\'', "\xC2\xB4"}, {'`', "`"}, {'^', "^"}, {'"', "\xC2\xA8"}, {'~', "~"},
        {'=', "\xC2\xAF"}, {'.', "\xCB\x99"}, {'u', "\xCB\x98"}, {'v', "\xCB\x87"},
        {'H', "\xCB\x9D"}, {'c', "\xC2\xB8"}, {'k', "\xCB\x9B"}, {'r', "\xCB\x9A"}};
    for (const auto& [accent, text] : kSpacing)
        if (accent == mark) return text;
    return {};
}

// "\vskip 1em plus 2pt minus 1pt": a dimension, its stretch and shrink.
std::size_t skip_dimension(const Walk& w, std::size_t at, std::size_t end) {
    const std::string_view t = w.text;
    auto one = [&](std::size_t p) {
        p = skip_blanks(t, p);
        if (p < end && (t[p] == '-' || t[p] == '+')) ++p;
        const std::size_t digits = p;
        while (p < end && ((t[p] >= '0' && t[p] <= '9') || t[p] == '.' || t[p] == ',')) ++p;
        if (p == digits) return kNoPosition;
        p = skip_blanks(t, p);
        if (p < end && t[p] == '\\') return p + 1 + command_name_length(t, p);
        // Units are two letters ("pt", "em"), or the infinite "fil", "fill"
        // and "filll" of stretch.
        std::size_t unit = p;
        if (t.substr(p, 3) == "fil") {
            unit = p + 3;
            while (unit < end && unit < p + 5 && t[unit] == 'l') ++unit;
            return unit;
        }
        while (unit < end && unit < p + 2 && t[unit] >= 'a' && t[unit] <= 'z') ++unit;
        return unit;
    };
    std::size_t p = one(at);
    if (p == kNoPosition) return at;
    for (std::string_view part : {"plus", "minus"}) {
        const std::size_t word = skip_blanks(t, p);
        if (word > p && word < end && t.substr(word, part.size()) == part) {
            const std::size_t q = one(word + part.size());
            if (q != kNoPosition) p = q;
        }
    }
    return p;
}

// "\\": a line break at the top of a line, the end of a row in a table, a
// blank inside an argument.
std::size_t break_line(CommandCall& call, std::size_t next) {
    RichState& r = call.w.r;
    if (!call.top()) {
        if (call.sink.empty() || call.sink.back() != ' ') call.sink.push_back(' ');
    } else if (r.tabular.depth > 0) {
        end_table_row(call.w);
    } else {
        r.out.append(wiki::kLineBreak);
        flush_line(call.w.job, r);
    }
    return next;
}

}  // namespace

void append_source_text(const Walk& w, std::string& sink, std::string_view text) {
    wiki::append_text(sink, text, w.r.tabular.depth > 0);
}

// Wiki emphasis around `content`; blanks at its ends stay outside the
// markers, which the wiki needs next to the text.
void append_emphasis(std::string& out, std::string_view marker, std::string_view content) {
    if (!out.empty() && out.back() == ' ')
        while (!content.empty() && content.front() == ' ') content.remove_prefix(1);
    const std::string_view inner = trim_blanks_and_tabs(content);
    if (inner.empty()) {
        out.append(content);
        return;
    }
    const std::size_t lead = static_cast<std::size_t>(inner.data() - content.data());
    out.append(content.substr(0, lead));
    out.append(marker);
    out.append(inner);
    out.append(marker);
    out.append(content.substr(lead + inner.size()));
}

std::string_view font_marker(Font font) {
    switch (font) {
        case Font::italic: return wiki::emphasis_marker(wiki::Emphasis::italic);
        case Font::bold: return wiki::emphasis_marker(wiki::Emphasis::bold);
        case Font::underline: return wiki::emphasis_marker(wiki::Emphasis::underline);
        case Font::strike: return wiki::emphasis_marker(wiki::Emphasis::strike);
        case Font::plain: case Font::none: break;
    }
    return "";
}

std::string translate_range(Walk& w, std::size_t begin, std::size_t end, Context outer) {
    Argument arg;
    arg.found = arg.closed = true;
    arg.begin = begin;
    arg.end = end;
    arg.next = end + 1;
    arg.text = w.text.substr(begin, end - begin);
    return std::string(trim_blanks_and_tabs(translate_argument(w, arg, outer)));
}

// The accent command "\'" (name) on the letter after it, "\'e" or "\'{e}".
// A group of several letters, "\'{ab}", has the accent on its first and the
// others as text after it; an empty group shows the accent alone.
std::size_t accent(Walk& w, Context context, char mark, std::size_t at, std::size_t end, std::string& out) {
    std::size_t p = at;
    std::size_t close = kNoPosition;
    if (p < end && w.text[p] == '{') {
        close = group_close(w.index, p);
        if (close == kNoPosition || close >= end) return at;
        p = skip_blanks(w.text, p + 1);
        if (p == close) {
            const std::string_view alone = spacing_accent(mark);
            if (alone.empty()) return at;
            out.append(alone);
            return close + 1;
        }
    } else if (mark >= 'a' && mark <= 'z') {
        p = skip_blanks(w.text, p);  // "\c c"
    }
    if (p >= end) return at;
    char letter = w.text[p];
    std::size_t after = p + 1;
    if (letter == '\\' && p + 1 < end && (w.text[p + 1] == 'i' || w.text[p + 1] == 'j') &&
        command_name_length(w.text, p) == 1) {
        letter = w.text[p + 1];
        after = p + 2;
    }
    if (!((letter >= 'a' && letter <= 'z') || (letter >= 'A' && letter <= 'Z'))) return at;
    append_accented(out, mark, letter);
    if (close == kNoPosition) return after;
    if (skip_blanks(w.text, after) != close) {
        // The rest of the group is text of its own.
        ++w.nesting;
        walk(w, after, close, inner_place(context, out));
        --w.nesting;
    }
    return close + 1;
}

std::size_t control_symbol(Walk& w, std::size_t at, std::size_t end, Place place, bool may_carry) {
    const std::string_view t = w.text;
    const char symbol = t[at + 1];
    const std::size_t after = at + 2;
    std::string& sink = sink_of(w, place);
    static const CommandEntry kSymbol{"", nullptr};
    CommandCall call{w, kSymbol, t.substr(at + 1, 1), at, after, end, place, sink, may_carry};
    switch (symbol) {
        case '\\': return break_line(call, read_arguments(w, "*o", after, end).next);
        case '[': return display_formula(w, "", "", after, end, place);
        case '(': {
            if (after < w.inline_close_from || after > w.inline_close_at) {
                w.inline_close_from = after;
                w.inline_close_at = t.find("\\)", after);
            }
            const std::size_t close = w.inline_close_at;
            if (close == kNoPosition || close + 2 > end) return call.unclosed(after);
            inline_formula(w, place.context, t.substr(after, close - after), at, close + 1, sink);
            return close + 2;
        }
        case ']': case ')': return after;
        case ' ': case ',': case ';': case ':': case '>': sink.push_back(' '); return after;
        case '!': case '-': case '/': case '@': return after;
        case '&': case '%': case '$': case '#': case '_': case '{': case '}':
            sink.push_back(symbol);
            return after;
        default: break;
    }
    if (is_accent(call.name)) {
        const std::size_t next = accent(w, place.context, symbol, after, end, sink);
        if (next != after) return next;
    }
    return call.as_written();
}

std::size_t emphasis_command(CommandCall& call, const CommandArguments& a) {
    if (const std::size_t stop = stop_at(call, a); stop != kNoStop) return stop;
    const Argument& arg = a[1];
    if (call.entry.font == Font::plain && call.top()) {
        walk(call.w, arg.begin, arg.end, call.place);
    } else {
        append_emphasis(call.sink, call.context() == Context::plain ? "" : font_marker(call.entry.font),
                        translate_argument(call.w, arg, call.context()));
    }
    return arg.next;
}

// A switch met here, not at the start of a group, cannot be wrapped around
// what it affects: it is dropped.
std::size_t font_switch(CommandCall& call, const CommandArguments&) { return call.after; }

std::size_t text_of_last_argument(CommandCall& call, const CommandArguments& a) {
    if (const std::size_t stop = stop_at(call, a); stop != kNoStop) return stop;
    const Argument& arg = a[a.count - 1];
    walk(call.w, arg.begin, arg.end, call.place);
    return arg.next;
}

// "\hspace{1em}" is a space too, its width aside.
std::size_t horizontal_space(CommandCall& call, const CommandArguments& a) {
    if (a.status == CommandArguments::unclosed) return call.unclosed(a.carry_from);
    if (call.sink.empty() || call.sink.back() != ' ') call.sink.push_back(' ');
    return a.next;
}

std::size_t line_break(CommandCall& call, const CommandArguments& a) {
    if (call.top() && call.w.r.tabular.depth == 0) {
        call.w.r.out.append(wiki::kLineBreak);
        flush_line(call.w.job, call.w.r);
    } else {
        call.sink.push_back(' ');
    }
    return a.next;
}

// "\tabularnewline" ends a table's row as "\\\\" does.
std::size_t row_end_command(CommandCall& call, const CommandArguments& a) { return break_line(call, a.next); }

std::size_t paragraph_command(CommandCall& call, const CommandArguments&) {
    if (call.top())
        paragraph_break(call.w.job, call.w.r);
    else
        call.sink.push_back(' ');
    return call.after;
}

std::size_t verb_command(CommandCall& call, const CommandArguments&) {
    const std::string_view t = call.w.text;
    const std::size_t close = verb_end(call.w.index, call.after);
    if (close == kNoPosition || close > call.end) return call.as_written();
    const std::size_t open = t[call.after] == '*' ? call.after + 1 : call.after;
    append_source_text(call.w, call.sink, t.substr(open + 1, close - open - 2));
    return close;
}

std::size_t mintinline_command(CommandCall& call, const CommandArguments&) {
    Walk& w = call.w;
    const CommandArguments language = read_arguments(w, "omo", call.after, call.end);
    const std::size_t p = language.next;
    if (language.status == CommandArguments::unclosed || p >= call.end) return call.as_written();
    if (w.text[p] == '{') {
        const Argument arg = read_argument(w, p, call.end);
        if (!arg.closed) return call.as_written();
        append_source_text(w, call.sink, arg.text);
        return arg.next;
    }
    const std::size_t close = verb_end(w.index, p);
    if (close == kNoPosition || close > call.end) return call.as_written();
    append_source_text(w, call.sink, w.text.substr(p + 1, close - p - 2));
    return close;
}

std::size_t url_command(CommandCall& call, const CommandArguments& a) {
    if (const std::size_t stop = stop_at(call, a); stop != kNoStop) return stop;
    append_source_text(call.w, call.sink, a[0].text);
    return a[0].next;
}

std::size_t href_command(CommandCall& call, const CommandArguments& a) {
    if (const std::size_t stop = stop_at(call, a); stop != kNoStop) return stop;
    const Argument& address = a[0];
    const Argument arg = read_argument(call.w, address.next, call.end);
    if (!arg.found) {
        append_source_text(call.w, call.sink, address.text);
        return address.next;
    }
    if (!arg.closed) return call.unclosed(call.after);
    const std::string text(trim_blanks_and_tabs(translate_argument(call.w, arg, call.context())));
    if (text.empty())
        append_source_text(call.w, call.sink, address.text);
    else
        call.sink.append(wiki::link(text, address.text));
    return arg.next;
}

std::size_t footnote_command(CommandCall& call, const CommandArguments& a) {
    if (const std::size_t stop = stop_at(call, a); stop != kNoStop) return stop;
    RichState& r = call.w.r;
    const LabelTarget saved = r.target;
    step_footnote(r);
    const std::string text = translate_argument(call.w, a[1], call.context());
    r.target = saved;
    if (!trim_blanks_and_tabs(text).empty() && call.context() != Context::plain)
        call.sink.append(wiki::footnote(trim_blanks_and_tabs(text)));
    return a[1].next;
}

std::size_t ensuremath_command(CommandCall& call, const CommandArguments& a) {
    if (const std::size_t stop = stop_at(call, a); stop != kNoStop) return stop;
    const Argument& arg = a[0];
    inline_formula(call.w, call.context(), call.w.text.substr(arg.begin, arg.end - arg.begin), call.at, arg.next - 1, call.sink);
    return arg.next;
}

// "\texorpdfstring{$\Sigma$}{Sigma}": the text as the document shows it,
// and the plain string where the page shows text bare (a reference to the
// heading), as the plain string serves the PDF's outline.
std::size_t texorpdfstring_command(CommandCall& call, const CommandArguments& a) {
    if (const std::size_t stop = stop_at(call, a); stop != kNoStop) return stop;
    const Argument& shown = call.context() == Context::plain ? a[1] : a[0];
    walk(call.w, shown.begin, shown.end, call.place);
    return a.next;
}

// "\xspace": a blank, unless punctuation, a closing bracket or a blank
// follows, as the command is meant for the end of text macros.
std::size_t xspace_command(CommandCall& call, const CommandArguments&) {
    const std::string_view t = call.w.text;
    std::size_t at = call.after;
    if (t.substr(at, 2) == "{}") at += 2;  // where an expansion ended
    const char next = at < call.end ? t[at] : ' ';
    if (std::string_view(" \t,.'/?;:!~-)]}").find(next) == std::string_view::npos && next != '\\')
        call.sink.push_back(' ');
    return call.after;
}

std::size_t skip_command(CommandCall& call, const CommandArguments&) {
    return skip_dimension(call.w, call.after, call.end);
}

std::size_t nothing_command(CommandCall& call, const CommandArguments&) { return call.after; }

std::size_t newblock_command(CommandCall& call, const CommandArguments&) {
    call.sink.push_back(' ');
    return call.after;
}

}  // namespace kelvarin
