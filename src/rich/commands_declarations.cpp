// Declarations: definitions of commands and environments (which leave
// nothing on the page), theorem kinds, counters, the title block's parts,
// and the commands that go with their arguments.
#include <algorithm>

#include "core/job_state.h"
#include "io/text_helpers.h"
#include "rich/commands.h"

namespace kelvarin {

namespace {

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
