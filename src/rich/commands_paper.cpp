// The paper's own vocabulary at work: its definitions recorded as they are
// met (\newcommand and its kin, \def, \let, \newenvironment, \newif,
// counters), its macros expanded where text uses them, its flags deciding
// its conditionals. See macros.h for what is kept.
#include <algorithm>

#include "core/job_state.h"
#include "io/text_helpers.h"
#include "rich/commands.h"
#include "rich/macros.h"

namespace kelvarin {

namespace {

// "{\name}" or "\name" at `at` (blanks before it skipped): the name and the
// position after it; false when neither stands there.
bool read_defined_name(Walk& w, std::size_t& at, std::size_t end, std::string& name) {
    std::size_t p = skip_blanks(w.text, at);
    bool braced = false;
    if (p < end && w.text[p] == '{') {
        braced = true;
        p = skip_blanks(w.text, p + 1);
    }
    if (p >= end || w.text[p] != '\\') return false;
    const std::size_t length = std::max<std::size_t>(command_name_length(w.text, p), 1);
    if (p + 1 + length > end) return false;
    name = std::string(w.text.substr(p + 1, length));
    p += 1 + length;
    if (braced) {
        p = skip_blanks(w.text, p);
        if (p >= end || w.text[p] != '}') return false;
        ++p;
    }
    at = p;
    return true;
}

// "[2]" or "[2][default]" after a defined name: the count of parameters and
// the default of the optional first one.
std::size_t read_parameters(Walk& w, std::size_t at, int& count, std::optional<std::string>& optional) {
    std::size_t next = skip_optional_argument(w.index, at, true);
    if (next == at) return at;
    const std::size_t open = skip_blanks(w.text, at);
    const std::string_view digits = trim_blanks_and_tabs(w.text.substr(open + 1, next - open - 2));
    count = digits.size() == 1 && digits[0] >= '1' && digits[0] <= '9' ? digits[0] - '0' : 0;
    const std::size_t after = skip_optional_argument(w.index, next, true);
    if (after != next) {
        const std::size_t o = skip_blanks(w.text, next);
        optional = std::string(w.text.substr(o + 1, after - o - 2));
        next = after;
    }
    return next;
}

// A definition made in the body also holds for the formulas after it, which
// latex typesets from the equation document: it goes there as written.
void keep_for_formulas(CommandCall& call, std::size_t next) {
    if (!call.w.job.in_document || next == kNoPosition) return;
    call.w.r.vocabulary.body_definitions.emplace_back(call.w.text.substr(call.at, next - call.at));
}

// Whether a body can be expanded in text: one that works with LaTeX's
// internals ("\@ifstar", "\z@") would come out as garbage.
bool expandable_body(std::string_view body) { return body.find('@') == std::string_view::npos; }

// One argument of a macro call: a brace group, or one token. Returns the
// position after it; kNoPosition when a group does not close, `at` when the
// text ends first.
std::size_t read_call_argument(Walk& w, std::size_t at, std::size_t end, std::string_view& argument) {
    const std::size_t p = skip_blanks(w.text, at);
    if (p >= end) return at;
    if (w.text[p] == '{') {
        const std::size_t close = group_close(w.index, p);
        if (close == kNoPosition || close >= end) return kNoPosition;
        argument = w.text.substr(p + 1, close - p - 1);
        return close + 1;
    }
    std::size_t length = 1;
    if (w.text[p] == '\\') length = 1 + std::max<std::size_t>(command_name_length(w.text, p), 1);
    length = std::min(length, end - p);
    argument = w.text.substr(p, length);
    return p + length;
}

// Names the macro once, on standard error, as expanding without end.
void name_once(CommandCall& call, std::string_view outcome = "left as written") {
    PaperVocabulary& v = call.w.r.vocabulary;
    if (v.reported.insert(std::string(call.name)).second && call.w.r.pass->keeps_text)
        v.warnings.push_back(std::to_string(row_of(call.w, call.at)) + ": \\" + std::string(call.name) +
                             " expands without end; " + std::string(outcome));
}

// Names the macro once as expanding without end, and keeps the call as
// written. Inside another expansion, the outermost one is undone instead.
std::size_t left_as_written(CommandCall& call, std::size_t next) {
    PaperVocabulary& v = call.w.r.vocabulary;
    if (v.depth > 0) {
        v.overflow = true;
        return call.end;
    }
    name_once(call);
    append_source_text(call.w, call.sink, call.w.text.substr(call.at, next - call.at));
    return next;
}

// Whether the body ends with a command word, which takes its arguments from
// the text after the call ("\let\a\textbf" used as "\a{x}").
bool ends_with_command(std::string_view body) {
    body = trim_blanks_and_tabs(body);
    std::size_t p = body.size();
    while (p > 0 && is_letter(body[p - 1])) --p;
    return p < body.size() && p > 0 && body[p - 1] == '\\';
}

}  // namespace

void walk_expansion(Walk& w, std::size_t at, const std::string& text, Place place) {
    LatexIndex index;
    Walk sub(w.job, w.r, index);
    sub.text = text;
    index_latex(text, index);
    // Formulas in the expansion stand where the call stands.
    const std::vector<RowStart> rows{{-column_of(w, at), row_of(w, at)}};
    sub.rows = &rows;
    sub.final = true;
    sub.nesting = w.nesting;
    sub.declarations_only = w.declarations_only;
    ++w.r.vocabulary.depth;
    if (w.declarations_only)
        read_declarations(sub);
    else
        walk(sub, 0, text.size(), place);
    --w.r.vocabulary.depth;
}

std::size_t read_macro_arguments(Walk& w, std::size_t at, std::size_t end, int parameters,
                                 const std::optional<std::string>& optional, std::vector<std::string_view>& arguments) {
    std::size_t p = at;
    int mandatory = parameters;
    if (optional) {
        --mandatory;
        const std::size_t next = skip_optional_argument(w.index, p, true);
        if (next != p) {
            const std::size_t open = skip_blanks(w.text, p);
            arguments.push_back(w.text.substr(open + 1, next - open - 2));
            p = next;
        } else {
            arguments.push_back(*optional);
        }
    }
    for (int k = 0; k < mandatory; ++k) {
        std::string_view argument;
        const std::size_t next = read_call_argument(w, p, end, argument);
        if (next == kNoPosition || next == p) return kNoPosition;
        arguments.push_back(argument);
        p = next;
    }
    return p;
}

namespace {

// A delimited argument is looked for this far at most, so that a line of
// calls whose delimiter never comes costs time in proportion to its size.
constexpr std::size_t kLongestDelimitedArgument = 1024;

// Where `delimiter` next stands outside any group at or after `at`, before
// `end`; kNoPosition when it does not. A control word must end there.
std::size_t find_delimiter(std::string_view text, std::size_t at, std::size_t end, std::string_view delimiter) {
    end = std::min(end, at + kLongestDelimitedArgument + delimiter.size());
    const bool word = delimiter.size() > 1 && delimiter[0] == '\\' && is_letter(delimiter.back());
    int depth = 0;
    for (std::size_t j = at; j < end; ++j) {
        if (depth == 0 && text.compare(j, delimiter.size(), delimiter) == 0 && j + delimiter.size() <= end &&
            !(word && j + delimiter.size() < end && is_letter(text[j + delimiter.size()])))
            return j;
        const char c = text[j];
        if (c == '\\') {
            j += std::max<std::size_t>(command_name_length(text, j), 1);
        } else if (c == '{') {
            ++depth;
        } else if (c == '}' && --depth < 0) {
            return kNoPosition;
        }
    }
    return kNoPosition;
}

// The arguments of a call to a macro with delimited parameters, as TeX
// reads them: each runs to its delimiter at the outer level, and one that
// is a single group loses its braces. kNoPosition when the call's text
// does not match.
std::size_t read_delimited_arguments(Walk& w, std::size_t at, std::size_t end, const Macro& m,
                                     std::vector<std::string_view>& arguments) {
    const std::string_view text = w.text;
    const std::string& prefix = m.delimiters[0];
    if (text.compare(at, prefix.size(), prefix) != 0 || at + prefix.size() > end) return kNoPosition;
    std::size_t p = at + prefix.size();
    for (int k = 1; k <= m.parameters; ++k) {
        const std::string& delimiter = m.delimiters[static_cast<std::size_t>(k)];
        if (delimiter.empty()) {
            std::string_view argument;
            const std::size_t next = read_call_argument(w, p, end, argument);
            if (next == kNoPosition || next == p) return kNoPosition;
            arguments.push_back(argument);
            p = next;
            continue;
        }
        const std::size_t stop = find_delimiter(text, p, end, delimiter);
        if (stop == kNoPosition) return kNoPosition;
        std::string_view argument = text.substr(p, stop - p);
        if (argument.size() >= 2 && argument.front() == '{' && group_close(w.index, p) == stop - 1)
            argument = argument.substr(1, argument.size() - 2);
        arguments.push_back(argument);
        p = stop + delimiter.size();
    }
    return p;
}

}  // namespace

std::size_t expand_macro(CommandCall& call, const Macro& m) {
    Walk& w = call.w;
    PaperVocabulary& v = w.r.vocabulary;
    std::vector<std::string_view> arguments;
    std::size_t p = m.delimiters.empty()
                        ? read_macro_arguments(w, call.after, call.end, m.parameters, m.optional, arguments)
                        : read_delimited_arguments(w, is_letter(call.name[0]) ? skip_blanks(w.text, call.after)
                                                                              : call.after,
                                                   call.end, m, arguments);
    // A call whose text does not match its delimited parameters is left as
    // written: LaTeX would stop with an error there.
    if (p == kNoPosition && !m.delimiters.empty()) return call.as_written();
    if (p == kNoPosition) return call.may_carry ? kNoPosition : call.as_written();
    // As in TeX, the blanks after a command word without arguments belong to it.
    if (m.parameters == 0 && is_letter(call.name[0])) p = skip_blanks(w.text, p);
    if (v.overflow) return call.end;  // unwinding to the outermost expansion
    // A macro that went past a bound once goes past it again: no second try.
    if (v.reported.count(std::string(call.name))) return left_as_written(call, p);
    if (w.declarations_only && is_math_body(m.body)) return p;
    std::string expanded;
    if (is_math_body(m.body)) {
        // The image holds the call as written, latex knowing the definition;
        // a body that is one "$...$" gives its formula, since "$" cannot
        // stand inside the display the image is set in.
        std::string_view formula = w.text.substr(call.at, p - call.at);
        const std::string_view body = trim_blanks_and_tabs(m.body);
        if (!body.empty() && body.front() == '$' && substitute(body, arguments, v.budget, expanded)) {
            formula = trim_blanks_and_tabs(expanded);
            formula = formula.substr(1, formula.size() - 2);
        }
        inline_formula(w, call.context(), formula, call.at, p - 1, call.sink);
        return p;
    }
    if (v.depth >= kDeepestExpansion || !substitute(m.body, arguments, v.budget, expanded))
        return left_as_written(call, p);
    if (ends_with_command(expanded)) {
        // The command word ends where the call's text goes on: a blank ends
        // it, or for "\xspace", which looks at what follows, an empty group.
        const std::string_view body = trim_blanks_and_tabs(expanded);
        const bool xspace = body.size() >= 7 && body.substr(body.size() - 7) == "\\xspace";
        expanded.append(xspace ? "{}" : " ");
        expanded.append(w.text.substr(p, call.end - p));
        p = call.end;
    }
    if (expanded.size() > v.budget) return left_as_written(call, p);
    v.budget -= expanded.size();
    std::string& sink = call.sink;
    const std::size_t kept = sink.size();
    const std::int64_t lines = w.r.lines_written, formulas = registry_size(w.job.registry);
    walk_expansion(w, call.at, expanded, call.place);
    if (v.overflow && v.depth == 0) {
        v.overflow = false;
        // The text the expansion made is taken back, unless it wrote a line
        // or registered a formula, which cannot be taken back: then what it
        // made stays, and the macro is still named.
        const bool undoable = lines == w.r.lines_written && formulas == registry_size(w.job.registry);
        if (!undoable) {
            name_once(call, "cut short");
            return p;
        }
        if (&sink_of(w, call.place) == &sink && sink.size() >= kept) sink.resize(kept);
        return left_as_written(call, p);
    }
    return p;
}

// "\newcommand{\x}[1][d]{...}", "\renewcommand", "\providecommand",
// "\DeclareRobustCommand", "\DeclareMathOperator{\op}{...}".
std::size_t definition_command(CommandCall& call, const CommandArguments& a) {
    Walk& w = call.w;
    std::size_t p = a.next;
    std::string name;
    if (!read_defined_name(w, p, call.end, name)) return call.unclosed(a.next);
    Macro m;
    p = read_parameters(w, p, m.parameters, m.optional);
    const Argument body = read_argument(w, p, call.end);
    if (!body.found) return p;
    if (!body.closed) return call.unclosed(a.next);
    keep_for_formulas(call, body.next);
    if (call.name == "DeclareMathOperator") return body.next;  // formulas only
    PaperVocabulary& v = w.r.vocabulary;
    if (call.name == "providecommand" && v.macros.count(name)) return body.next;
    m.body = std::string(body.text);
    m.expandable = expandable_body(m.body) && find_command(name) == nullptr;
    v.macros[name] = std::move(m);
    return body.next;
}

// "\newenvironment{name}[1][d]{begin}{end}".
std::size_t environment_definition_command(CommandCall& call, const CommandArguments& a) {
    Walk& w = call.w;
    const Argument name = read_argument(w, a.next, call.end);
    if (!name.found) return a.next;
    if (!name.closed) return call.unclosed(a.next);
    PaperEnvironment e;
    std::size_t p = read_parameters(w, name.next, e.parameters, e.optional);
    const Argument begin = read_argument(w, p, call.end);
    if (!begin.found) return p;
    if (!begin.closed) return call.unclosed(a.next);
    const Argument end = read_argument(w, begin.next, call.end);
    if (!end.found) return begin.next;
    if (!end.closed) return call.unclosed(a.next);
    keep_for_formulas(call, end.next);
    e.begin = std::string(begin.text);
    e.end = std::string(end.text);
    if (expandable_body(e.begin) && expandable_body(e.end))
        w.r.vocabulary.environments[std::string(trim_blanks_and_tabs(name.text))] = std::move(e);
    return end.next;
}

// "\def\x#1#2{...}", and "\def\x(#1,#2){...}" with delimited parameters,
// whose calls are read as TeX reads them. \edef's body is expanded when it
// is used rather than when defined, the same unless what it names is
// redefined in between; one that works with expansion order itself
// (\noexpand, \expandafter, \the, \csname) is left as written where used.
// Anything else between the name and the body is no definition.
std::size_t def_command(CommandCall& call, const CommandArguments&) {
    Walk& w = call.w;
    std::size_t p = skip_blanks(w.text, call.after);
    if (p >= call.end || w.text[p] != '\\') return call.after;
    const std::size_t length = std::max<std::size_t>(command_name_length(w.text, p), 1);
    const std::string name(w.text.substr(p + 1, length));
    p += 1 + length;
    // Blanks after a control word are no tokens, in the definition and in
    // its calls alike.
    if (is_letter(name[0])) p = skip_blanks(w.text, p);
    Macro m;
    bool delimited = false;
    m.delimiters.emplace_back();
    while (p < call.end && w.text[p] != '{') {
        const char c = w.text[p];
        if (c == '}' || c == '%') return call.after;
        if (c == '#' && p + 1 < call.end && w.text[p + 1] == '1' + m.parameters) {
            ++m.parameters;
            m.delimiters.emplace_back();
            p += 2;
            continue;
        }
        if (c == '#') return call.after;  // "#2" before "#1", or "#{": no definition kelvarin reads
        delimited = true;
        const std::size_t token = c == '\\' ? 1 + std::max<std::size_t>(command_name_length(w.text, p), 1) : 1;
        m.delimiters.back().append(w.text.substr(p, token));
        p += token;
        if (token > 2) p = skip_blanks(w.text, p);
    }
    if (!delimited) m.delimiters.clear();
    if (p >= call.end) return call.unclosed(call.after);
    const std::size_t close = group_close(w.index, p);
    if (close == kNoPosition || close >= call.end) return call.unclosed(call.after);
    keep_for_formulas(call, close + 1);
    m.body = std::string(w.text.substr(p + 1, close - p - 1));
    static constexpr std::string_view kExpansionOrder[] = {"\\noexpand", "\\expandafter", "\\the", "\\csname",
                                                           "\\unexpanded"};
    const bool edef = call.name == "edef" || call.name == "xdef";
    const bool ordered = edef && std::any_of(std::begin(kExpansionOrder), std::end(kExpansionOrder),
                                             [&](std::string_view word) {
                                                 return m.body.find(word) != std::string::npos;
                                             });
    m.expandable = expandable_body(m.body) && find_command(name) == nullptr && !ordered;
    w.r.vocabulary.macros[name] = std::move(m);
    return close + 1;
}

// "\let\a\b" or "\let\a = b": \a takes \b's meaning as it is now.
std::size_t let_command(CommandCall& call, const CommandArguments&) {
    Walk& w = call.w;
    std::size_t p = skip_blanks(w.text, call.after);
    if (p >= call.end) return call.unclosed(call.end);
    const bool named = w.text[p] == '\\';
    const std::size_t length = named ? std::max<std::size_t>(command_name_length(w.text, p), 1) : 0;
    const std::string name(named ? w.text.substr(p + 1, length) : "");
    p += named ? 1 + length : 1;
    p = skip_blanks(w.text, p);
    if (p < call.end && w.text[p] == '=') p = skip_blanks(w.text, p + 1);
    if (p >= call.end) return call.unclosed(call.end);
    const std::size_t target_length =
        w.text[p] == '\\' ? 1 + std::max<std::size_t>(command_name_length(w.text, p), 1) : 1;
    const std::string_view target = w.text.substr(p, std::min(target_length, call.end - p));
    p += target.size();
    keep_for_formulas(call, p);
    if (name.empty() || find_command(name) != nullptr) return p;
    PaperVocabulary& v = w.r.vocabulary;
    const auto known = target.size() > 1 ? v.macros.find(std::string(target.substr(1))) : v.macros.end();
    if (known != v.macros.end()) {
        v.macros[name] = known->second;
    } else {
        Macro alias;
        alias.body = std::string(target);
        alias.expandable = target != "\\relax" && expandable_body(alias.body);
        v.macros[name] = alias;
    }
    return p;
}

// "\newif\iffoo": the flag "foo", false until "\footrue".
std::size_t newif_command(CommandCall& call, const CommandArguments&) {
    Walk& w = call.w;
    const std::size_t p = skip_blanks(w.text, call.after);
    if (p >= call.end || w.text[p] != '\\') return call.after;
    const std::size_t length = command_name_length(w.text, p);
    const std::string_view name = w.text.substr(p + 1, length);
    if (name.size() > 2 && name.substr(0, 2) == "if") w.r.vocabulary.flags[std::string(name.substr(2))] = false;
    return p + 1 + length;
}

// "\setcounter{chapter}{-1}", "\addtocounter{figure}{2}", "\stepcounter{lemma}"
// on the counters rich mode numbers with.
std::size_t counter_command(CommandCall& call, const CommandArguments& a) {
    if (const std::size_t stop = stop_at(call, a); stop != kNoStop) return stop;
    const std::string name(trim_blanks_and_tabs(a[0].text));
    std::int64_t value = 1;
    if (call.name != "stepcounter" && call.name != "refstepcounter") {
        const std::string number(trim_blanks_and_tabs(a[1].text));
        char* end = nullptr;
        value = std::strtoll(number.c_str(), &end, 10);
        if (number.empty() || end == nullptr || *end != '\0') return a.next;  // \value{...} and the like
    }
    Counters& c = call.w.r.counters;
    static const char* const kSectioning[] = {"chapter", "section", "subsection", "subsubsection"};
    std::int64_t* counter = nullptr;
    for (int level = 0; level < 4; ++level)
        if (name == kSectioning[level]) counter = &c.sectioning[level];
    if (name == "equation") counter = &c.equation;
    if (name == "figure") counter = &c.figure;
    if (name == "table") counter = &c.table;
    if (name == "footnote") counter = &c.footnote;
    if (name == "secnumdepth") {
        if (c.secnumdepth == Counters::kUnset) c.secnumdepth = default_secnumdepth(call.w.r);
        counter = &c.secnumdepth;
    }
    if (counter == nullptr && c.theorem.count(name)) counter = &c.theorem[name];
    if (counter == nullptr) return a.next;
    *counter = call.name == "setcounter" ? value : *counter + value;
    return a.next;
}

// "\footrue", "\foofalse" for a flag of \newif.
bool set_flag(CommandCall& call) {
    bool value = false;
    bool* flag = flag_set_by(call.w.r.vocabulary, call.name, value);
    if (flag == nullptr) return false;
    *flag = value;
    return true;
}

}  // namespace kelvarin
