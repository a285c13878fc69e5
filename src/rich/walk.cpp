// The rich-mode walker: one left-to-right pass over a logical line that
// writes its text as wiki text and hands every block construct (headings,
// environments, items, display formulas, table cells) to the code that
// knows it. Inline commands are translated here.
#include <algorithm>
#include <array>
#include <cstdlib>
#include <unordered_map>

#include "core/job_state.h"
#include "rich/latex_characters.h"
#include "rich/internal.h"
#include "io/text_helpers.h"
#include "wiki/markup.h"

namespace kelvarin {

namespace {

// Groups nested deeper than this are copied as they stand: a line of a
// million "{" must not cost a million stack frames.
constexpr int kDeepestNesting = 64;

enum class Act : std::uint8_t {
    heading, begin, end, item, label, reference, hyperref, cite, nocite, footnote, url, href,
    italic, bold, underline, strike, plain, text_last, switch_bold, switch_italic, switch_plain,
    drop, definition, environment_definition, def, let, space, line_break, paragraph,
    includegraphics, caption, subfloat, multicolumn, multirow, verb, mintinline, maketitle,
    contents, bibitem, newblock, rule, title, author, date, newtheorem, numberwithin, appendix,
    ensuremath, dimension, nothing
};

struct Command {
    Act act;
    int arguments = 0;  // drop, text_last: brace arguments before the text
};

const std::unordered_map<std::string_view, Command>& commands() {
    static const std::unordered_map<std::string_view, Command> table = {
        {"part", {Act::heading}}, {"chapter", {Act::heading}}, {"section", {Act::heading}},
        {"subsection", {Act::heading}}, {"subsubsection", {Act::heading}},
        {"paragraph", {Act::heading}}, {"subparagraph", {Act::heading}},
        {"begin", {Act::begin}}, {"end", {Act::end}}, {"item", {Act::item}},
        {"label", {Act::label}},
        {"ref", {Act::reference}}, {"pageref", {Act::reference}}, {"eqref", {Act::reference}},
        {"cref", {Act::reference}}, {"Cref", {Act::reference}}, {"autoref", {Act::reference}},
        {"nameref", {Act::reference}}, {"vref", {Act::reference}}, {"cpageref", {Act::reference}},
        {"hyperref", {Act::hyperref}},
        {"cite", {Act::cite}}, {"citep", {Act::cite}}, {"citet", {Act::cite}},
        {"citealp", {Act::cite}}, {"citealt", {Act::cite}}, {"citeauthor", {Act::cite}},
        {"citeyear", {Act::cite}}, {"citenum", {Act::cite}}, {"parencite", {Act::cite}},
        {"textcite", {Act::cite}}, {"autocite", {Act::cite}}, {"footcite", {Act::cite}},
        {"Cite", {Act::cite}}, {"Citep", {Act::cite}}, {"Citet", {Act::cite}},
        {"nocite", {Act::nocite}},
        {"footnote", {Act::footnote}}, {"footnotetext", {Act::footnote}}, {"thanks", {Act::footnote}},
        {"url", {Act::url}}, {"nolinkurl", {Act::url}}, {"href", {Act::href}},
        {"emph", {Act::italic}}, {"textit", {Act::italic}}, {"textsl", {Act::italic}},
        {"textbf", {Act::bold}}, {"underline", {Act::underline}}, {"uline", {Act::underline}},
        {"sout", {Act::strike}}, {"st", {Act::strike}},
        {"texttt", {Act::plain}}, {"textsc", {Act::plain}}, {"textrm", {Act::plain}},
        {"textsf", {Act::plain}}, {"textup", {Act::plain}}, {"textmd", {Act::plain}},
        {"textnormal", {Act::plain}}, {"mbox", {Act::plain}}, {"text", {Act::plain}},
        {"hbox", {Act::plain}}, {"textsuperscript", {Act::plain}}, {"textsubscript", {Act::plain}},
        {"fbox", {Act::plain}}, {"framebox", {Act::plain}}, {"makebox", {Act::plain}},
        {"emph*", {Act::italic}},
        {"textcolor", {Act::text_last, 1}}, {"colorbox", {Act::text_last, 1}},
        {"foreignlanguage", {Act::text_last, 1}}, {"hyperlink", {Act::text_last, 1}},
        {"hypertarget", {Act::text_last, 1}}, {"raisebox", {Act::text_last, 1}},
        {"parbox", {Act::text_last, 1}}, {"scalebox", {Act::text_last, 1}},
        {"rotatebox", {Act::text_last, 1}}, {"resizebox", {Act::text_last, 2}},
        {"bf", {Act::switch_bold}}, {"bfseries", {Act::switch_bold}},
        {"it", {Act::switch_italic}}, {"itshape", {Act::switch_italic}}, {"em", {Act::switch_italic}},
        {"sl", {Act::switch_italic}}, {"slshape", {Act::switch_italic}},
        {"tt", {Act::switch_plain}}, {"ttfamily", {Act::switch_plain}}, {"sc", {Act::switch_plain}},
        {"scshape", {Act::switch_plain}}, {"rm", {Act::switch_plain}}, {"rmfamily", {Act::switch_plain}},
        {"sf", {Act::switch_plain}}, {"sffamily", {Act::switch_plain}}, {"normalfont", {Act::switch_plain}},
        {"upshape", {Act::switch_plain}}, {"mdseries", {Act::switch_plain}},
        {"tiny", {Act::switch_plain}}, {"scriptsize", {Act::switch_plain}},
        {"footnotesize", {Act::switch_plain}}, {"small", {Act::switch_plain}},
        {"normalsize", {Act::switch_plain}}, {"large", {Act::switch_plain}},
        {"Large", {Act::switch_plain}}, {"LARGE", {Act::switch_plain}}, {"huge", {Act::switch_plain}},
        {"Huge", {Act::switch_plain}}, {"selectfont", {Act::switch_plain}},
        {"boldmath", {Act::switch_plain}}, {"unboldmath", {Act::switch_plain}},
        {"color", {Act::drop, 1}},
        {"index", {Act::drop, 1}}, {"glossary", {Act::drop, 1}}, {"vspace", {Act::drop, 1}},
        {"hspace", {Act::space, 1}}, {"addvspace", {Act::drop, 1}}, {"phantom", {Act::drop, 1}},
        {"hphantom", {Act::drop, 1}}, {"vphantom", {Act::drop, 1}},
        {"thispagestyle", {Act::drop, 1}}, {"pagestyle", {Act::drop, 1}},
        {"pagenumbering", {Act::drop, 1}}, {"setlength", {Act::drop, 2}},
        {"addtolength", {Act::drop, 2}}, {"setcounter", {Act::drop, 2}},
        {"addtocounter", {Act::drop, 2}}, {"addcontentsline", {Act::drop, 3}},
        {"markboth", {Act::drop, 2}}, {"markright", {Act::drop, 1}},
        {"theoremstyle", {Act::drop, 1}}, {"usepackage", {Act::drop, 1}},
        {"RequirePackage", {Act::drop, 1}}, {"graphicspath", {Act::drop, 1}},
        {"hypersetup", {Act::drop, 1}}, {"definecolor", {Act::drop, 3}},
        {"bibliographystyle", {Act::drop, 1}}, {"bibliography", {Act::drop, 1}},
        {"addbibresource", {Act::drop, 1}}, {"input", {Act::drop, 1}},
        {"include", {Act::drop, 1}}, {"includeonly", {Act::drop, 1}},
        {"linespread", {Act::drop, 1}}, {"captionsetup", {Act::drop, 1}},
        {"pagecolor", {Act::drop, 1}}, {"enlargethispage", {Act::drop, 1}},
        {"lstset", {Act::drop, 1}}, {"DeclareMathOperator", {Act::definition}},
        {"newcommand", {Act::definition}}, {"renewcommand", {Act::definition}},
        {"providecommand", {Act::definition}}, {"newenvironment", {Act::environment_definition}},
        {"renewenvironment", {Act::environment_definition}},
        {"def", {Act::def}}, {"gdef", {Act::def}}, {"edef", {Act::def}}, {"xdef", {Act::def}},
        {"let", {Act::let}},
        {"quad", {Act::space}}, {"qquad", {Act::space}}, {"enspace", {Act::space}},
        {"thinspace", {Act::space}}, {"hfill", {Act::space}}, {"hfil", {Act::space}},
        {"newline", {Act::line_break}}, {"linebreak", {Act::line_break}},
        {"par", {Act::paragraph}},
        {"includegraphics", {Act::includegraphics}}, {"caption", {Act::caption}},
        {"subcaption", {Act::caption}}, {"captionof", {Act::caption}},
        {"subfloat", {Act::subfloat}}, {"subfigure", {Act::subfloat}},
        {"multicolumn", {Act::multicolumn}}, {"multirow", {Act::multirow}},
        {"verb", {Act::verb}}, {"lstinline", {Act::verb}}, {"mintinline", {Act::mintinline}},
        {"maketitle", {Act::maketitle}}, {"tableofcontents", {Act::contents}},
        {"bibitem", {Act::bibitem}}, {"newblock", {Act::newblock}},
        {"hline", {Act::rule}}, {"toprule", {Act::rule}}, {"midrule", {Act::rule}},
        {"bottomrule", {Act::rule}}, {"cline", {Act::rule}}, {"cmidrule", {Act::rule}},
        {"title", {Act::title}}, {"author", {Act::author}}, {"date", {Act::date}},
        {"newtheorem", {Act::newtheorem}}, {"numberwithin", {Act::numberwithin}},
        {"appendix", {Act::appendix}}, {"ensuremath", {Act::ensuremath}},
        {"vskip", {Act::dimension}}, {"hskip", {Act::dimension}}, {"kern", {Act::dimension}},
        {"noindent", {Act::nothing}}, {"indent", {Act::nothing}}, {"medskip", {Act::nothing}},
        {"bigskip", {Act::nothing}}, {"smallskip", {Act::nothing}}, {"newpage", {Act::nothing}},
        {"clearpage", {Act::nothing}}, {"cleardoublepage", {Act::nothing}},
        {"pagebreak", {Act::nothing}}, {"nolinebreak", {Act::nothing}},
        {"nopagebreak", {Act::nothing}}, {"centering", {Act::nothing}},
        {"raggedright", {Act::nothing}}, {"raggedleft", {Act::nothing}},
        {"flushbottom", {Act::nothing}}, {"raggedbottom", {Act::nothing}},
        {"protect", {Act::nothing}}, {"relax", {Act::nothing}}, {"vfill", {Act::nothing}},
        {"sloppy", {Act::nothing}}, {"fussy", {Act::nothing}}, {"frontmatter", {Act::nothing}},
        {"mainmatter", {Act::nothing}}, {"backmatter", {Act::nothing}},
        {"FloatBarrier", {Act::nothing}}, {"listoffigures", {Act::nothing}},
        {"listoftables", {Act::nothing}}, {"printindex", {Act::nothing}},
        {"makeindex", {Act::nothing}}, {"ignorespaces", {Act::nothing}}, {"unskip", {Act::nothing}},
        {"onecolumn", {Act::nothing}}, {"twocolumn", {Act::nothing}}, {"null", {Act::nothing}},
        {"leavevmode", {Act::nothing}}, {"strut", {Act::nothing}}, {"break", {Act::nothing}},
        {"printbibliography", {Act::nothing}}, {"today", {Act::nothing}},
        {"xspace", {Act::nothing}}, {"footnotemark", {Act::nothing}}, {"hrule", {Act::nothing}},
        {"smallbreak", {Act::nothing}}, {"medbreak", {Act::nothing}}, {"bigbreak", {Act::nothing}},
        {"justifying", {Act::nothing}}, {"noalign", {Act::nothing}},
    };
    return table;
}

// Bytes that end a run of plain text.
const std::array<bool, 256> kSpecial = [] {
    std::array<bool, 256> special{};
    for (unsigned char c : std::string_view("\\{}$~-`'&")) special[c] = true;
    return special;
}();

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

std::string_view emphasis_marker(Act act) {
    switch (act) {
        case Act::italic: case Act::switch_italic: return wiki::emphasis_marker(wiki::Emphasis::italic);
        case Act::bold: case Act::switch_bold: return wiki::emphasis_marker(wiki::Emphasis::bold);
        case Act::underline: return wiki::emphasis_marker(wiki::Emphasis::underline);
        case Act::strike: return wiki::emphasis_marker(wiki::Emphasis::strike);
        default: return "";
    }
}

// Text of the source as it stands on the page: escaped where the wiki would
// read it as mark-up.
void append_source_text(const Walk& w, std::string& sink, std::string_view text) {
    wiki::append_text(sink, text, w.r.tabular.depth > 0);
}

std::string& sink_of(Walk& w, std::string* out) { return out != nullptr ? *out : line_sink(w.r); }

// A star after a command name ("\section*").
std::size_t skip_star(const Walk& w, std::size_t at, bool& starred) {
    starred = at < w.text.size() && w.text[at] == '*';
    return starred ? at + 1 : at;
}

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

// An accent over nothing, "\\^{}": the accent on its own.
std::string_view spacing_accent(char mark) {
    static constexpr std::pair<char, std::string_view> kSpacing[] = {
        {'\'', "\xC2\xB4"}, {'`', "`"}, {'^', "^"}, {'"', "\xC2\xA8"}, {'~', "~"},
        {'=', "\xC2\xAF"}, {'.', "\xCB\x99"}, {'u', "\xCB\x98"}, {'v', "\xCB\x87"},
        {'H', "\xCB\x9D"}, {'c', "\xC2\xB8"}, {'k', "\xCB\x9B"}, {'r', "\xCB\x9A"}};
    for (const auto& [accent, text] : kSpacing)
        if (accent == mark) return text;
    return {};
}

// The accent command "\\'" (name) on the letter after it, "\\'e" or "\\'{e}".
// A group of several letters, "\\'{ab}", has the accent on its first and the
// others as text after it; an empty group shows the accent alone.
std::size_t accent(Walk& w, char mark, std::size_t at, std::size_t end, std::string& out) {
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
        p = skip_blanks(w.text, p);  // "\\c c"
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
        walk(w, after, close, &out);
        --w.nesting;
    }
    return close + 1;
}

// "\\hyperref{address}{category}{name}{text}": a link to "address#category.name".
std::size_t hyperref_to_address(Walk& w, std::size_t at, std::size_t end, std::string& sink, bool may_carry) {
    Argument parts[4];
    std::size_t p = at;
    for (Argument& part : parts) {
        part = read_argument(w, p, end);
        if (!part.found) return p;
        if (!part.closed) return may_carry ? kNoPosition : p;
        p = part.next;
    }
    const std::string text = translate_argument(w, parts[3]);
    const std::string_view address = trim_blanks_and_tabs(parts[0].text);
    if (address.empty() || w.plain) {
        sink.append(text);
        return p;
    }
    std::string target(address);
    const std::string_view category = trim_blanks_and_tabs(parts[1].text);
    const std::string_view name = trim_blanks_and_tabs(parts[2].text);
    if (!category.empty() || !name.empty()) {
        target += "#";
        target += category;
        if (!category.empty() && !name.empty()) target += ".";
        target += name;
    }
    sink.append(wiki::link(text, target));
    return p;
}

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

// The optional arguments before a citation's keys, translated.
std::size_t citation_notes(Walk& w, std::size_t at, std::string& first, std::string& second,
                           int& count) {
    count = 0;
    for (std::string* note : {&first, &second}) {
        const std::size_t next = translate_optional_argument(w, at, false, *note);
        if (next == at) break;
        ++count;
        at = next;
    }
    return at;
}

// "\command": translated into `out` (or acted on at the top of the line).
// Returns the position after it, or kNoPosition to carry the line on.
std::size_t command(Walk& w, std::size_t at, std::size_t end, std::string* out, bool may_carry) {
    const std::string_view t = w.text;
    const std::size_t length = command_name_length(t, at);
    const bool top = out == nullptr;
    std::string& sink = sink_of(w, out);
    if (length == 0 || at + 1 + length > end) {
        sink.push_back('\\');
        return at + 1;
    }
    const std::string_view name = t.substr(at + 1, length);
    std::size_t after = at + 1 + length;
    const auto unclosed = [&](std::size_t fallback) { return may_carry ? kNoPosition : fallback; };

    if (length == 1 && !(name[0] >= 'a' && name[0] <= 'z') && !(name[0] >= 'A' && name[0] <= 'Z')) {
        switch (name[0]) {
            case '\\': {
                bool starred = false;
                after = skip_star(w, after, starred);
                after = skip_optional_argument(w.index, after, false);
                if (!top) {
                    if (sink.empty() || sink.back() != ' ') sink.push_back(' ');
                } else if (w.r.tabular.depth > 0) {
                    end_table_row(w);
                } else {
                    w.r.out.push_back('~');
                    flush_line(w.job, w.r);
                }
                return after;
            }
            case '[': return display_formula(w, "", "", after, end, out);
            case '(': {
                if (after < w.inline_close_from || after > w.inline_close_at) {
                    w.inline_close_from = after;
                    w.inline_close_at = t.find("\\)", after);
                }
                const std::size_t close = w.inline_close_at;
                if (close == kNoPosition || close + 2 > end) return unclosed(after);
                inline_formula(w, t.substr(after, close - after), at, close + 1, sink);
                return close + 2;
            }
            case ']': case ')': return after;
            case ' ': case ',': case ';': case ':': case '>': sink.push_back(' '); return after;
            case '!': case '-': case '/': case '@': return after;
            case '&': case '%': case '$': case '#': case '_': case '{': case '}':
                sink.push_back(name[0]);
                return after;
            default: break;
        }
        if (is_accent(name)) {
            const std::size_t next = accent(w, name[0], after, end, sink);
            if (next != after) return next;
        }
        sink.append(t.substr(at, 1 + length));
        return after;
    }

    if (is_accent(name) && after < end && t[after] == '{') {
        const std::size_t next = accent(w, name[0], after, end, sink);
        if (next != after) return next;
    }
    const auto found = commands().find(name);
    if (found == commands().end()) {
        if (const std::string_view symbol = text_symbol(name); !symbol.empty()) {
            append_source_text(w, sink, symbol);
            // As in LaTeX, blanks after a command name are part of it:
            // "\ss e" is one word; "\LaTeX{}" and "\ldots{}" keep the blank
            // after them with an empty group.
            if (t.substr(after, 2) == "{}") return after + 2;
            return skip_blanks(t, after);
        }
        // Any other command: the text of its arguments, without the command.
        std::size_t p = skip_optional_argument(w.index, after, false);
        bool any = false;
        while (true) {
            const Argument arg = read_argument(w, p, end);
            if (!arg.found) break;
            if (!arg.closed) return any ? p : unclosed(after);
            if (any) sink.push_back(' ');
            walk(w, arg.begin, arg.end, top ? nullptr : out);
            any = true;
            p = skip_optional_argument(w.index, arg.next, false);
        }
        if (!any) sink.append(t.substr(at, 1 + length));
        return any ? p : after;
    }

    const Act act = found->second.act;
    bool starred = false;
    switch (act) {
        case Act::heading:
            if (!top) break;
            {
                const std::size_t next = heading(w, name, after, end);
                return next == kNoPosition ? unclosed(after) : next;
            }
        case Act::begin: {
            const std::size_t next = begin_environment(w, after, end, top);
            return next == kNoPosition ? unclosed(after) : next;
        }
        case Act::end: {
            const std::size_t next = end_environment(w, after, end, top);
            return next == kNoPosition ? unclosed(after) : next;
        }
        case Act::item:
            if (top) return start_item(w, after, end);
            sink.append("; ");
            return after;
        case Act::label: {
            const Argument arg = read_argument(w, after, end);
            if (!arg.found) return after;
            if (!arg.closed) return unclosed(after);
            define_label(w.r, arg.text);
            return arg.next;
        }
        case Act::reference: {
            after = skip_star(w, after, starred);
            const Argument arg = read_argument(w, after, end);
            if (!arg.found) return after;
            if (!arg.closed) return unclosed(after);
            sink.append(reference_text(w.r, name, arg.text));
            return arg.next;
        }
        case Act::hyperref: {
            if (skip_blanks(t, after) < end && t[skip_blanks(t, after)] == '{')
                return hyperref_to_address(w, after, end, sink, may_carry);
            const std::size_t next = skip_optional_argument(w.index, after, false);
            const std::string_view key =
                next == after ? std::string_view() : t.substr(after + 1, next - after - 2);
            const Argument arg = read_argument(w, next, end);
            if (!arg.found) return next;
            if (!arg.closed) return unclosed(after);
            const std::string text = translate_argument(w, arg);
            const auto label = w.r.outline.labels.find(std::string(key));
            if (label != w.r.outline.labels.end() && !label->second.anchor.empty())
                sink.append(wiki::link(text, "#" + label->second.anchor));
            else
                sink.append(text);
            return arg.next;
        }
        case Act::cite: case Act::nocite: {
            after = skip_star(w, after, starred);
            std::string first, second;
            int notes = 0;
            const std::size_t p = citation_notes(w, after, first, second, notes);
            const Argument arg = read_argument(w, p, end);
            if (!arg.found) return p;
            if (!arg.closed) return unclosed(after);
            if (act == Act::cite)
                sink.append(notes == 2 ? citation(arg.text, first, second)
                                       : citation(arg.text, "", first));
            return arg.next;
        }
        case Act::footnote: {
            const std::size_t p = skip_optional_argument(w.index, after, false);
            const Argument arg = read_argument(w, p, end);
            if (!arg.found) return p;
            if (!arg.closed) return unclosed(after);
            const LabelTarget saved = w.r.target;
            step_footnote(w.r);
            const std::string text = translate_argument(w, arg);
            w.r.target = saved;
            if (!trim_blanks_and_tabs(text).empty() && !w.plain) sink.append(wiki::footnote(trim_blanks_and_tabs(text)));
            return arg.next;
        }
        case Act::url: {
            const Argument arg = read_argument(w, after, end);
            if (!arg.found) return after;
            if (!arg.closed) return unclosed(after);
            append_source_text(w, sink, arg.text);
            return arg.next;
        }
        case Act::href: {
            const Argument address = read_argument(w, after, end);
            if (!address.found) return after;
            if (!address.closed) return unclosed(after);
            const Argument arg = read_argument(w, address.next, end);
            if (!arg.found) {
                append_source_text(w, sink, address.text);
                return address.next;
            }
            if (!arg.closed) return unclosed(after);
            const std::string text(trim_blanks_and_tabs(translate_argument(w, arg)));
            if (text.empty())
                append_source_text(w, sink, address.text);
            else
                sink.append(wiki::link(text, address.text));
            return arg.next;
        }
        case Act::italic: case Act::bold: case Act::underline: case Act::strike: case Act::plain: {
            after = skip_star(w, after, starred);
            after = skip_optional_argument(w.index, after, false);
            const Argument arg = read_argument(w, after, end);
            if (!arg.found) return after;
            if (!arg.closed) return unclosed(after);
            if (act == Act::plain && top) {
                walk(w, arg.begin, arg.end, nullptr);
            } else {
                append_emphasis(sink, w.plain ? "" : emphasis_marker(act), translate_argument(w, arg));
            }
            return arg.next;
        }
        case Act::text_last: {
            std::size_t p = skip_arguments(w, after, end, found->second.arguments);
            if (p == kNoPosition) return unclosed(after);
            const Argument arg = read_argument(w, p, end);
            if (!arg.found) return p;
            if (!arg.closed) return unclosed(after);
            walk(w, arg.begin, arg.end, top ? nullptr : out);
            return arg.next;
        }
        case Act::switch_bold: case Act::switch_italic: case Act::switch_plain:
            // A switch met here, not at the start of a group, cannot be
            // wrapped around what it affects: it is dropped.
            return after;
        case Act::drop: {
            after = skip_star(w, after, starred);
            const std::size_t next = skip_arguments(w, after, end, found->second.arguments);
            return next == kNoPosition ? unclosed(after) : next;
        }
        case Act::definition: case Act::environment_definition: {
            after = skip_star(w, after, starred);
            const std::size_t next =
                skip_definition(w, after, end, act == Act::definition ? 1 : 2);
            return next == kNoPosition ? unclosed(after) : next;
        }
        case Act::def: {
            const std::size_t next = skip_def(w, after, end);
            return next == kNoPosition ? unclosed(after) : next;
        }
        case Act::let: {
            const std::size_t next = skip_let(w, after, end);
            return next == kNoPosition ? unclosed(end) : next;
        }
        case Act::space: {
            // "\hspace{1em}" is a space too, its width aside.
            after = skip_star(w, after, starred);
            const std::size_t next = skip_arguments(w, after, end, found->second.arguments);
            if (next == kNoPosition) return unclosed(after);
            if (sink.empty() || sink.back() != ' ') sink.push_back(' ');
            return next;
        }
        case Act::line_break:
            after = skip_optional_argument(w.index, after, false);
            if (top && w.r.tabular.depth == 0) {
                w.r.out.push_back('~');
                flush_line(w.job, w.r);
            } else {
                sink.push_back(' ');
            }
            return after;
        case Act::paragraph:
            if (top)
                paragraph_break(w.job, w.r);
            else
                sink.push_back(' ');
            return after;
        case Act::includegraphics: {
            after = skip_star(w, after, starred);
            after = skip_optional_argument(w.index, after, false);
            const Argument arg = read_argument(w, after, end);
            if (!arg.found) return after;
            if (!arg.closed) return unclosed(after);
            if (in_figure(w.r))
                add_image(w, std::string(trim_blanks_and_tabs(arg.text)));
            else
                sink.append(wiki::inline_image(trim_blanks_and_tabs(arg.text)));
            return arg.next;
        }
        case Act::caption: {
            after = skip_star(w, after, starred);
            if (name == "captionof") {
                const std::size_t next = skip_arguments(w, after, end, 1);
                if (next == kNoPosition) return unclosed(after);
                after = next;
            }
            after = skip_optional_argument(w.index, after, false);
            const Argument arg = read_argument(w, after, end);
            if (!arg.found) return after;
            if (!arg.closed) return unclosed(after);
            std::string text(trim_blanks_and_tabs(translate_argument(w, arg)));
            if (top)
                set_caption(w, std::move(text), !starred && name != "subcaption");
            else
                sink.append(text);
            return arg.next;
        }
        case Act::subfloat: {
            std::string sub;
            const std::size_t p = translate_optional_argument(w, after, false, sub);
            const Argument arg = read_argument(w, p, end);
            if (!arg.found) return p;
            if (!arg.closed) return unclosed(after);
            const std::size_t images = figure_images(w.r);
            walk(w, arg.begin, arg.end, top ? nullptr : out);
            if (figure_images(w.r) > images)
                set_subcaption(w, sub);
            else
                sink.append(sub);
            return arg.next;
        }
        case Act::multicolumn: case Act::multirow: {
            Argument count = read_argument(w, after, end);
            if (!count.found) return after;
            if (!count.closed) return unclosed(after);
            std::size_t p = skip_optional_argument(w.index, count.next, false);
            const Argument alignment = read_argument(w, p, end);
            if (!alignment.found) return p;
            if (!alignment.closed) return unclosed(after);
            p = skip_optional_argument(w.index, alignment.next, false);
            const Argument arg = read_argument(w, p, end);
            if (!arg.found) return p;
            if (!arg.closed) return unclosed(after);
            if (act == Act::multicolumn && top && w.r.tabular.depth > 0) {
                const long span = std::strtol(std::string(count.text).c_str(), nullptr, 10);
                for (long k = 1; k < span && k < 64; ++k) w.r.tabular.cells.push_back(">");
            }
            walk(w, arg.begin, arg.end, top ? nullptr : out);
            return arg.next;
        }
        case Act::verb: {
            const std::size_t close = verb_end(w.index, after);
            if (close == kNoPosition || close > end) break;
            const std::size_t open = t[after] == '*' ? after + 1 : after;
            append_source_text(w, sink, t.substr(open + 1, close - open - 2));
            return close;
        }
        case Act::mintinline: {
            const std::size_t p = skip_arguments(w, after, end, 1);
            if (p == kNoPosition || p >= end) break;
            if (t[p] == '{') {
                const Argument arg = read_argument(w, p, end);
                if (!arg.closed) break;
                append_source_text(w, sink, arg.text);
                return arg.next;
            }
            const std::size_t close = verb_end(w.index, p);
            if (close == kNoPosition || close > end) break;
            append_source_text(w, sink, t.substr(p + 1, close - p - 2));
            return close;
        }
        case Act::maketitle: if (top) write_title_block(w); return after;
        case Act::contents: if (top) write_contents(w); return after;
        case Act::bibitem: {
            const std::size_t p = skip_optional_argument(w.index, after, false);
            const Argument arg = read_argument(w, p, end);
            if (!arg.found) return p;
            if (!arg.closed) return unclosed(after);
            if (top) {
                flush_line(w.job, w.r);
                w.r.out = wiki::item_marker(false, 1) + "[" + std::string(trim_blanks_and_tabs(arg.text)) + "] ";
                w.r.out_markup = w.r.out.size();
                w.r.out_continues = true;
            } else {
                sink.append("[" + std::string(trim_blanks_and_tabs(arg.text)) + "] ");
            }
            return arg.next;
        }
        case Act::newblock: sink.push_back(' '); return after;
        case Act::rule: {
            std::size_t p = after;
            if (name == "cmidrule" && p < end && t[p] == '(') {
                const std::size_t close = t.find(')', p);
                if (close != std::string_view::npos && close < end) p = close + 1;
            }
            if (name == "cline" || name == "cmidrule") {
                p = skip_optional_argument(w.index, p, false);
                const std::size_t next = skip_arguments(w, p, end, 1);
                if (next == kNoPosition) return unclosed(after);
                p = next;
            }
            if (top && w.r.tabular.depth > 0 && (name == "hline" || name == "midrule")) table_rule(w);
            return p;
        }
        case Act::title: case Act::author: case Act::date: {
            const std::size_t p = skip_optional_argument(w.index, after, false);
            const Argument arg = read_argument(w, p, end);
            if (!arg.found) return p;
            if (!arg.closed) return unclosed(after);
            (act == Act::title ? w.r.title : act == Act::author ? w.r.author : w.r.date) =
                std::string(arg.text);
            return arg.next;
        }
        case Act::newtheorem: {
            after = skip_star(w, after, starred);
            const Argument env = read_argument(w, after, end);
            if (!env.closed) return env.found ? unclosed(after) : after;
            std::size_t p = skip_blanks(t, env.next);
            std::string_view shared;
            const std::size_t shared_end = skip_optional_argument(w.index, p, false);
            if (shared_end != p) shared = t.substr(p + 1, shared_end - p - 2);
            const Argument printed = read_argument(w, shared_end, end);
            if (!printed.closed) return printed.found ? unclosed(after) : shared_end;
            p = skip_blanks(t, printed.next);
            std::string_view within;
            const std::size_t within_end = skip_optional_argument(w.index, p, false);
            if (within_end != p) within = t.substr(p + 1, within_end - p - 2);
            declare_theorem(w.r, env.text, shared, printed.text, within, !starred);
            return within_end;
        }
        case Act::numberwithin: {
            const Argument counter = read_argument(w, after, end);
            if (!counter.closed) return counter.found ? unclosed(after) : after;
            const Argument within = read_argument(w, counter.next, end);
            if (!within.closed) return within.found ? unclosed(after) : counter.next;
            number_within(w.r, trim_blanks_and_tabs(counter.text), trim_blanks_and_tabs(within.text));
            return within.next;
        }
        case Act::appendix:
            w.r.counters.appendix = true;
            w.r.counters.sectioning[w.r.outline.has_chapters ? 0 : 1] = 0;
            return after;
        case Act::ensuremath: {
            const Argument arg = read_argument(w, after, end);
            if (!arg.found) return after;
            if (!arg.closed) return unclosed(after);
            inline_formula(w, t.substr(arg.begin, arg.end - arg.begin), at, arg.next - 1, sink);
            return arg.next;
        }
        case Act::dimension: return skip_dimension(w, after, end);
        case Act::nothing: return after;
    }
    sink.append(t.substr(at, 1 + length));
    return after;
}

// "``" or "`" (and "''" or "'"): the doubled quote or the single one.
std::size_t quote(std::string_view t, std::size_t pos, std::size_t end, std::string_view doubled,
                  std::string_view single, std::string& sink) {
    const bool twice = pos + 1 < end && t[pos + 1] == t[pos];
    sink.append(twice ? doubled : single);
    return pos + (twice ? 2 : 1);
}

// A brace group. One that opens with a font switch ("{\bf text}") becomes
// wiki emphasis; any other is transparent, its text written in place.
std::size_t group(Walk& w, std::size_t at, std::size_t end, std::string* out, bool may_carry) {
    const std::size_t close = group_close(w.index, at);
    if (close == kNoPosition || close >= end) return may_carry ? kNoPosition : at + 1;
    std::string& sink = sink_of(w, out);
    // Deeper than this a group is only its content: the walk goes on into it
    // without a call of its own (its closing brace is passed over like any
    // stray one), so that a line of a million "{" costs no stack.
    if (w.nesting >= kDeepestNesting) return at + 1;
    const std::size_t first = skip_blanks(w.text, at + 1);
    if (first < close && w.text[first] == '\\') {
        const std::size_t length = command_name_length(w.text, first);
        const auto found = commands().find(w.text.substr(first + 1, length));
        if (found != commands().end() &&
            (found->second.act == Act::switch_bold || found->second.act == Act::switch_italic ||
             found->second.act == Act::switch_plain)) {
            std::string inner;
            ++w.nesting;
            walk(w, first + 1 + length, close, &inner);
            --w.nesting;
            append_emphasis(sink, w.plain ? "" : emphasis_marker(found->second.act), inner);
            return close + 1;
        }
    }
    ++w.nesting;
    walk(w, at + 1, close, out);
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

void read_declarations(Walk& w) {
    static constexpr std::string_view kDeclarations[] = {"newtheorem", "title", "author", "date",
                                                        "numberwithin"};
    std::string ignored;
    std::size_t p = 0;
    while ((p = find_byte(w.index, '\\', p)) != kNoPosition) {
        const std::size_t length = command_name_length(w.text, p);
        const std::string_view name = w.text.substr(p + 1, length);
        if (std::find(std::begin(kDeclarations), std::end(kDeclarations), name) != std::end(kDeclarations)) {
            const std::size_t next = command(w, p, w.text.size(), &ignored, false);
            p = next == kNoPosition ? p + 1 + length : next;
        } else {
            p += 1 + std::max<std::size_t>(length, 1);
        }
    }
}

std::size_t translate_optional_argument(Walk& w, std::size_t at, bool skip_blanks_first,
                                        std::string& text) {
    const std::size_t next = skip_optional_argument(w.index, at, skip_blanks_first);
    if (next == at) return at;
    Argument arg;
    arg.found = arg.closed = true;
    arg.begin = skip_blanks(w.text, at) + 1;
    arg.end = next - 1;
    arg.next = next;
    text = std::string(trim_blanks_and_tabs(translate_argument(w, arg)));
    return next;
}

std::string translate_argument(Walk& w, const Argument& arg) {
    std::string text;
    if (w.nesting >= kDeepestNesting) return std::string(arg.text);
    ++w.nesting;
    walk(w, arg.begin, arg.end, &text);
    --w.nesting;
    return text;
}

std::size_t walk(Walk& w, std::size_t pos, std::size_t end, std::string* out) {
    // Only the walk over a whole logical line, at its top, may stop at an
    // unclosed construct and carry it on to the next source line.
    const bool may_carry = out == nullptr && w.nesting == 0 && !w.final;
    const std::string_view t = w.text;
    while (pos < end) {
        std::size_t run = pos;
        while (run < end && !kSpecial[static_cast<unsigned char>(t[run])]) ++run;
        if (run > pos && out == nullptr && w.r.collecting) {
            pos = run;  // the first pass writes no text: nothing to copy
            continue;
        }
        if (run > pos) {
            std::string& sink = sink_of(w, out);
            // Blanks after a blank (where a dropped command stood) add nothing.
            if (!sink.empty() && sink.back() == ' ')
                while (pos < run && t[pos] == ' ') ++pos;
            append_source_text(w, sink, t.substr(pos, run - pos));
            pos = run;
            continue;
        }
        std::string& sink = sink_of(w, out);
        const char c = t[pos];
        std::size_t next = pos + 1;
        switch (c) {
            case '\\': next = command(w, pos, end, out, may_carry); break;
            case '{': next = group(w, pos, end, out, may_carry); break;
            case '}': break;  // closes a group opened on an earlier line
            case '$':
                if (pos + 1 < end && t[pos + 1] == '$') {
                    next = display_formula(w, "$$", "", pos + 2, end, out);
                } else {
                    const std::size_t close = next_dollar(w.index, pos + 1);
                    if (close == kNoPosition || close >= end) {
                        if (may_carry) return pos;
                        sink.push_back('$');
                    } else {
                        inline_formula(w, t.substr(pos + 1, close - pos - 1), pos, close, sink);
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
                if (out == nullptr && w.r.tabular.depth > 0)
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
