// Numbers, labels and references in rich mode. The counters follow LaTeX's
// own rules closely enough that a reference reads as the printed paper does
// ("Theorem 2.1", "(3)"); a reference to a heading becomes a link to the
// heading's fixed anchor. The first pass defines every label, so references
// forward in the source resolve too.
#include <algorithm>
#include <cctype>

#include "io/text_helpers.h"
#include "rich/internal.h"
#include "wiki/markup.h"

namespace kelvarin {

namespace {

constexpr std::string_view kUnits[] = {"chapter", "section", "subsection", "subsubsection"};

int unit_level(std::string_view unit) {
    for (int level = 0; level < 4; ++level)
        if (kUnits[level] == unit) return level;
    return -1;
}

std::string letter_number(std::int64_t n) {
    if (n >= 1 && n <= 26) return std::string(1, static_cast<char>('A' + n - 1));
    return std::to_string(n);
}

// The printed number of a sectioning unit: "2", "2.1", "A.3".
std::string unit_number(const RichState& r, int level) {
    const Counters& c = r.counters;
    const bool chapters = c.sectioning[0] > 0 || r.outline.has_chapters;
    std::string text;
    for (int l = chapters ? 0 : 1; l <= level; ++l) {
        if (!text.empty()) text.push_back('.');
        const bool lettered = c.appendix && l == (chapters ? 0 : 1);
        text += lettered ? letter_number(c.sectioning[l]) : std::to_string(c.sectioning[l]);
    }
    return text;
}

// "2." when numbers run within chapters (there is a chapter), "" otherwise.
std::string chapter_prefix(const RichState& r) {
    return r.counters.sectioning[0] > 0 ? unit_number(r, 0) + "." : "";
}

std::string roman(std::int64_t n) {
    static const char* const ones[] = {"", "i", "ii", "iii", "iv", "v", "vi", "vii", "viii", "ix"};
    if (n < 1 || n > 39) return std::to_string(n);
    return std::string(static_cast<std::size_t>(n / 10), 'x') + ones[n % 10];
}

std::string capitalised(std::string_view name) {
    std::string text(name);
    if (!text.empty()) text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
    return text;
}

// "Section", "Chapter", "Appendix": how references name a heading's unit.
// A top-level unit numbered with a letter is an appendix.
std::string unit_name(const RichState& r, const LabelTarget& t) {
    const bool top = t.number.find('.') == std::string::npos;
    if (top && !t.number.empty() && std::isupper(static_cast<unsigned char>(t.number[0]))) return "appendix";
    return r.outline.has_chapters && top ? "chapter" : "section";
}

// A fixed anchor for the wiki: a letter first, then letters, digits, "-"
// and "_", two characters at least; unique in the page.
std::string make_anchor(RichOutline& outline, std::string_view key) {
    std::string id;
    for (char c : key) {
        const bool keep = std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_';
        id.push_back(keep && static_cast<unsigned char>(c) < 0x80 ? c : '-');
    }
    // The wiki takes an anchor of two characters or more only.
    while (id.size() < 2 || !std::isalpha(static_cast<unsigned char>(id[0]))) id.insert(0, "l");
    std::string unique = id;
    for (int n = 2; outline.anchors_taken.count(unique) != 0; ++n) unique = id + "-" + std::to_string(n);
    outline.anchors_taken[unique] = 1;
    return unique;
}

// How cleveref names a target: "eq." / "Equation", "fig." / "Figure", ...
std::string target_name(const LabelTarget& t, bool capital) {
    switch (t.kind) {
        case LabelTarget::equation: return capital ? "Equation" : "eq.";
        case LabelTarget::figure: return capital ? "Figure" : "fig.";
        case LabelTarget::table: return capital ? "Table" : "tab.";
        case LabelTarget::theorem: return capital ? capitalised(t.name) : ascii_lower(t.name);
        case LabelTarget::item: return capital ? "Item" : "item";
        case LabelTarget::footnote: return capital ? "Footnote" : "footnote";
        default: return "";
    }
}

// cleveref's name of the kind of target, as \crefname takes it.
std::string cref_kind(const RichState& r, const LabelTarget& t) {
    switch (t.kind) {
        case LabelTarget::equation: return "equation";
        case LabelTarget::figure: return "figure";
        case LabelTarget::table: return "table";
        case LabelTarget::theorem: return t.environment;
        case LabelTarget::item: return "enumi";
        case LabelTarget::footnote: return "footnote";
        case LabelTarget::section: return unit_name(r, t);
        default: return "";
    }
}

// The name a reference puts before the number: the paper's own from
// \crefname or \Crefname (a \Crefname left out is the \crefname with a
// capital), otherwise cleveref's or hyperref's.
std::string reference_name(const RichState& r, const LabelTarget& t, bool capital) {
    const std::string kind = cref_kind(r, t);
    const auto own = r.cref_names.find(kind);
    if (capital) {
        const auto own_capital = r.cref_capital_names.find(kind);
        if (own_capital != r.cref_capital_names.end()) return own_capital->second;
        if (own != r.cref_names.end()) return capitalised(own->second);
    } else if (own != r.cref_names.end()) {
        return own->second;
    }
    if (t.kind == LabelTarget::section) return capital ? capitalised(unit_name(r, t)) : unit_name(r, t);
    return target_name(t, capital);
}

// What a reference prints, before any link: the number as the command
// shows it; a heading's title where LaTeX would have no number to show.
std::string reference_words(const RichState& r, std::string_view command, const Label& label) {
    const LabelTarget& t = label.target;
    if (t.kind == LabelTarget::section && (command == "nameref" || t.number.empty())) return label.title;
    if (t.number.empty()) return "??";
    // hyperref's \autoref shows an equation's number as \ref does, bare.
    const bool equation = t.kind == LabelTarget::equation && command != "autoref";
    const std::string number = equation ? "(" + t.number + ")" : t.number;
    if (command == "eqref") return number;
    if (command == "autoref") {
        // hyperref's names: "Equation", "Figure", "Theorem", but "section".
        const std::string name = t.kind == LabelTarget::section ? unit_name(r, t) : target_name(t, true);
        return name.empty() ? t.number : name + " " + number;
    }
    const bool capital = command == "Cref" || (command == "cref" && r.cref_capitalised);
    if (capital || command == "cref" || command == "vref") {
        const std::string name = reference_name(r, t, capital);
        return name.empty() ? t.number : name + " " + number;
    }
    return t.number;
}

std::string one_reference(const RichState& r, std::string_view command, std::string_view key, bool linked) {
    const auto found = r.outline.labels.find(std::string(key));
    if (found == r.outline.labels.end()) return "??";
    const Label& label = found->second;
    const std::string words = reference_words(r, command, label);
    return linked && !label.anchor.empty() && words != "??" ? wiki::link(words, "#" + label.anchor) : words;
}

}  // namespace

std::string step_equation(RichState& r) {
    Counters& c = r.counters;
    ++c.equation;
    const int within = unit_level(c.equation_within);
    const std::string prefix = within >= 0 ? unit_number(r, within) + "." : chapter_prefix(r);
    r.target = LabelTarget{LabelTarget::equation, prefix + std::to_string(c.equation), "", -1, ""};
    return r.target.number;
}

std::string step_figure(RichState& r) {
    ++r.counters.figure;
    const int within = unit_level(r.counters.figure_within);
    const std::string prefix = within >= 0 ? unit_number(r, within) + "." : chapter_prefix(r);
    r.target = LabelTarget{LabelTarget::figure, prefix + std::to_string(r.counters.figure), "", -1, ""};
    return r.target.number;
}

std::string step_table(RichState& r) {
    ++r.counters.table;
    const int within = unit_level(r.counters.table_within);
    const std::string prefix = within >= 0 ? unit_number(r, within) + "." : chapter_prefix(r);
    r.target = LabelTarget{LabelTarget::table, prefix + std::to_string(r.counters.table), "", -1, ""};
    return r.target.number;
}

void number_within(RichState& r, std::string_view counter, std::string_view unit) {
    Counters& c = r.counters;
    if (counter == "equation")
        c.equation_within = std::string(unit);
    else if (counter == "figure")
        c.figure_within = std::string(unit);
    else if (counter == "table")
        c.table_within = std::string(unit);
    else
        c.theorem_within[std::string(counter)] = std::string(unit);
}

std::string step_theorem(RichState& r, const TheoremKind& kind, std::string_view environment) {
    const std::int64_t n = ++r.counters.theorem[kind.counter];
    const auto within = r.counters.theorem_within.find(kind.counter);
    const int level = within == r.counters.theorem_within.end() ? -1 : unit_level(within->second);
    const std::string prefix = level >= 0 ? unit_number(r, level) + "." : "";
    r.target = LabelTarget{LabelTarget::theorem, prefix + std::to_string(n), kind.printed, r.theorems_met++,
                           std::string(environment)};
    return r.target.number;
}

std::string theorem_anchor(const RichState& r) {
    if (r.target.kind != LabelTarget::theorem) return "";
    const auto found = r.outline.theorem_anchors.find(r.target.ordinal);
    return found == r.outline.theorem_anchors.end() ? std::string() : found->second;
}

int default_secnumdepth(const RichState& r) { return r.outline.has_chapters ? 2 : 3; }

std::string step_footnote(RichState& r) {
    ++r.counters.footnote;
    r.target = LabelTarget{LabelTarget::footnote, std::to_string(r.counters.footnote), "", -1, ""};
    return r.target.number;
}

void step_item(RichState& r, OpenEnvironment& list) {
    ++list.items;
    if (list.marker != '+') return;
    // As LaTeX refers to them: "1", then "1a" for an item of a numbered list
    // inside it, "1(a)ii" a level further in and "1(a)iiB" at the fourth.
    std::string number;
    for (std::size_t k = 0; k < r.numbered_lists.size() && k < 4; ++k) {
        const OpenEnvironment& env = r.environments[r.numbered_lists[k]];
        const std::size_t level = k + 1;
        const std::int64_t n = env.items - 1;
        if (!env.label.empty()) {
            // A list with its own labels refers to its item as its label says.
            number += env.item_reference;
            continue;
        }
        if (level == 1) number = std::to_string(env.items);
        if (level == 2) number += std::string(1, static_cast<char>('a' + n % 26));
        if (level == 3) number.insert(number.size() - 1, "(").append(")" + roman(env.items));
        if (level == 4) number += std::string(1, static_cast<char>('A' + n % 26));
    }
    r.target = LabelTarget{LabelTarget::item, number, "", -1, ""};
}

std::string step_heading(RichState& r, int level, bool numbered, std::string_view plain_title) {
    const std::int64_t ordinal = r.headings++;
    r.heading_title = std::string(plain_title);
    std::string number;
    if (level >= 0 && level < 4 && numbered) {
        Counters& c = r.counters;
        ++c.sectioning[level];
        for (int deeper = level + 1; deeper < 4; ++deeper) c.sectioning[deeper] = 0;
        if (level == 0) c.equation = c.figure = c.table = 0;
        if (unit_level(c.equation_within) >= level) c.equation = 0;
        if (unit_level(c.figure_within) >= level) c.figure = 0;
        if (unit_level(c.table_within) >= level) c.table = 0;
        for (const auto& [counter, unit] : c.theorem_within)
            if (unit_level(unit) >= level) c.theorem[counter] = 0;
        const std::int64_t depth = c.secnumdepth == Counters::kUnset ? default_secnumdepth(r) : c.secnumdepth;
        if (level <= depth) number = unit_number(r, level);
    }
    r.target = LabelTarget{LabelTarget::section, number, "", ordinal, ""};
    return number;
}

void define_label(RichState& r, std::string_view key) { r.pass->label(r, key); }

void learn_label(RichState& r, std::string_view key) {
    RichOutline& outline = r.outline;
    const std::string name(key);
    if (outline.labels.count(name) != 0) return;  // the first definition counts, as in LaTeX
    Label label;
    label.target = r.target;
    if (r.target.kind == LabelTarget::section || (r.target.kind == LabelTarget::theorem && r.target.ordinal >= 0)) {
        const bool heading = r.target.kind == LabelTarget::section;
        auto& anchor = (heading ? outline.heading_anchors : outline.theorem_anchors)[r.target.ordinal];
        if (anchor.empty()) anchor = make_anchor(outline, key);
        label.anchor = anchor;
        if (heading) label.title = r.heading_title;
    }
    outline.labels.emplace(name, std::move(label));
}

std::string heading_anchor(const RichState& r, std::int64_t heading) {
    const auto found = r.outline.heading_anchors.find(heading);
    return found == r.outline.heading_anchors.end() ? std::string() : found->second;
}

std::string reference_text(const RichState& r, std::string_view command, std::string_view keys, bool linked) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= keys.size()) {
        std::size_t comma = keys.find(',', start);
        if (comma == std::string_view::npos) comma = keys.size();
        std::string_view key = keys.substr(start, comma - start);
        while (!key.empty() && key.front() == ' ') key.remove_prefix(1);
        while (!key.empty() && key.back() == ' ') key.remove_suffix(1);
        if (!key.empty()) parts.push_back(one_reference(r, command, key, linked));
        start = comma + 1;
    }
    std::string text;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i > 0) text.append(i + 1 == parts.size() ? " and " : ", ");
        text.append(parts[i]);
    }
    return text;
}

