// Labels, references and citations, and the items of a bibliography.
#include "core/job_state.h"
#include "io/text_helpers.h"
#include "rich/commands.h"
#include "wiki/markup.h"

namespace kelvarin {

namespace {

// Citation keys "a, b" with the optional notes: "[see a, b, p. 3]".
std::string citation(std::string_view keys, std::string_view pre, std::string_view post) {
    std::string text = "[";
    if (!pre.empty()) {
        text.append(pre);
        text.push_back(' ');
    }
    bool first = true;
    std::size_t start = 0;
    while (start <= keys.size()) {
        std::size_t comma = keys.find(',', start);
        if (comma == std::string_view::npos) comma = keys.size();
        const std::string_view key = trim_blanks_and_tabs(keys.substr(start, comma - start));
        if (!key.empty()) {
            if (!first) text.append(", ");
            text.append(key);
            first = false;
        }
        start = comma + 1;
    }
    if (!post.empty()) {
        text.append(", ");
        text.append(post);
    }
    return text + "]";
}

// The notes of a citation, "\cite[see][p. 3]{key}": with one, it is the
// note after the keys; with two, the first goes before them.
void cite_notes(CommandCall& call, const CommandArguments& a, std::string& pre, std::string& post) {
    std::string notes[2];
    int count = 0;
    for (int i = 0; i < 2 && a[static_cast<std::size_t>(i)].found; ++i, ++count) {
        const Argument& note = a[static_cast<std::size_t>(i)];
        notes[i] = translate_range(call.w, note.begin, note.end, call.context());
    }
    if (count == 2) {
        pre = notes[0];
        post = notes[1];
    } else {
        post = notes[0];
    }
}

// "\hyperref{address}{category}{name}{text}": a link to "address#category.name".
std::size_t hyperref_to_address(CommandCall& call) {
    const CommandArguments a = read_arguments(call.w, "mmmm", call.after, call.end);
    if (a.status == CommandArguments::missing) return a.next;
    if (a.status == CommandArguments::unclosed) return call.may_carry ? kNoPosition : a.next;
    const std::string text = translate_argument(call.w, a[3], call.context());
    const std::string_view address = trim_blanks_and_tabs(a[0].text);
    if (address.empty() || call.context() == Context::plain) {
        call.sink.append(text);
        return a.next;
    }
    std::string target(address);
    const std::string_view category = trim_blanks_and_tabs(a[1].text);
    const std::string_view name = trim_blanks_and_tabs(a[2].text);
    if (!category.empty() || !name.empty()) {
        target += "#";
        target += category;
        if (!category.empty() && !name.empty()) target += ".";
        target += name;
    }
    call.sink.append(wiki::link(text, target));
    return a.next;
}

}  // namespace

std::size_t label_command(CommandCall& call, const CommandArguments& a) {
    if (const std::size_t stop = stop_at(call, a); stop != kNoStop) return stop;
    define_label(call.w.r, a[0].text);
    return a[0].next;
}

std::size_t reference_command(CommandCall& call, const CommandArguments& a) {
    if (const std::size_t stop = stop_at(call, a); stop != kNoStop) return stop;
    // "\ref*" is hyperref's reference without a link, as reference wrappers
    // use it inside a link of their own; bare text holds no link either.
    const bool linked = !a.star && call.context() != Context::plain;
    call.sink.append(reference_text(call.w.r, call.name, a[0].text, linked));
    return a[0].next;
}

// "\hyperref[label]{text}": a link where the label names a heading.
std::size_t hyperref_command(CommandCall& call, const CommandArguments&) {
    Walk& w = call.w;
    const std::size_t first = skip_blanks(w.text, call.after);
    if (first < call.end && w.text[first] == '{') return hyperref_to_address(call);
    const CommandArguments a = read_arguments(w, "om", call.after, call.end);
    if (const std::size_t stop = stop_at(call, a); stop != kNoStop) return stop;
    const std::string text = translate_argument(w, a[1], call.context());
    const auto label = w.r.outline.labels.find(std::string(a[0].text));
    if (label != w.r.outline.labels.end() && !label->second.anchor.empty())
        call.sink.append(wiki::link(text, "#" + label->second.anchor));
    else
        call.sink.append(text);
    return a[1].next;
}

// "\crefname{lemma}{lem.}{lems.}" and "\Crefname{...}": the names cleveref
// puts before the numbers of that kind; the plural is not used here.
std::size_t crefname_command(CommandCall& call, const CommandArguments& a) {
    if (const std::size_t stop = stop_at(call, a); stop != kNoStop) return stop;
    RichState& r = call.w.r;
    auto& names = call.name == "Crefname" ? r.cref_capital_names : r.cref_names;
    names[std::string(trim_blanks_and_tabs(a[0].text))] =
        std::string(trim_blanks_and_tabs(translate_argument(call.w, a[1], Context::plain)));
    return a[2].next;
}

std::size_t cite_command(CommandCall& call, const CommandArguments& a) {
    if (const std::size_t stop = stop_at(call, a); stop != kNoStop) return stop;
    std::string pre, post;
    cite_notes(call, a, pre, post);
    call.sink.append(citation(a[2].text, pre, post));
    return a[2].next;
}

std::size_t nocite_command(CommandCall& call, const CommandArguments& a) {
    if (const std::size_t stop = stop_at(call, a); stop != kNoStop) return stop;
    std::string pre, post;
    cite_notes(call, a, pre, post);  // translated all the same: they may number footnotes
    return a[2].next;
}

std::size_t bibitem_command(CommandCall& call, const CommandArguments& a) {
    if (const std::size_t stop = stop_at(call, a); stop != kNoStop) return stop;
    const std::string key(trim_blanks_and_tabs(a[1].text));
    if (call.top()) {
        RichState& r = call.w.r;
        flush_line(call.w.job, r);
        r.out = wiki::item_marker(false, 1) + "[" + key + "] ";
        r.out_markup = r.out.size();
        r.out_continues = true;
    } else {
        call.sink.append("[" + key + "] ");
    }
    return a[1].next;
}

}  // namespace kelvarin
