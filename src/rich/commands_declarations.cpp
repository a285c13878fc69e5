// Declarations: definitions of commands and environments (which leave
// nothing on the page), theorem kinds, counters, the title block's parts,
// and the commands that go with their arguments.
#include <algorithm>

#include "core/job_state.h"
#include "io/text_helpers.h"
#include "rich/commands.h"

namespace kelvarin {

namespace {

// Skips the brace arguments of a command that is dropped with them.
// Returns kNoPosition when one of them does not close on the line.
std::size_t skip_arguments(Walk& w, std::size_t at, std::size_t end, int count) {
    for (int i = 0; i < count; ++i) {
        at = skip_optional_argument(w.index, at, false);
        const Argument arg = read_argument(w, at, end);
        if (!arg.found) return at;
        if (!arg.closed) return kNoPosition;
        at = arg.next;
    }
    return skip_optional_argument(w.index, at, false);
}

// A definition in the body: "\newcommand{\x}[1][d]{...}" or "\newcommand\x{...}".
std::size_t skip_definition(Walk& w, std::size_t at, std::size_t end, int bodies) {
    at = skip_blanks(w.text, at);
    if (at < end && w.text[at] == '\\') {
        at += 1 + command_name_length(w.text, at);
    } else {
        const std::size_t next = skip_arguments(w, at, end, 1);
        if (next == kNoPosition) return kNoPosition;
        at = next;
    }
    while (true) {
        const std::size_t next = skip_optional_argument(w.index, at, false);
        if (next == at) break;
        at = next;
    }
    return skip_arguments(w, at, end, bodies);
}

// "\def\x#1#2{...}": the name, its parameters, its body. Anything else
// between the name and the body means this is no definition kelvarin can
// read, and the text stays.
std::size_t skip_def(Walk& w, std::size_t at, std::size_t end) {
    std::size_t p = skip_blanks(w.text, at);
    if (p >= end || w.text[p] != '\\') return at;
    p += 1 + command_name_length(w.text, p);
    // The parameter text runs to the body's brace: "#1#2", or parameters
    // delimited by other tokens, "#1.", "#1\end".
    while (p < end && w.text[p] != '{') {
        if (w.text[p] == '}' || w.text[p] == '%') return at;
        p += w.text[p] == '\\' ? 1 + std::max<std::size_t>(command_name_length(w.text, p), 1) : 1;
    }
    if (p >= end) return kNoPosition;
    const std::size_t close = group_close(w.index, p);
    return close == kNoPosition || close >= end ? kNoPosition : close + 1;
}

// "\let\a\b" or "\let\a = b": two tokens. Returns kNoPosition when the line
// ends before the second, which then stands on the next line.
std::size_t skip_let(const Walk& w, std::size_t at, std::size_t end) {
    for (int token = 0; token < 2; ++token) {
        at = skip_blanks(w.text, at);
        if (token == 1 && at < end && w.text[at] == '=') at = skip_blanks(w.text, at + 1);
        if (at >= end) return kNoPosition;
        at += w.text[at] == '\\' ? 1 + command_name_length(w.text, at) : 1;
    }
    return at;
}

// The title block's parts are kept as written, and translated where
// \maketitle writes them.
std::size_t keep_part(CommandCall& call, const CommandArguments& a, std::string& part) {
    if (const std::size_t stop = stop_at(call, a); stop != kNoStop) return stop;
    part = std::string(a[1].text);
    return a[1].next;
}

}  // namespace

std::size_t drop_command(CommandCall& call, const CommandArguments& a) {
    if (a.status == CommandArguments::unclosed) return call.unclosed(a.carry_from);
    return a.next;
}

std::size_t definition_command(CommandCall& call, const CommandArguments& a) {
    const std::size_t next = skip_definition(call.w, a.next, call.end, 1);
    return next == kNoPosition ? call.unclosed(a.next) : next;
}

std::size_t environment_definition_command(CommandCall& call, const CommandArguments& a) {
    const std::size_t next = skip_definition(call.w, a.next, call.end, 2);
    return next == kNoPosition ? call.unclosed(a.next) : next;
}

std::size_t def_command(CommandCall& call, const CommandArguments&) {
    const std::size_t next = skip_def(call.w, call.after, call.end);
    return next == kNoPosition ? call.unclosed(call.after) : next;
}

std::size_t let_command(CommandCall& call, const CommandArguments&) {
    const std::size_t next = skip_let(call.w, call.after, call.end);
    return next == kNoPosition ? call.unclosed(call.end) : next;
}

std::size_t title_command(CommandCall& call, const CommandArguments& a) { return keep_part(call, a, call.w.r.title); }
std::size_t author_command(CommandCall& call, const CommandArguments& a) { return keep_part(call, a, call.w.r.author); }
std::size_t date_command(CommandCall& call, const CommandArguments& a) { return keep_part(call, a, call.w.r.date); }

// "\newtheorem{lemma}[theorem]{Lemma}[section]".
std::size_t newtheorem_command(CommandCall& call, const CommandArguments& a) {
    if (const std::size_t stop = stop_at(call, a); stop != kNoStop) return stop;
    declare_theorem(call.w.r, a[0].text, a[1].text, a[2].text, a[3].text, !a.star);
    return a.next;
}

std::size_t numberwithin_command(CommandCall& call, const CommandArguments& a) {
    if (const std::size_t stop = stop_at(call, a); stop != kNoStop) return stop;
    number_within(call.w.r, trim_blanks_and_tabs(a[0].text), trim_blanks_and_tabs(a[1].text));
    return a[1].next;
}

}  // namespace kelvarin
