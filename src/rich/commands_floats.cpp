// Images, captions and the commands of tables: cells over columns and
// rows, and rules.
#include <cstdlib>
#include <optional>

#include "core/job_state.h"
#include "io/text_helpers.h"
#include "rich/commands.h"
#include "rich/figure_files.h"
#include "wiki/markup.h"

namespace kelvarin {

namespace {

// "\multicolumn{n}{align}{text}" and "\multirow{n}{width}{text}": the text,
// and for a cell over columns, the wiki's ">" cells that join it with the
// ones after it.
std::size_t spanning_cell(CommandCall& call, const CommandArguments& a, bool over_columns) {
    if (const std::size_t stop = stop_at(call, a); stop != kNoStop) return stop;
    Walk& w = call.w;
    if (over_columns && call.top() && w.r.tabular.depth > 0) {
        const long span = std::strtol(std::string(a[0].text).c_str(), nullptr, 10);
        for (long k = 1; k < span && k < 64; ++k) w.r.tabular.cells.push_back(">");
    }
    const Argument& text = a[4];
    walk(w, text.begin, text.end, call.place);
    return text.next;
}

}  // namespace

std::size_t includegraphics_command(CommandCall& call, const CommandArguments& a) {
    if (const std::size_t stop = stop_at(call, a); stop != kNoStop) return stop;
    const Argument& file = a[1];
    const std::string_view options = a[0].found ? a[0].text : std::string_view();
    FigureReference image = figure_reference(call.w, trim_blanks_and_tabs(file.text), call.at);
    std::string scale = figure_scale(options);
    if (in_figure(call.w.r))
        add_image(call.w, std::move(image.file), std::move(scale));
    else
        call.sink.append(wiki::inline_image(image.file, scale));
    return file.next;
}

std::size_t caption_command(CommandCall& call, const CommandArguments& a) {
    if (const std::size_t stop = stop_at(call, a); stop != kNoStop) return stop;
    const Argument& arg = a[a.count - 1];
    const bool top = call.top();
    const std::string lead = top ? caption_lead(call.w.r, !a.star && call.name != "subcaption") : std::string();
    std::string text(trim_blanks_and_tabs(translate_argument(call.w, arg, call.context())));
    if (top)
        set_caption(call.w, lead + text);
    else
        call.sink.append(text);
    return arg.next;
}

std::size_t subfloat_command(CommandCall& call, const CommandArguments& a) {
    Walk& w = call.w;
    // The subcaption is translated first, as it stands first.
    const std::string sub = a[0].found ? translate_range(w, a[0].begin, a[0].end, call.context()) : std::string();
    if (const std::size_t stop = stop_at(call, a); stop != kNoStop) return stop;
    const Argument& body = a[1];
    const std::size_t images = figure_images(w.r);
    walk(w, body.begin, body.end, call.place);
    if (figure_images(w.r) > images)
        set_subcaption(w, sub);
    else
        call.sink.append(sub);
    return body.next;
}

std::size_t multicolumn_command(CommandCall& call, const CommandArguments& a) {
    return spanning_cell(call, a, true);
}

std::size_t multirow_command(CommandCall& call, const CommandArguments& a) {
    return spanning_cell(call, a, false);
}

namespace {

// What each command between a table's rows says, and what it takes after
// its name: an optional width ("\midrule[1pt]"), a trim in parentheses
// ("\cmidrule(lr){2-3}"), brace arguments.
struct RowSeparator {
    std::string_view name;
    std::optional<TableRule> rule;  // none: a space only
    bool width = false;
    bool trim = false;
    int arguments = 0;
};

constexpr RowSeparator kRowSeparators[] = {
    {"hline", TableRule::full},
    {"toprule", TableRule::top, true},
    {"midrule", TableRule::middle, true},
    {"bottomrule", TableRule::bottom, true},
    {"cline", TableRule::partial, false, false, 1},
    {"cmidrule", TableRule::partial, true, true, 1},
    {"specialrule", TableRule::full, false, false, 3},
    {"hhline", TableRule::full, false, false, 1},
    {"addlinespace", std::nullopt, true},
    {"morecmidrules", std::nullopt},
};

}  // namespace

// The rules and spaces between a table's rows leave nothing on the page;
// a rule may tell that the rows above it are the header.
std::size_t rule_command(CommandCall& call, const CommandArguments&) {
    Walk& w = call.w;
    const std::string_view t = w.text;
    const RowSeparator* separator = nullptr;
    for (const RowSeparator& s : kRowSeparators)
        if (s.name == call.name) separator = &s;
    std::size_t p = call.after;
    if (separator->width) p = skip_optional_argument(w.index, p, false);
    if (separator->trim && p < call.end && t[p] == '(') {
        const std::size_t close = t.find(')', p);
        if (close != std::string_view::npos && close < call.end) p = close + 1;
    }
    for (int i = 0; i < separator->arguments; ++i) {
        const Argument arg = read_argument(w, p, call.end);
        if (!arg.found) break;
        if (!arg.closed) return call.unclosed(call.after);
        p = arg.next;
    }
    if (call.top() && w.r.tabular.depth > 0 && separator->rule) table_rule(w, *separator->rule);
    return p;
}

}  // namespace kelvarin