void declare_theorem(RichState& r, std::string_view name, std::string_view shared,
                     std::string_view printed, std::string_view within, bool numbered) {
    TheoremKind kind;
    kind.printed = std::string(printed);
    if (numbered) {
        kind.counter = std::string(name);
        if (!shared.empty()) {
            const auto other = r.theorems.find(std::string(shared));
            kind.counter = other != r.theorems.end() && !other->second.counter.empty()
                               ? other->second.counter
                               : std::string(shared);
        }
        if (!within.empty()) r.counters.theorem_within[kind.counter] = std::string(within);
    }
    r.theorems[std::string(name)] = std::move(kind);
}

const TheoremKind* theorem_kind(RichState& r, std::string_view environment) {
    const auto found = r.theorems.find(std::string(environment));
    if (found != r.theorems.end()) return &found->second;
    // Papers often declare these in a style file kelvarin does not read:
    // known by their usual names, each numbered on its own.
    static constexpr std::string_view kUsual[] = {
        "theorem", "lemma", "proposition", "corollary", "definition", "example", "remark",
        "conjecture", "claim", "fact", "exercise", "problem", "notation", "observation",
        "assumption", "axiom", "hypothesis", "question", "note", "solution", "property"};
    std::string base(environment);
    if (!base.empty() && base.back() == '*') base.pop_back();
    if (base == "proof") return &r.theorems.emplace(std::string(environment), TheoremKind{"Proof", ""}).first->second;
    if (std::find(std::begin(kUsual), std::end(kUsual), base) == std::end(kUsual)) return nullptr;
    TheoremKind kind{capitalised(base), environment.back() == '*' ? "" : base};
    return &r.theorems.emplace(std::string(environment), std::move(kind)).first->second;
}

}  // namespace kelvarin
