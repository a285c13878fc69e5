#include "preview/checks.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <set>

namespace kelvarin::preview {

namespace {

bool is_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

std::string shortened(const std::string& s, std::size_t most = 60) {
    if (s.size() <= most) return s;
    std::size_t cut = most;
    while (cut > 0 && (static_cast<unsigned char>(s[cut]) & 0xC0) == 0x80) --cut;
    return s.substr(0, cut) + "…";
}

std::string quoted(const std::string& s) { return "\"" + s + "\""; }

std::string plural(std::size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

// "paper.eq12.gif": an image of the equation document paper.eq.tex, the
// twelfth; with no folder, and of a type kelvarin-render makes.
bool formula_image(const std::string& name, std::string& stem, long& number) {
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos || name.find('/') != std::string::npos) return false;
    const std::string ext = name.substr(dot + 1);
    if (ext != "gif" && ext != "png" && ext != "svg") return false;
    std::size_t digits = dot;
    while (digits > 0 && name[digits - 1] >= '0' && name[digits - 1] <= '9') --digits;
    if (digits == dot || dot - digits > 9 || digits < 4 || name.compare(digits - 3, 3, ".eq") != 0) return false;
    stem = name.substr(0, digits - 3);
    number = std::stol(name.substr(digits, dot - digits));
    return !stem.empty();
}

// Character references in hexadecimal that the wiki leaves as they are
// written, because of an upper-case "X" or digit: "&#X2A;", "&#x2A;".
std::vector<std::string> references_shown(const std::string& text) {
    std::vector<std::string> found;
    for (std::size_t i = text.find("&#"); i != std::string::npos; i = text.find("&#", i + 2)) {
        if (i + 2 >= text.size() || (text[i + 2] != 'x' && text[i + 2] != 'X')) continue;
        std::size_t k = i + 3;
        bool upper = text[i + 2] == 'X';
        while (k < text.size() && std::isxdigit(static_cast<unsigned char>(text[k]))) {
            upper = upper || (text[k] >= 'A' && text[k] <= 'F');
            ++k;
        }
        if (k > i + 3 && k < text.size() && text[k] == ';' && upper) found.push_back(text.substr(i, k + 1 - i));
    }
    return found;
}

// Names in their formulas' order: all of them when few, else the first and
// the last.
std::string listing(std::vector<std::pair<long, std::string>>& names) {
    std::sort(names.begin(), names.end());
    if (names.size() <= 3) {
        std::string out;
        for (std::size_t i = 0; i < names.size(); ++i)
            out += (i == 0 ? "" : i + 1 == names.size() ? " and " : ", ") + names[i].second;
        return out;
    }
    return names.front().second + " to " + names.back().second;
}

// "figs/plot": LaTeX finds figs/plot.pdf or figs/plot.png by itself, the
// wiki needs the file's whole name.
bool names_no_type(const std::string& name) {
    const std::size_t slash = name.rfind('/');
    const std::size_t dot = name.rfind('.');
    return dot == std::string::npos || (slash != std::string::npos && dot < slash);
}

class Checker {
public:
    Checker(const std::vector<std::string>& lines, const PageFacts& facts, ImageShelf& images, const std::string& stem)
        : lines_(lines), facts_(facts), images_(images), stem_(stem) {}

    std::vector<Finding> run() {
        if (std::all_of(lines_.begin(), lines_.end(), [](const std::string& line) { return line.empty(); }))
            add(0, "empty page",
                "the page shows nothing; kelvarin writes an empty page for a source without \\begin{document}, "
                "such as a chapter on its own (see \"Books and multi-file papers\" in kelvarin's README)");
        images();
        texts();
        links();
        line_readings();
        std::stable_sort(found_.begin(), found_.end(), [](const Finding& a, const Finding& b) {
            return (a.line == 0 ? 1 << 30 : a.line) < (b.line == 0 ? 1 << 30 : b.line);
        });
        return found_;
    }

private:
    // A message quotes the page, and a quote may cross the lines of a block
    // joined for reading: each finding stays on one line.
    void add(int line, const std::string& kind, std::string message) {
        for (char& c : message)
            if (c == '\r') c = ' ';
        found_.push_back({line, kind, std::move(message)});
    }
    void images();
    std::string typed_file(const std::string& name);
    std::string not_web_image(const std::string& name);
    void texts();
    void links();
    void line_readings();
    const LineFacts& at(int line) const { return facts_.lines[static_cast<std::size_t>(line - 1)]; }

