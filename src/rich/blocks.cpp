// Block constructs in rich mode: headings with their anchors, environments
// (lists, quotations, theorems, figures, tables, code, layout), items, and
// the wiki lines they make. Each is met by the walker wherever it stands in
// a line.
#include <algorithm>

#include "core/job_state.h"
#include "rich/environments.h"
#include "rich/internal.h"
#include "io/text_helpers.h"
#include "wiki/markup.h"

namespace kelvarin {

namespace {

// Bars in translated text that goes into a table row would end its cell.
std::string escape_bars(std::string_view text) { return wiki::escape_bars(text); }

OpenEnvironment environment(OpenEnvironment::Kind kind, std::string_view name, const RichState& r) {
    OpenEnvironment env;
    env.kind = kind;
    env.name = std::string(name);
    env.saved_target = r.target;
    return env;
}

OpenEnvironment* innermost(RichState& r, OpenEnvironment::Kind kind) {
    for (auto it = r.environments.rbegin(); it != r.environments.rend(); ++it)
        if (it->kind == kind) return &*it;
    return nullptr;
}

// Skips the optional arguments and `count` brace arguments of an
// environment's opening; kNoPosition when a brace does not close.
// The last brace argument read is kept in `last` when asked.
std::size_t skip_environment_arguments(Walk& w, std::size_t at, std::size_t end, int count,
                                       std::string_view* last = nullptr) {
    at = skip_optional_argument(w.index, at, false);
    for (int i = 0; i < count; ++i) {
        const Argument arg = read_argument(w, at, end);
        if (!arg.found) break;
        if (!arg.closed) return kNoPosition;
        if (last != nullptr) *last = arg.text;
        at = skip_optional_argument(w.index, arg.next, false);
    }
    return at;
}

std::size_t open_code(Walk& w, std::string_view name, std::size_t at, std::size_t end) {
    std::size_t p = skip_optional_argument(w.index, at, false);
    if (name == "minted") {
        const Argument language = read_argument(w, p, end);
        if (language.closed) p = language.next;
    }
    const std::string marker = "\\end{" + std::string(name) + "}";
    const std::string_view rest = w.text.substr(p, end - p);
    const std::size_t close = rest.find(marker);
    const std::string_view first = close == std::string_view::npos ? rest : rest.substr(0, close);
    if (name == "comment") {
        if (close == std::string_view::npos) w.r.in_comment = true;
    } else {
        flush_line(w.job, w.r);
        write_wiki_line(w.job, wiki::kCodeOpen);
        if (!trim_blanks_and_tabs(first).empty()) write_wiki_line(w.job, first);
        if (close == std::string_view::npos)
            w.r.code_end = marker;
        else
            write_wiki_line(w.job, wiki::kCodeClose);
    }
    return close == std::string_view::npos ? end : p + close + marker.size();
}

void open_list(Walk& w, std::string_view name, char marker) {
    flush_line(w.job, w.r);
    OpenEnvironment env = environment(OpenEnvironment::list, std::string(name), w.r);
    env.marker = marker;
    env.saved_target = w.r.target;
    if (env.marker == 'b')
        write_wiki_line(w.job, wiki::heading(1, w.r.outline.has_chapters ? "Bibliography" : "References"));
    if (marker == '+') w.r.numbered_lists.push_back(w.r.environments.size());
    w.r.environments.push_back(std::move(env));
    ++w.r.list_depth;
}

void open_theorem(Walk& w, std::string_view name, const TheoremKind& kind, std::string title) {
    flush_line(w.job, w.r);
    write_wiki_line(w.job, "");
    OpenEnvironment env = environment(OpenEnvironment::theorem, name, w.r);
    w.r.environments.push_back(std::move(env));
    const std::string number = kind.counter.empty() ? "" : step_theorem(w.r, kind, name);
    std::string lead = kind.printed;
    if (!number.empty()) lead += " " + number;
    if (name == "proof" && !title.empty())
        lead = title;  // "\begin{proof}[Proof of the lemma]" names itself
    else if (!title.empty())
        lead += " (" + title + ")";
    w.r.out = wiki::lead_in(lead, theorem_anchor(w.r));
}

void write_figure(JobState& job, const OpenEnvironment& figure) {
    if (figure.images.empty() && figure.captions.empty()) return;
    block_break(job, job.rich);
    std::vector<wiki::FigurePart> images;
    for (const FigureImage& image : figure.images)
        images.push_back({image.file, escape_bars(image.subcaption), image.scale});
    std::vector<std::string> captions;
    for (const std::string& caption : figure.captions) captions.push_back(escape_bars(caption));
    for (const std::string& line : wiki::figure_block(images, captions)) write_wiki_line(job, line);
    block_break(job, job.rich);
}

void close_tabular(Walk& w) {
    TabularState& t = w.r.tabular;
    if (t.depth > 1) {
        --t.depth;
        return;
    }
    finish_table_rows(w);
    t = TabularState{};
    // Rows end a table on the wiki only at an empty line; inside a table
    // environment its caption row comes first.
    if (innermost(w.r, OpenEnvironment::table) == nullptr) block_break(w.job, w.r);
}

// Closes the environment at `index` of the open ones, with all opened
// inside it and left open.
void close_environment(Walk& w, std::size_t index) {
    RichState& r = w.r;
    while (r.environments.size() > index) {
        OpenEnvironment env = std::move(r.environments.back());
        r.environments.pop_back();
        if (!r.numbered_lists.empty() && r.numbered_lists.back() == r.environments.size()) r.numbered_lists.pop_back();
        switch (env.kind) {
            case OpenEnvironment::list:
                if (env.level >= 1 && env.level <= 4)
                    r.finished_lists[env.level - 1] = {env.first + env.items - 1, env.label, env.reference};
                flush_line(w.job, r);
                if (--r.list_depth == 0) write_wiki_line(w.job, "");
                r.target = env.saved_target;
                break;
            case OpenEnvironment::quote:
                flush_line(w.job, r);
                if (!r.quote_opening_due) write_wiki_line(w.job, "");
                r.quote_opening_due = false;
                --r.quote_depth;
                break;
            case OpenEnvironment::theorem:
            case OpenEnvironment::abstract:
                flush_line(w.job, r);
                write_wiki_line(w.job, "");
                r.target = env.saved_target;
                break;
            case OpenEnvironment::figure:
                flush_line(w.job, r);
                write_figure(w.job, env);
                r.target = env.saved_target;
                break;
            case OpenEnvironment::subfigure:
                break;
            case OpenEnvironment::table:
                flush_line(w.job, r);
                for (const std::string& caption : env.captions)
                    write_wiki_line(w.job, wiki::caption_row(escape_bars(caption)));
                block_break(w.job, r);
                r.target = env.saved_target;
                break;
            case OpenEnvironment::tabular:
                close_tabular(w);
                break;
            case OpenEnvironment::layout:
                flush_line(w.job, r);
                break;
            case OpenEnvironment::paper:
                walk_expansion(w, 0, env.end_code, Place{});
                break;
        }
    }
}

}  // namespace

void close_all_environments(Walk& w) { close_environment(w, 0); }

bool in_figure(const RichState& r) {
    return std::any_of(r.environments.begin(), r.environments.end(),
                       [](const OpenEnvironment& e) { return e.kind == OpenEnvironment::figure; });
}

void write_wiki_line(JobState& job, std::string_view line) {
    // One empty line separates blocks on the wiki; more say nothing more.
    const bool empty = line.empty();
    if (empty && job.rich.after_empty_line) return;
    job.rich.after_empty_line = empty;
    ++job.rich.lines_written;
    job.rich.pass->line(job, line);
}

void write_page_line(JobState& job, std::string_view line) {
    // A line end inside a line would start a line the wiki reads on its
    // own; whatever brought one here (a value written over source lines),
    // the page shows a blank.
    if (line.find('\n') != std::string_view::npos) {
        std::string one(line);
        std::replace(one.begin(), one.end(), '\n', ' ');
        write_line(job.wiki, one);
        return;
    }
    write_line(job.wiki, line);
}

void flush_line(JobState& job, RichState& r) {
    const std::string_view line = trim_blanks_and_tabs(r.out);
    if (!line.empty()) {
        if (r.quote_opening_due) {
            write_wiki_line(job, "");
            write_wiki_line(job, wiki::quotation(r.quote_depth));
            r.quote_opening_due = false;
        }
        // The text after the line's own mark-up must not read as more of it.
        const std::size_t markup = r.out.empty() || r.out.front() == ' ' ? 0 : r.out_markup;
        // The line is made in place: r.out is emptied after it.
        const std::size_t lead = static_cast<std::size_t>(line.data() - r.out.data());
        r.out.resize(lead + line.size());
        r.out.erase(0, lead);
        wiki::escape_line_start_in_place(r.out, markup);
        write_wiki_line(job, r.out);
    }
    r.out.clear();
    r.out_markup = 0;
    r.out_continues = false;
}

void flush_before_block(JobState& job, RichState& r) {
    // An item whose line holds only its marker is no item on the wiki: the
    // block would go on in the item before.
    if (r.out_continues && r.out_markup > 0 && trim_blanks_and_tabs(r.out).size() == r.out_markup) {
        r.out.resize(r.out_markup);
        r.out.append(wiki::kLineBreak);
    }
    flush_line(job, r);
}

void block_break(JobState& job, RichState& r) {
    if (r.list_depth == 0) write_wiki_line(job, "");
}

void paragraph_break(JobState& job, RichState& r) {
    flush_line(job, r);
    // Inside a list or a table an empty line would end it on the wiki.
    if (r.list_depth == 0 && r.tabular.depth == 0) write_wiki_line(job, "");
}

namespace {

// What opens each kind of environment. Each returns the position after its
// opening, or kNoPosition when an argument of it does not close on the line.
struct Opening {
    Walk& w;
    const std::string& name;
    const EnvironmentEntry& entry;
    std::size_t p;    // after "\begin{name}"
    std::size_t end;
    Place place;
};

std::size_t open_display(const Opening& o) {
    std::string_view argument;
    std::size_t p = o.p;
    if (o.entry.arguments > 0) {  // alignat's column count
        const Argument columns = read_argument(o.w, p, o.end);
        if (columns.closed) {
            argument = columns.text;
            p = columns.next;
        }
    }
    return display_formula(o.w, o.name, argument, p, o.end,
                           o.place.top() ? Place{} : Place{o.place.context, &line_sink(o.w.r)});
}

std::size_t open_list_environment(const Opening& o) {
    const std::size_t p = skip_environment_arguments(o.w, o.p, o.end, o.entry.arguments);
    if (p == kNoPosition) return kNoPosition;
    // "[(i)]", "[label=\alph*)]": the list's own labels.
    const std::size_t options_end = skip_optional_argument(o.w.index, o.p, false);
    const std::string_view options =
        options_end == o.p ? std::string_view() : o.w.text.substr(o.p + 1, options_end - o.p - 2);
    open_list(o.w, o.name, o.entry.marker);
    RichState& r = o.w.r;
    if (o.entry.marker == '+')
        read_list_style(r, r.environments.back(), options, static_cast<int>(r.numbered_lists.size()));
    return p;
}

std::size_t open_quote(const Opening& o) {
    RichState& r = o.w.r;
    flush_line(o.w.job, r);
    r.environments.push_back(environment(OpenEnvironment::quote, o.name, r));
    ++r.quote_depth;
    r.quote_opening_due = true;
    return o.p;
}

std::size_t open_abstract(const Opening& o) {
    RichState& r = o.w.r;
    flush_line(o.w.job, r);
    write_wiki_line(o.w.job, "");
    r.environments.push_back(environment(OpenEnvironment::abstract, o.name, r));
    r.out = wiki::lead_in("Abstract");
    return o.p;
}

// Figures, tables and layout: the arguments of the opening go, and the
// environment is remembered until its end.
std::size_t open_container(const Opening& o, OpenEnvironment::Kind kind) {
    RichState& r = o.w.r;
    const std::size_t p = skip_environment_arguments(o.w, o.p, o.end, o.entry.arguments);
    if (p == kNoPosition) return kNoPosition;
    if (kind == OpenEnvironment::figure || kind == OpenEnvironment::table)
        flush_before_block(o.w.job, r);
    else if (o.place.top())
        flush_line(o.w.job, r);
    if (kind == OpenEnvironment::table) block_break(o.w.job, r);
    r.environments.push_back(environment(kind, o.name, r));
    return p;
}

std::size_t open_subfigure(const Opening& o) {
    const std::size_t p = skip_environment_arguments(o.w, o.p, o.end, o.entry.arguments);
    if (p == kNoPosition) return kNoPosition;
    o.w.r.environments.push_back(environment(OpenEnvironment::subfigure, o.name, o.w.r));
    return p;
}

std::size_t open_tabular(const Opening& o) {
    RichState& r = o.w.r;
    std::string_view columns;  // the column entry, the last argument
    const std::size_t p = skip_environment_arguments(o.w, o.p, o.end, o.entry.arguments, &columns);
    if (p == kNoPosition) return kNoPosition;
    flush_before_block(o.w.job, r);
    if (r.tabular.depth == 0 && innermost(r, OpenEnvironment::table) == nullptr) block_break(o.w.job, r);
    if (r.tabular.depth == 0)
        start_table_rows(r, columns);
    else
        ++r.tabular.depth;
    r.environments.push_back(environment(OpenEnvironment::tabular, o.name, r));
    return p;
}

}  // namespace

// An environment the paper defines: its begin code walked where it opens,
// its end code where it closes. One that opens a display formula ("\begin{align}"
// inside) hands its end to the display, which then ends at "\end{name}".
static std::size_t open_paper_environment(const Opening& o, const PaperEnvironment& e) {
    Walk& w = o.w;
    RichState& r = w.r;
    std::vector<std::string_view> arguments;
    const std::size_t p = read_macro_arguments(w, o.p, o.end, e.parameters, e.optional, arguments);
    if (p == kNoPosition) return w.final || !o.place.top() ? o.p : kNoPosition;
    std::string begin;
    if (r.vocabulary.depth >= kDeepestExpansion || !substitute(e.begin, arguments, r.vocabulary.budget, begin))
        return p;
    r.vocabulary.budget -= begin.size();
    const bool display_before = r.display.open;
    walk_expansion(w, o.p, begin, o.place);
    if (!display_before && r.display.open) {
        r.display.end_marker = "\\end{" + o.name + "}";
        return p;
    }
    OpenEnvironment env = environment(OpenEnvironment::paper, o.name, r);
    env.end_code = e.end;
    r.environments.push_back(std::move(env));
    return p;
}

std::size_t begin_environment(Walk& w, std::size_t at, std::size_t end, Place place) {
    const Argument arg = read_argument(w, at, end);
    if (!arg.found) return at;
    if (!arg.closed) return kNoPosition;
    const std::string name(trim_blanks_and_tabs(arg.text));
    const EnvironmentEntry& entry = environment_entry(name);
    const Opening o{w, name, entry, arg.next, end, place};
    switch (entry.kind) {
        case EnvironmentKind::document: return o.p;
        case EnvironmentKind::code: return open_code(w, name, o.p, end);
        case EnvironmentKind::display: return open_display(o);
        case EnvironmentKind::list: return open_list_environment(o);
        case EnvironmentKind::quote: return open_quote(o);
        case EnvironmentKind::abstract: return open_abstract(o);
        default: break;
    }
    // The paper's own theorem kinds come before the other environments.
    if (const TheoremKind* kind = theorem_kind(w.r, name)) {
        std::string title;
        const std::size_t q = translate_optional_argument(w, o.p, true, title, o.place.context);
        open_theorem(w, name, *kind, std::move(title));
        return q;
    }
    switch (entry.kind) {
        case EnvironmentKind::figure: return open_container(o, OpenEnvironment::figure);
        case EnvironmentKind::subfigure: return open_subfigure(o);
        case EnvironmentKind::table: return open_container(o, OpenEnvironment::table);
        case EnvironmentKind::tabular: return open_tabular(o);
        default: break;
    }
    if (const auto own = w.r.vocabulary.environments.find(name); own != w.r.vocabulary.environments.end())
        return open_paper_environment(o, own->second);
    // Layout and environments kelvarin does not know: their content stays,
    // the environment itself goes.
    return open_container(o, OpenEnvironment::layout);
}

std::size_t end_environment(Walk& w, std::size_t at, std::size_t end, bool top) {
    const Argument arg = read_argument(w, at, end);
    if (!arg.found) return at;
    if (!arg.closed) return kNoPosition;
    const std::string_view name = trim_blanks_and_tabs(arg.text);
    RichState& r = w.r;
    for (std::size_t i = r.environments.size(); i-- > 0;) {
        if (r.environments[i].name == name) {
            close_environment(w, i);
            return arg.next;
        }
    }
    // A stray end, or one of an environment that was never opened as such.
    if (top && !r.out_continues) flush_line(w.job, r);
    return arg.next;
}

std::size_t start_item(Walk& w, std::size_t at, std::size_t end) {
    RichState& r = w.r;
    OpenEnvironment* list = innermost(r, OpenEnvironment::list);
    std::string label;
    const std::size_t q = translate_optional_argument(w, at, true, label, Context::line);
    (void)end;  // an item's text runs on to the next block construct
    flush_line(w.job, r);
    const std::size_t text = skip_blanks(w.text, q);
    if (list == nullptr) {
        // An item outside a list: its text stays, as a line of its own.
        r.out = label.empty() ? "" : label + " ";
        return text;
    }
    if (!list->label.empty()) {
        // The list's own labels: the label as text after an unnumbered
        // marker, so that the reader sees what the paper prints.
        const bool numbered_item = label.empty();  // "\item[x]" takes no number
        if (numbered_item) {
            const std::int64_t n = list->first + list->items;
            label = translate_text(w.job, r, item_label_source(r, list->label, n, list->level));
            list->item_reference =
                translate_text(w.job, r, item_label_source(r, list->reference, n, list->level), nullptr,
                               Context::plain);
            step_item(r, *list);
        }
        r.out = wiki::item_marker(false, r.list_depth);
        r.out_markup = r.out.size();
        if (!label.empty()) r.out += label + " ";
        r.out_continues = true;
        return text;
    }
    step_item(r, *list);
    if (list->marker == ':') {
        r.out = wiki::description_item(escape_bars(label));
        r.out_markup = r.out.size();
    } else {
        r.out = wiki::item_marker(list->marker == '+', r.list_depth);
        r.out_markup = r.out.size();
        if (!label.empty()) r.out += label + " ";
    }
    r.out_continues = true;
    return text;
}

std::size_t heading(Walk& w, std::string_view command, std::size_t at, std::size_t end) {
    RichState& r = w.r;
    std::size_t p = at;
    const bool starred = p < end && w.text[p] == '*';
    if (starred) ++p;
    p = skip_optional_argument(w.index, p, false);
    const Argument arg = read_argument(w, p, end);
    if (!arg.found) return p;
    if (!arg.closed) return kNoPosition;
    const std::string title(trim_blanks_and_tabs(translate_argument(w, arg, Context::line)));
    flush_line(w.job, r);
    if (command == "paragraph" || command == "subparagraph") {
        write_wiki_line(w.job, wiki::escape_line_start(wiki::run_in_title(title), 1));
        return arg.next;
    }
    const int level = command == "part" ? -1 : command == "chapter" ? 0 : command == "section" ? 1
                      : command == "subsection" ? 2 : 3;
    r.pass->heading(w, level, !starred, arg, title);
    return arg.next;
}

void learn_heading(Walk& w, int level, bool numbered, const Argument& arg, const std::string&) {
    RichState& r = w.r;
    if (level == 0) r.outline.has_chapters = true;
    const std::string plain(trim_blanks_and_tabs(translate_argument(w, arg, Context::plain)));
    step_heading(r, level, numbered, plain);
}

void write_heading(Walk& w, int level, bool numbered, const Argument&, const std::string& title) {
    RichState& r = w.r;
    const std::string number = step_heading(r, level, numbered, "");
    const int depth = std::clamp(r.outline.has_chapters ? level + 1 : std::max(level, 1), 1, 3);
    const std::string shown = number.empty() ? title : number + " " + title;
    const std::string line = wiki::heading(depth, shown, heading_anchor(r, r.target.ordinal));
    write_wiki_line(w.job, wiki::escape_line_start(line, static_cast<std::size_t>(depth)));
}

void write_title_block(Walk& w) {
    RichState& r = w.r;
    flush_line(w.job, r);
    // Copies: a \title inside the title would replace the text being read.
    const std::string title = r.title, author = r.author, date_text = r.date;
    const auto translate = [&](const std::string& source) { return translate_text(w.job, r, source); };
    if (!trim_blanks_and_tabs(title).empty())
        write_wiki_line(w.job, wiki::escape_line_start(wiki::heading(1, translate(title)), 1));
    std::string line;
    std::size_t start = 0;
    while (start <= author.size() && !trim_blanks_and_tabs(author).empty()) {
        std::size_t cut = author.find("\\and", start);
        while (cut != std::string::npos && cut + 4 < author.size() &&
               std::isalpha(static_cast<unsigned char>(author[cut + 4])))
            cut = author.find("\\and", cut + 4);
        const std::string part = translate(author.substr(start, cut == std::string::npos ? std::string::npos : cut - start));
        if (!part.empty()) line += (line.empty() ? "" : ", ") + part;
        if (cut == std::string::npos) break;
        start = cut + 4;
    }
    const std::string date = translate(date_text);
    if (!date.empty()) line += (line.empty() ? "" : ", ") + date;
    if (!line.empty()) write_wiki_line(w.job, wiki::escape_line_start(line));
    if (!trim_blanks_and_tabs(title).empty() || !line.empty()) write_wiki_line(w.job, "");
}

void write_contents(Walk& w) {
    flush_line(w.job, w.r);
    write_wiki_line(w.job, wiki::kContents);
}

std::size_t figure_images(RichState& r) {
    const OpenEnvironment* figure = innermost(r, OpenEnvironment::figure);
    return figure == nullptr ? 0 : figure->images.size();
}

void add_image(Walk& w, std::string file, std::string scale) {
    innermost(w.r, OpenEnvironment::figure)->images.push_back({std::move(file), "", std::move(scale)});
}

void set_subcaption(Walk& w, std::string text) {
    innermost(w.r, OpenEnvironment::figure)->images.back().subcaption = std::move(text);
}

namespace {

// The environment a caption here belongs to: a subfigure with an image
// (its part's caption), a figure or a table; null outside them.
OpenEnvironment* caption_owner(RichState& r) {
    for (auto it = r.environments.rbegin(); it != r.environments.rend(); ++it) {
        if (it->kind == OpenEnvironment::subfigure && figure_images(r) > 0) return &*it;
        if (it->kind == OpenEnvironment::figure || it->kind == OpenEnvironment::table) return &*it;
    }
    return nullptr;
}

}  // namespace

std::string caption_lead(RichState& r, bool numbered) {
    const OpenEnvironment* owner = caption_owner(r);
    if (owner == nullptr || !numbered) return "";
    if (owner->kind == OpenEnvironment::figure) return "Figure " + step_figure(r) + ": ";
    if (owner->kind == OpenEnvironment::table) return "Table " + step_table(r) + ": ";
    return "";
}

void set_caption(Walk& w, std::string text) {
    RichState& r = w.r;
    OpenEnvironment* owner = caption_owner(r);
    if (owner == nullptr)
        line_sink(r).append(text);
    else if (owner->kind == OpenEnvironment::subfigure)
        set_subcaption(w, std::move(text));
    else
        owner->captions.push_back(std::move(text));
}

}  // namespace kelvarin
