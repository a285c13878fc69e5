// The command table and the dispatch of a command met in the walk: control
// symbols, known commands by their signature and handler, text symbols, and
// any other command, which keeps the text of its arguments.
#include "rich/commands.h"

#include <unordered_map>

#include "rich/figure_files.h"
#include "rich/latex_characters.h"

namespace kelvarin {

namespace {

// Dropped with its arguments: "*" and each argument with an optional one
// before it, as "\vspace*{1em}" or "\setlength{\parindent}{0pt}".
constexpr std::string_view kDrop1 = "*omo";
constexpr std::string_view kDrop2 = "*omomo";
constexpr std::string_view kDrop3 = "*omomomo";

using CommandTable = std::unordered_map<std::string_view, CommandEntry>;

// Adds one entry under each of `names`.
void add(CommandTable& m, std::initializer_list<std::string_view> names, CommandEntry entry) {
    for (std::string_view name : names) m.emplace(name, entry);
}

void add_structure_and_references(CommandTable& m) {
    // Structure.
    add(m, {"part", "chapter", "section", "subsection", "subsubsection", "paragraph", "subparagraph"},
        {"", heading_command});
    add(m, {"begin"}, {"", begin_command});
    add(m, {"end"}, {"", end_command});
    add(m, {"item"}, {"", item_command});
    add(m, {"maketitle"}, {"", maketitle_command});
    add(m, {"tableofcontents"}, {"", contents_command});
    add(m, {"appendix"}, {"", appendix_command});
    add(m, {"par"}, {"", paragraph_command});
    add(m, {"newline", "linebreak"}, {"o", line_break});
    // References and citations.
    add(m, {"label"}, {"m", label_command});
    add(m, {"ref", "pageref", "eqref", "cref", "Cref", "autoref", "nameref", "vref", "cpageref"},
        {"*m", reference_command});
    add(m, {"hyperref"}, {"", hyperref_command});
    add(m, {"cite", "citep", "citet", "citealp", "citealt", "citeauthor", "citeyear", "citenum", "parencite",
         "textcite", "autocite", "footcite", "Cite", "Citep", "Citet"},
        {"*oom", cite_command});
    add(m, {"nocite"}, {"*oom", nocite_command});
    add(m, {"bibitem"}, {"om", bibitem_command});
    add(m, {"newblock"}, {"", newblock_command});
}

void add_text(CommandTable& m) {
    // Text.
    add(m, {"footnote", "footnotetext", "thanks"}, {"om", footnote_command});
    add(m, {"url", "nolinkurl"}, {"m", url_command});
    add(m, {"href"}, {"m", href_command});
    add(m, {"emph", "textit", "textsl", "emph*"}, {"*o|m", emphasis_command, Font::italic});
    add(m, {"textbf"}, {"*o|m", emphasis_command, Font::bold});
    add(m, {"underline", "uline"}, {"*o|m", emphasis_command, Font::underline});
    add(m, {"sout", "st"}, {"*o|m", emphasis_command, Font::strike});
    add(m, {"texttt", "textsc", "textrm", "textsf", "textup", "textmd", "textnormal", "mbox", "text", "hbox",
         "textsuperscript", "textsubscript", "fbox", "framebox", "makebox"},
        {"*o|m", emphasis_command, Font::plain});
    add(m, {"textcolor", "colorbox", "foreignlanguage", "hyperlink", "hypertarget", "raisebox", "parbox",
         "scalebox", "rotatebox"},
        {"omom", text_of_last_argument});
    add(m, {"resizebox"}, {"omomom", text_of_last_argument});
    add(m, {"bf", "bfseries"}, {"", font_switch, Font::bold});
    add(m, {"it", "itshape", "em", "sl", "slshape"}, {"", font_switch, Font::italic});
    add(m, {"tt", "ttfamily", "sc", "scshape", "rm", "rmfamily", "sf", "sffamily", "normalfont", "upshape",
         "mdseries", "tiny", "scriptsize", "footnotesize", "small", "normalsize", "large", "Large", "LARGE",
         "huge", "Huge", "selectfont", "boldmath", "unboldmath"},
        {"", font_switch, Font::plain});
    add(m, {"hspace"}, {kDrop1, horizontal_space});
    add(m, {"quad", "qquad", "enspace", "thinspace", "hfill", "hfil"}, {"*o", horizontal_space});
    add(m, {"verb", "lstinline"}, {"", verb_command});
    add(m, {"mintinline"}, {"", mintinline_command});
    add(m, {"ensuremath"}, {"m", ensuremath_command});
    add(m, {"texorpdfstring"}, {"mm", texorpdfstring_command});
    add(m, {"xspace"}, {"", xspace_command});
    add(m, {"vskip", "hskip", "kern"}, {"", skip_command});
    add(m, {"noindent", "indent", "medskip", "bigskip", "smallskip", "newpage", "clearpage", "cleardoublepage",
         "pagebreak", "nolinebreak", "nopagebreak", "centering", "raggedright", "raggedleft", "flushbottom",
         "raggedbottom", "protect", "relax", "vfill", "sloppy", "fussy", "frontmatter", "mainmatter",
         "backmatter", "FloatBarrier", "listoffigures", "listoftables", "printindex", "makeindex",
         "ignorespaces", "unskip", "onecolumn", "twocolumn", "null", "leavevmode", "strut", "break",
         "printbibliography", "today", "footnotemark", "hrule", "smallbreak", "medbreak",
         "bigbreak", "justifying"},
        {"", nothing_command});
}

void add_floats_and_declarations(CommandTable& m) {
    // Floats and tables.
    add(m, {"includegraphics"}, {"*o|m", includegraphics_command});
    add(m, {"graphicspath"}, {"m", graphicspath_command, Font::none, true});
    add(m, {"caption", "subcaption"}, {"*o|m", caption_command});
    add(m, {"captionof"}, {"*omoo|m", caption_command});
    add(m, {"subfloat", "subfigure"}, {"om", subfloat_command});
    add(m, {"multicolumn"}, {"momom", multicolumn_command});
    add(m, {"multirow"}, {"momom", multirow_command});
    add(m, {"hline", "toprule", "midrule", "bottomrule", "cline", "cmidrule", "specialrule", "hhline",
         "addlinespace", "morecmidrules"},
        {"", rule_command});
    add(m, {"tabularnewline"}, {"o", row_end_command});
    // How a table looks, which the wiki decides: nothing reaches a cell.
    add(m, {"rowcolor", "cellcolor", "noalign"}, {kDrop1, drop_command});
    add(m, {"rowcolors"}, {kDrop3, drop_command});
    add(m, {"arraystretch", "endhead", "endfirsthead", "endfoot", "endlastfoot"}, {"", nothing_command});
    // Declarations, and what goes with its arguments.
    add(m, {"color", "index", "glossary", "vspace", "addvspace", "phantom", "hphantom", "vphantom",
         "thispagestyle", "pagestyle", "pagenumbering", "markright", "theoremstyle", "glsadd",
         "RequirePackage", "hypersetup", "bibliographystyle", "bibliography",
         "addbibresource", "includeonly", "linespread", "captionsetup", "pagecolor",
         "enlargethispage", "lstset"},
        {kDrop1, drop_command});
    add(m, {"setlength", "addtolength", "markboth", "newglossaryentry"}, {kDrop2, drop_command});
    add(m, {"addcontentsline", "definecolor"}, {kDrop3, drop_command});
    add(m, {"newcommand", "renewcommand", "providecommand", "DeclareRobustCommand", "DeclareMathOperator"},
        {"*", definition_command, Font::none, true});
    add(m, {"newenvironment", "renewenvironment"}, {"*", environment_definition_command, Font::none, true});
    add(m, {"def", "gdef", "edef", "xdef"}, {"", def_command, Font::none, true});
    add(m, {"let"}, {"", let_command, Font::none, true});
    add(m, {"newif"}, {"", newif_command, Font::none, true});
    add(m, {"usepackage", "RequirePackage"}, {"om", own_package_command, Font::none, true});
    add(m, {"input", "include"}, {"m", own_input_command, Font::none, true});
    add(m, {"crefname", "Crefname"}, {"mmm", crefname_command, Font::none, true});
    add(m, {"setcounter", "addtocounter"}, {"mm", counter_command, Font::none, true});
    add(m, {"stepcounter", "refstepcounter"}, {"m", counter_command, Font::none, true});
    add(m, {"title"}, {"om", title_command, Font::none, true});
    add(m, {"author"}, {"om", author_command, Font::none, true});
    add(m, {"date"}, {"om", date_command, Font::none, true});
    add(m, {"newtheorem"}, {"*mOmO", newtheorem_command, Font::none, true});
    add(m, {"numberwithin"}, {"mm", numberwithin_command, Font::none, true});
}

const CommandTable& table() {
    static const CommandTable commands = [] {
        CommandTable m;
        add_structure_and_references(m);
        add_text(m);
        add_floats_and_declarations(m);
        return m;
    }();
    return commands;
}

// Any command kelvarin does not know: the text of its arguments, without
// the command; one without arguments stays as written.
std::size_t unknown_command(CommandCall& call) {
    Walk& w = call.w;
    std::size_t p = skip_optional_argument(w.index, call.after, false);
    bool any = false;
    while (true) {
        const Argument arg = read_argument(w, p, call.end);
        if (!arg.found) break;
        if (!arg.closed) return any ? p : call.unclosed(call.after);
        if (any) call.sink.push_back(' ');
        walk(w, arg.begin, arg.end, call.place);
        any = true;
        p = skip_optional_argument(w.index, arg.next, false);
    }
    return any ? p : call.as_written();
}

// A symbol spelled as a command: its character. As in LaTeX, blanks after
// the name are part of it: "\ss e" is one word; "\LaTeX{}" and "\ldots{}"
// keep the blank after them with an empty group.
std::size_t text_symbol_command(CommandCall& call, std::string_view symbol) {
    append_source_text(call.w, call.sink, symbol);
    const std::string_view t = call.w.text;
    if (t.substr(call.after, 2) == "{}") return call.after + 2;
    return skip_blanks(t, call.after);
}

}  // namespace

std::size_t CommandCall::as_written() const {
    sink.append(w.text.substr(at, after - at));
    return after;
}

const CommandEntry* find_command(std::string_view name) {
    const auto found = table().find(name);
    return found == table().end() ? nullptr : &found->second;
}

std::size_t stop_at(const CommandCall& call, const CommandArguments& a) {
    switch (a.status) {
        case CommandArguments::missing: return a.next;
        case CommandArguments::unclosed: return call.unclosed(a.carry_from);
        case CommandArguments::complete: break;
    }
    return kNoStop;
}

std::string& sink_of(Walk& w, Place place) { return place.top() ? line_sink(w.r) : *place.text; }

std::size_t command(Walk& w, std::size_t at, std::size_t end, Place place, bool may_carry) {
    const std::string_view t = w.text;
    const std::size_t length = command_name_length(t, at);
    std::string& sink = sink_of(w, place);
    if (length == 0 || at + 1 + length > end) {
        sink.push_back('\\');
        return at + 1;
    }
    const std::string_view name = t.substr(at + 1, length);
    const std::size_t after = at + 1 + length;
    const bool letter = is_letter(name[0]);
    if (length == 1 && !letter) return control_symbol(w, at, end, place, may_carry);
    if (is_accent(name) && after < end && t[after] == '{') {
        const std::size_t next = accent(w, place.context, name[0], after, end, sink);
        if (next != after) return next;
    }
    static const CommandEntry kUnknown{"", nullptr};
    const CommandEntry* entry = find_command(name);
    CommandCall call{w, entry != nullptr ? *entry : kUnknown, name, at, after, end, place, sink, may_carry};
    PaperVocabulary& v = w.r.vocabulary;
    if (const ConditionalToken token = conditional_token(v, name); token != ConditionalToken::none)
        return conditional_command(call, token);
    if (entry == nullptr) {
        if (set_flag(call)) return after;
        if (const auto macro = v.macros.find(std::string(name)); macro != v.macros.end() && macro->second.expandable)
            return expand_macro(call, macro->second);
        if (const std::string_view symbol = text_symbol(name); !symbol.empty())
            return text_symbol_command(call, symbol);
        return unknown_command(call);
    }
    const CommandArguments arguments = read_arguments(w, entry->signature, after, end);
    return entry->handler(call, arguments);
}

void read_declarations(Walk& w) {
    std::string ignored;
    std::size_t p = 0;
    while ((p = find_byte(w.index, '\\', p)) != kNoPosition) {
        const std::size_t length = command_name_length(w.text, p);
        const std::string_view name = w.text.substr(p + 1, length);
        const CommandEntry* entry = find_command(name);
        const auto& macros = w.r.vocabulary.macros;
        const auto macro = entry == nullptr ? macros.find(std::string(name)) : macros.end();
        bool value = false;
        const bool flag = entry == nullptr && flag_set_by(w.r.vocabulary, name, value) != nullptr;
        if ((entry != nullptr && entry->declaration) || (macro != macros.end() && macro->second.expandable) || flag) {
            const std::size_t next = command(w, p, w.text.size(), {Context::text, &ignored}, false);
            p = next == kNoPosition ? p + 1 + length : next;
        } else {
            p += 1 + std::max<std::size_t>(length, 1);
        }
    }
}

}  // namespace kelvarin