    const std::vector<std::string>& lines_;
    const PageFacts& facts_;
    ImageShelf& images_;
    const std::string stem_;
    std::vector<Finding> found_;
};

void Checker::images() {
    // Each image once, at the first line that names it.
    std::map<std::string, std::pair<int, std::set<int>>> uses;
    std::vector<std::string> order;
    for (const ImageUse& use : facts_.images) {
        auto [it, fresh] = uses.try_emplace(use.name, use.line, std::set<int>{});
        it->second.second.insert(use.line);
        if (fresh) order.push_back(use.name);
    }
    // Formula images (kelvarin-render makes them all at once) missing or
    // left over are reported together, per page they belong to.
    std::map<std::string, std::vector<std::pair<long, std::string>>> missing_formulas;
    std::map<std::string, int> missing_formulas_line;
    for (const std::string& name : order) {
        const int line = uses[name].first;
        const std::size_t others = uses[name].second.size() - 1;
        const std::string also = others ? " (and on " + plural(others, "more line", "more lines") + ")" : "";
        const ImageFile& file = images_.file(name);
        std::string formula_stem;
        long number = 0;
        if (!file.found && formula_image(name, formula_stem, number)) {
            missing_formulas[formula_stem].emplace_back(number, name);
            missing_formulas_line.try_emplace(formula_stem, line);
        } else if (!file.found && !names_no_type(name)) {
            add(line, "missing image", name + " is named here" + also +
                                           " but is not in the page's folder: put it there, to upload it with the page");
        }
        if (!file.web_image) add(line, "not a web image", not_web_image(name));
        if (names_no_type(name) && !typed_file(name).empty()) uses.try_emplace(typed_file(name), line, std::set<int>{});
        const std::size_t slash = name.rfind('/');
        if (slash != std::string::npos && name[0] != '/')
            add(line, "image in a folder",
                name + ": the wiki reads " + quoted(name.substr(0, slash)) + " as the name of another page and looks for " +
                    name.substr(slash + 1) + " among that page's attachments; put it beside the page as " +
                    name.substr(slash + 1) + " and name it so");
    }
    for (auto& [formula_stem, names] : missing_formulas) {
        const int line = missing_formulas_line[formula_stem];
        if (names.size() == 1) {
            add(line, "missing image", names[0].second + " is named here but is not on disk (kelvarin-render " +
                                           formula_stem + ".eq.tex makes it)");
            continue;
        }
        add(line, "missing image", plural(names.size(), "formula image", "formula images") + " named here and below (" +
                                       listing(names) + ") are not on disk (kelvarin-render " + formula_stem +
                                       ".eq.tex makes them)");
    }
    std::vector<std::pair<long, std::string>> unused_formulas;
    for (const std::string& name : images_.web_images_on_disk(order)) {
        if (uses.count(name)) continue;
        std::string formula_stem;
        long number = 0;
        if (formula_image(name, formula_stem, number)) {
            if (formula_stem == stem_) unused_formulas.emplace_back(number, name);
            continue;
        }
        add(0, "unused image", name + " is on disk but the page does not name it");
    }
    if (unused_formulas.size() == 1)
        add(0, "unused image", unused_formulas[0].second + " is on disk but the page does not name it");
    else if (!unused_formulas.empty())
        add(0, "unused image", plural(unused_formulas.size(), "formula image", "formula images") + " (" +
                                   listing(unused_formulas) + ") are on disk but the page does not name them");
}

// The web image on disk that a name without a file type means, or "".
std::string Checker::typed_file(const std::string& name) {
    for (const char* type : {"png", "svg", "jpg", "jpeg", "gif"})
        if (images_.file(name + "." + type).found) return name + "." + type;
    return "";
}

// What to do about a figure the wiki cannot show as a picture.
std::string Checker::not_web_image(const std::string& name) {
    if (!names_no_type(name))
        return name + ": the wiki shows a link to this file, not a picture; make it a gif, png, jpeg or svg";
    const std::string typed = typed_file(name);
    return name + " names no file type, as LaTeX allows: the wiki needs the whole name" +
           (typed.empty() ? std::string(" of a gif, png, jpeg or svg file") : ", " + typed);
}

void Checker::texts() {
    std::map<int, std::vector<std::string>> commands;
    std::set<int> question_marks;
    for (const LineText& t : facts_.texts) {
        for (const std::string& c : latex_commands(t.text)) {
            auto& list = commands[t.line];
            if (std::find(list.begin(), list.end(), c) == list.end()) list.push_back(c);
        }
        if (t.text.find("??") != std::string::npos && question_marks.insert(t.line).second)
            add(t.line, "?? reference", "\"??\" stands where LaTeX found no label for a reference: the label the "
                                        "source refers to is missing or misspelt there");
        for (const std::string& r : references_shown(t.text))
            add(t.line, "escape", r + " shows as written: the wiki takes a hexadecimal reference only as \"&#x\" "
                                       "and lower-case digits (or write it in decimal)");
    }
    for (const auto& [line, list] : commands) {
        std::string names;
        for (const std::string& c : list) names += (names.empty() ? "" : ", ") + c;
        add(line, "LaTeX left", names);
    }
    std::set<std::pair<int, std::string>> leftovers;
    for (const Leftover& l : facts_.leftovers)
        if (leftovers.insert({l.line, l.marks}).second)
            add(l.line, "unbalanced emphasis",
                l.marks + " has no partner on its line: the wiki shows the marks as written");
    std::set<int> cut;
    for (const int line : facts_.notes_cut)
        if (cut.insert(line).second)
            add(line, "footnote",
                "a footnote ends with \")\": the wiki ends it at the first \"))\", so one \")\" shows after it");
}

void Checker::links() {
    // What the headings write as "[#name]", anchors or not: a one-letter
    // one is no anchor, and a link to it deserves the reason.
    std::set<std::string> written;
    for (const std::string& line : lines_) {
        if (line.empty() || line[0] != '*') continue;
        for (std::size_t at = line.find("[#"); at != std::string::npos; at = line.find("[#", at + 2)) {
            const std::size_t close = line.find(']', at + 2);
            if (close == std::string::npos) break;
            written.insert(line.substr(at + 2, close - at - 2));
        }
    }
    std::set<std::pair<int, std::string>> seen;
    for (const AnchorLink& link : facts_.links) {
        if (facts_.anchors.count(link.anchor) || !seen.insert({link.line, link.anchor}).second) continue;
        std::string message = "#" + link.anchor + ": no heading has this anchor";
        if (written.count(link.anchor))
            message += " (the wiki takes a heading's [#" + link.anchor + "] only with two characters or more)";
        add(link.line, "broken link", message);
    }
    for (const AnchorLink& again : facts_.anchors_again)
        add(again.line, "duplicate anchor",
            "#" + again.anchor + ": a heading above has this anchor too, and links to it jump there");
    for (const OtherWikiLink& link : facts_.other_wikis)
        add(link.line, "broken link",
            shortened(link.written) + ": the wiki reads " + quoted(link.name + ":") +
                " as the name of another wiki, so this is no link within the page; write that \":\" as \"&#58;\"");
}

void Checker::line_readings() {
    const int count = static_cast<int>(facts_.lines.size());
    for (int line = 1; line <= count; ++line) {
        const LineFacts& f = at(line);
        switch (f.reading) {
            case Reading::Preformatted: {
                int last = line;
                while (last < count && at(last + 1).reading == Reading::Preformatted) ++last;
                const std::string more = last == line       ? ""
                                         : last == line + 1 ? " (and the line after it)"
                                                            : " (and the " + std::to_string(last - line) + " lines after it)";
                add(line, "line start",
                    "starts with a blank or a tab: the wiki shows it" + more + " as preformatted text");
                line = last;
                break;
            }
            case Reading::Comment:
                add(line, "line start", "starts with \"//\": the wiki hides the line as a comment");
                break;
            case Reading::Rule:
                add(line, "line start",
                    "starts with \"----\": the wiki draws a horizontal rule and drops the rest of the line");
                break;
            case Reading::TildeText:
                add(line, "line start", "starts with \"~\": the wiki drops the \"~\" and starts a new paragraph");
                break;
            case Reading::QuoteEnd:
                add(line, "line start", "starts with \"<\": the wiki drops it and takes it for the end of a quotation");
                break;
            case Reading::Plugin:
                if (f.plugin != "ref" && f.plugin != "code" && f.plugin != "contents")
                    add(line, "line start", "starts with \"#" + f.plugin + "\": the wiki reads it as a call of its plug-in " +
                                                quoted(f.plugin));
                break;
            case Reading::CsvRow:
                add(line, "table", "starts with \",\": the wiki reads it as a row of a table of comma-separated values");
                break;
            case Reading::BarText:
                add(line, "table",
                    "starts with \"|\" but does not end with \"|\" (or \"|h\", \"|c\", \"|f\"): the wiki shows it as text");
                break;
            case Reading::TableRow: {
                const LineFacts* above = line > 1 ? &at(line - 1) : nullptr;
                if (f.new_block && above && above->reading == Reading::TableRow && above->cells != f.cells &&
                    !f.caption && !above->caption)
                    add(line, "table", "has " + plural(static_cast<std::size_t>(f.cells), "cell", "cells") +
                                           " and the row above " + std::to_string(above->cells) +
                                           ": the wiki starts a new table here");
                break;
            }
            case Reading::ColonText:
                add(line, "list", "starts with \":\" but has no \"|\": the wiki shows it as text, not as a term and its description");
                break;
            case Reading::ListItem:
                if (f.new_block && !f.nested && f.level > 1)
                    add(line, "list", "a level-" + std::to_string(f.level) + " item (" + std::string(static_cast<std::size_t>(f.level), f.mark) +
                                          ") with no level-1 item above it: the wiki starts a new list here");
                break;
            case Reading::CodeLine:
            case Reading::CodeText:
                if (f.code_open)
                    add(line, "code block", "no line \"}}\" ends this block: the wiki shows it and the rest of the page as text");
                else if (f.code_cut && f.reading == Reading::CodeText)
                    add(line, "code block", "the wiki ends this block at line " + std::to_string(f.code_cut) +
                                                ", the first with \"}}\" in it, and then shows it as text");
                else if (f.code_cut)
                    add(line, "code block", "the wiki ends this block at line " + std::to_string(f.code_cut) +
                                                ", the first with \"}}\" in it");
                break;
            default:
                break;
        }
        if (!f.cell_tilde.empty())
            add(line, "table", "the cell " + quoted(shortened(f.cell_tilde, 30)) +
                                   " starts with \"~\": the wiki makes it a header cell and drops the \"~\"");
    }
}

}  // namespace

std::vector<std::string> latex_commands(const std::string& text) {
    static const std::string kEscaped = "\\,;:!%&$#_{}[]()^~\"'`@|";
    std::vector<std::string> found;
    for (std::size_t i = text.find('\\'); i != std::string::npos && i + 1 < text.size(); i = text.find('\\', i + 1)) {
        std::size_t end = i + 1;
        while (end < text.size() && is_letter(text[end])) ++end;
        if (end == i + 1) {
            if (kEscaped.find(text[i + 1]) == std::string::npos) continue;
            end = i + 2;
        }
        const std::string command = text.substr(i, end - i);
        if (std::find(found.begin(), found.end(), command) == found.end()) found.push_back(command);
        i = end - 1;
    }
    return found;
}

std::vector<Finding> check_page(const std::vector<std::string>& lines, const PageFacts& facts, ImageShelf& images,
                                const std::string& stem) {
    return Checker(lines, facts, images, stem).run();
}

}  // namespace kelvarin::preview
