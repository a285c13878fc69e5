#include "preview/wiki_blocks.h"

#include <algorithm>

#include "preview/html_text.h"
#include "preview/ref_plugin.h"

namespace kelvarin::preview {

namespace {

using Owned = std::unique_ptr<Element>;

constexpr int kDeepest = 48;  // blocks inside blocks, at most

Owned make(Kind kind, int line) {
    auto e = std::make_unique<Element>();
    e->kind = kind;
    e->line = line;
    return e;
}

std::size_t count_leading(const std::string& s, char c) {
    std::size_t n = 0;
    while (n < s.size() && s[n] == c) ++n;
    return n;
}

std::string ltrim(const std::string& s) {
    std::size_t b = 0;
    while (b < s.size() && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r' || s[b] == '\v')) ++b;
    return s.substr(b);
}

bool is_word_char(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// "[#anchor]" in a heading: the first one whose name is a letter and then at
// least one letter, digit, "_" or "-". Sets `anchor` and removes it.
bool cut_anchor(std::string& text, std::string& anchor) {
    for (std::size_t at = text.find("[#"); at != std::string::npos; at = text.find("[#", at + 1)) {
        std::size_t i = at + 2;
        if (i >= text.size() || !((text[i] >= 'a' && text[i] <= 'z') || (text[i] >= 'A' && text[i] <= 'Z'))) continue;
        ++i;
        while (i < text.size() && (is_word_char(text[i]) || text[i] == '-')) ++i;
        if (i - at - 2 < 2 || i >= text.size() || text[i] != ']') continue;
        anchor = text.substr(at + 2, i - at - 2);
        text = text.substr(0, at) + text.substr(i + 1);
        return true;
    }
    return false;
}

// The cell's leading LEFT:, CENTER:, RIGHT:, COLOR(..):, BGCOLOR(..):, SIZE(n):
std::string cut_cell_styles(std::string text, std::vector<std::pair<std::string, std::string>>& style) {
    const auto set = [&](const std::string& property, const std::string& value) {
        for (auto& [p, v] : style)
            if (p == property) {
                v = value;
                return;
            }
        style.emplace_back(property, value);
    };
    while (true) {
        bool cut = false;
        for (const char* align : {"LEFT:", "CENTER:", "RIGHT:"}) {
            const std::string a(align);
            if (text.compare(0, a.size(), a) == 0) {
                std::string value = a.substr(0, a.size() - 1);
                for (char& c : value) c = static_cast<char>(c - 'A' + 'a');
                set("text-align", value);
                text = text.substr(a.size());
                cut = true;
                break;
            }
        }
        if (cut) continue;
        for (const char* color : {"BGCOLOR(", "COLOR("}) {
            const std::string c(color);
            if (text.compare(0, c.size(), c) != 0) continue;
            std::size_t i = c.size();
            while (i < text.size() && (is_word_char(text[i]) || text[i] == '#')) ++i;
            if (i == c.size() || text.compare(i, 2, "):") != 0) continue;
            set(c[0] == 'B' ? "background-color" : "color", text.substr(c.size(), i - c.size()));
            text = text.substr(i + 2);
            cut = true;
            break;
        }
        if (cut) continue;
        if (text.compare(0, 5, "SIZE(") == 0) {
            std::size_t i = 5;
            while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
            if (i > 5 && text.compare(i, 2, "):") == 0) {
                set("font-size", text.substr(5, i - 5) + "px");
                text = text.substr(i + 2);
                continue;
            }
        }
        return text;
    }
}

// The cells of "a|b|c", split at every "|".
std::vector<std::string> split_bars(const std::string& s) {
    std::vector<std::string> out;
    std::size_t start = 0;
    while (true) {
        const std::size_t bar = s.find('|', start);
        out.push_back(s.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
        if (bar == std::string::npos) return out;
        start = bar + 1;
    }
}

class BlockReader {
public:
    BlockReader(InlineReader& in, PageFacts& facts) : in_(in), facts_(facts) {}

    ReadPage read(const std::vector<std::string>& lines);

private:
    void cut_alignment(std::string& line, int number);
    void gather_block(const std::vector<std::string>& lines, std::size_t& index, std::string& line, int number);
    void read_line(std::string line, int number, std::size_t index);
    Element* add(Element* to, Owned obj);
    Element* insert(Element* into, Owned obj);
    bool can_contain(const Element& self, const Element& obj) const;
    Element* insert_plain(Element* into, Owned obj);

    Owned inline_text(const std::string& text, int line);  // a line of text, or a paragraph for "~text"
    Owned paragraph(std::string text, int line, const std::string& cls = "");
    Owned to_paragraph(Owned inline_element, const std::string& cls);
    Owned heading(const std::string& text, int line);
    Owned list(char head, const std::string& text, int line);
    Owned definition(const std::string& text, int line);
    Owned quote(const std::string& text, int line);
    Owned table(const std::string& text, int line);
    Owned csv_table(const std::string& text, int line);
    Owned division(const std::string& text, int line, bool in_cell);  // "#name(...)": a block plug-in
    TableCell cell(const std::string& text, int line, bool format_row);

    LineFacts& fact(int line) { return facts_.lines[static_cast<std::size_t>(line - 1)]; }

    InlineReader& in_;
    PageFacts& facts_;
    Owned body_;
    Element* last_ = nullptr;
    bool merged_ = false;  // the last insert merged its element into one already there
    std::vector<HeadingEntry> headings_;
};

bool BlockReader::can_contain(const Element& self, const Element& obj) const {
    switch (self.kind) {
        case Kind::Body: return true;
        case Kind::Paragraph:
        case Kind::Inline:
        case Kind::Align: return obj.kind == Kind::Inline;
        case Kind::Pre: return obj.kind == Kind::Pre;
        case Kind::Heading:
        case Kind::Rule:
        case Kind::Plugin: return false;
        case Kind::List: return obj.kind != Kind::List || (obj.tag == self.tag && obj.level == self.level);
        case Kind::Item: return obj.kind != Kind::List || obj.level > self.level;
        case Kind::Quote: return obj.kind != Kind::Quote || obj.level >= self.level;
        case Kind::Table: return obj.kind == Kind::Table && obj.cols == self.cols;
        case Kind::CsvTable: return obj.kind == Kind::CsvTable && obj.cols == self.cols;
    }
    return false;
}

Element* BlockReader::add(Element* to, Owned obj) {
    while (!can_contain(*to, *obj)) to = to->parent;
    // Quotations and lists may hold each other without end (">" and "-"
    // lines in turn); past this depth a block starts again on the page, so
    // that no page makes the preview, or the browser showing it, nest
    // without bound.
    int depth = 0;
    for (const Element* e = to; e->parent; e = e->parent) ++depth;
    if (depth >= kDeepest) to = body_.get();
    return insert(to, std::move(obj));
}

Element* BlockReader::insert_plain(Element* into, Owned obj) {
    obj->parent = into;
    Element* const obj_last = obj->last;
    into->children.push_back(std::move(obj));
    return into->last = obj_last;
}

Element* BlockReader::insert(Element* into, Owned obj) {
    switch (into->kind) {
        case Kind::Body:
            if (obj->kind == Kind::Inline) obj = to_paragraph(std::move(obj), "");
            return insert_plain(into, std::move(obj));
        case Kind::Inline:
        case Kind::Pre:
            for (auto& l : obj->lines) into->lines.push_back(std::move(l));
            merged_ = true;
            return into;
        case Kind::Table:
        case Kind::CsvTable:
            for (auto& r : obj->rows) into->rows.push_back(std::move(r));
            merged_ = true;
            return into;
        case Kind::Heading:
            insert_plain(into, std::move(obj));
            return into->last = into;
        case Kind::Quote:
            if (obj->kind == Kind::Inline) return insert_plain(into, to_paragraph(std::move(obj), "quotation"));
            if (obj->kind == Kind::Quote && obj->level == into->level && !obj->children.empty()) {
                Owned inner = std::move(obj->children.front());
                if (into->last->kind == Kind::Paragraph && !inner->children.empty())
                    inner = std::move(inner->children.front());
                inner->parent = nullptr;
                merged_ = true;
                return insert_plain(into, std::move(inner));
            }
            return insert_plain(into, std::move(obj));
        case Kind::List:
            if (obj->kind != Kind::List) {
                Element* item = into->children.empty() ? into : into->children.back().get();
                return into->last = item == into ? insert_plain(into, std::move(obj)) : insert(item, std::move(obj));
            }
            merged_ = true;
            // An item with nothing in it ("-" alone) adds no item: the text
            // after it goes on in the item before.
            if (obj->children.size() == 1 && obj->children[0]->children.empty())
                return into->children.empty() ? into : into->children.back().get();
            for (auto& item : obj->children) insert_plain(into, std::move(item));
            return into->last;
        default:
            return insert_plain(into, std::move(obj));
    }
}

Owned BlockReader::to_paragraph(Owned inline_element, const std::string& cls) {
    Owned p = make(Kind::Paragraph, inline_element->line);
    p->tag = cls;
    insert_plain(p.get(), std::move(inline_element));
    return p;
}

Owned BlockReader::paragraph(std::string text, int line, const std::string& cls) {
    Owned p = make(Kind::Paragraph, line);
    p->tag = cls;
    if (text.empty()) return p;
    if (text[0] == '~') text = " " + text.substr(1);
    insert_plain(p.get(), inline_text(text, line));
    return p;
}

Owned BlockReader::inline_text(const std::string& text, int line) {
    if (!text.empty() && text[0] == '~') return paragraph(" " + text.substr(1), line);
    Owned e = make(Kind::Inline, line);
    e->lines.emplace_back(line, in_.convert(text, line));
    return e;
}

Owned BlockReader::heading(const std::string& line_text, int line) {
    Owned h = make(Kind::Heading, line);
    h->level = static_cast<int>(std::min<std::size_t>(3, count_leading(line_text, '*')));
    std::string text = line_text.substr(std::min<std::size_t>(3, count_leading(line_text, '*')));
    std::string anchor;
    if (cut_anchor(text, anchor)) {
        h->id = anchor;
        h->anchored = true;
        if (!facts_.anchors.insert(anchor).second) facts_.anchors_again.push_back({line, anchor});
    } else {
        h->id = "_heading-" + std::to_string(headings_.size());
    }
    h->html = in_.convert(text, line);
    headings_.push_back({h->level, h->id, in_.plain_heading(text)});
    fact(line).reading = Reading::Heading;
    fact(line).level = h->level;
    return h;
}

Owned BlockReader::list(char head, const std::string& text, int line) {
    Owned l = make(Kind::List, line);
    l->tag = head == '-' ? "ul" : "ol";
    l->level = static_cast<int>(std::min<std::size_t>(3, count_leading(text, head)));
    const std::string rest = ltrim(text.substr(static_cast<std::size_t>(l->level)));
    Owned item = make(Kind::Item, line);
    item->tag = "li";
    item->level = l->level;
    Element* item_ptr = insert_plain(l.get(), std::move(item));
    if (!rest.empty()) l->last = insert(item_ptr, inline_text(rest, line));
    LineFacts& f = fact(line);
    f.reading = Reading::ListItem;
    f.level = l->level;
    f.mark = head;
    return l;
}

Owned BlockReader::definition(const std::string& text, int line) {
    const std::string trimmed = ltrim(text);
    const std::size_t bar = trimmed.find('|');
    if (bar == std::string::npos) {
        fact(line).reading = Reading::ColonText;
        return inline_text(text, line);
    }
    const std::string term = trimmed.substr(0, bar), description = trimmed.substr(bar + 1);
    Owned l = make(Kind::List, line);
    l->tag = "dl";
    l->level = static_cast<int>(std::min<std::size_t>(3, count_leading(term, ':')));
    const std::string term_text = ltrim(term.substr(static_cast<std::size_t>(l->level)));
    Owned dt = make(Kind::Item, line);
    dt->tag = "dt";
    dt->level = l->level;
    Element* dt_ptr = insert_plain(l.get(), std::move(dt));
    if (!term_text.empty()) l->last = insert(dt_ptr, inline_text(term_text, line));
    Owned dd = make(Kind::Item, line);
    dd->tag = "dd";
    dd->level = l->level;
    Element* dd_ptr = insert_plain(l.get(), std::move(dd));
    if (!description.empty()) l->last = insert(dd_ptr, inline_text(description, line));
    LineFacts& f = fact(line);
    f.reading = Reading::Definition;
    f.level = l->level;
    return l;
}

Owned BlockReader::quote(const std::string& text, int line) {
    Owned q = make(Kind::Quote, line);
    q->level = static_cast<int>(std::min<std::size_t>(3, count_leading(text, '>')));
    const std::string rest = ltrim(text.substr(static_cast<std::size_t>(q->level)));
    insert(q.get(), inline_text(rest, line));
    fact(line).reading = Reading::Quote;
    fact(line).level = q->level;
    return q;
}

TableCell BlockReader::cell(const std::string& raw, int line, bool format_row) {
    TableCell c;
    std::string text = cut_cell_styles(raw, c.style);
    if (format_row && !text.empty() && std::all_of(text.begin(), text.end(), [](char d) { return d >= '0' && d <= '9'; }))
        c.style.emplace_back("width", text + "px");
    if (text == ">") {
        c.colspan = 0;
    } else if (text == "~") {
        c.rowspan = 0;
    } else if (!text.empty() && text[0] == '~') {
        c.tag = "th";
        fact(line).cell_tilde = raw;
        text = text.substr(1);
    }
    if (!text.empty() && text[0] == '#') {
        Owned d = division(text, line, true);
        if (d->kind == Kind::Plugin) {
            c.html = d->html;
            return c;
        }
    }
    Owned e = inline_text(text, line);
    for (const Element* p = e.get(); p; p = p->children.empty() ? nullptr : p->children.front().get())
        if (p->kind == Kind::Inline)
            for (const auto& l : p->lines) c.html += (c.html.empty() ? "" : "\n") + l.second;
    return c;
}

Owned BlockReader::table(const std::string& text, int line) {
    // "|" ... "|" with h, f or c (any case) after it or nothing, and
    // something between.
    std::size_t end = text.size();
    char type = 0;
    if (end >= 2 && text[end - 1] != '|' && std::string("hHfFcC").find(text[end - 1]) != std::string::npos &&
        text[end - 2] == '|') {
        type = static_cast<char>(text[end - 1] | 0x20);
        --end;
    }
    if (end < 3 || text[end - 1] != '|') {
        fact(line).reading = Reading::BarText;
        return inline_text(text, line);
    }
    Owned t = make(Kind::Table, line);
    TableRow row;
    row.line = line;
    row.type = type;
    const std::vector<std::string> cells = split_bars(text.substr(1, end - 2));
    LineFacts& f = fact(line);
    f.reading = Reading::TableRow;
    f.cells = static_cast<int>(cells.size());
    f.caption = cells.size() == 1 && cells[0].compare(0, 7, "CENTER:") == 0;
    for (const std::string& c : cells) row.cells.push_back(cell(c, line, type == 'c'));
    t->cols = static_cast<int>(cells.size());
    t->rows.push_back(std::move(row));
    return t;
}

Owned BlockReader::csv_table(const std::string& text, int line) {
    if (text == ",") return inline_text(text, line);
    Owned t = make(Kind::CsvTable, line);
    TableRow row;
    row.line = line;
    for (const std::string& c : split_plugin_arguments(text.substr(1))) {
        TableCell cell;
        std::string value = c;
        while (!value.empty() && value.front() == ' ') value.erase(0, 1);
        while (!value.empty() && value.back() == ' ') value.pop_back();
        if (value == "==") cell.colspan = 0;
        else cell.html = in_.convert(value, line);
        row.cells.push_back(std::move(cell));
    }
    t->cols = static_cast<int>(row.cells.size());
    t->rows.push_back(std::move(row));
    fact(line).reading = Reading::CsvRow;
    fact(line).cells = t->cols;
    return t;
}

Owned BlockReader::division(const std::string& text, int line, bool in_cell) {
    // "#name", "(args)" up to the last ")" before the first line end, braces.
    std::size_t i = 1;
    while (i < text.size() && text[i] != '(' && text[i] != '{') ++i;
    const std::string name = text.substr(1, i - 1);
    std::string args;
    const std::size_t line_end = std::min(text.find('\r'), text.size());
    if (i < text.size() && text[i] == '(') {
        const std::size_t close = text.rfind(')', line_end == 0 ? 0 : line_end - 1);
        if (close != std::string::npos && close > i) {
            args = text.substr(i + 1, close - i - 1);
            i = close + 1;
        }
    }
    std::size_t braces = 0;
    while (i + braces < text.size() && text[i + braces] == '{') ++braces;
    if (!name.empty() && is_block_plugin(name)) {
        std::vector<std::string> body;
        bool ok = braces == 0;
        if (braces > 0) {
            // "{{" and blanks, a line end, the lines, a line end and "}}",
            // the last such end in the text.
            std::size_t k = i + braces;
            while (k < text.size() && (text[k] == ' ' || text[k] == '\t')) ++k;
            const std::string close = "\r" + std::string(braces, '}');
            const std::size_t stop = text.rfind(close);
            if (k < text.size() && text[k] == '\r' && stop != std::string::npos && stop >= k) {
                ok = true;
                std::string inner = text.substr(k + 1, stop > k ? stop - k - 1 : 0);
                std::size_t from = 0;
                if (stop > k) {
                    while (true) {
                        const std::size_t cr = inner.find('\r', from);
                        body.push_back(inner.substr(from, cr == std::string::npos ? std::string::npos : cr - from));
                        if (cr == std::string::npos) break;
                        from = cr + 1;
                    }
                }
            }
        }
        if (ok) {
            Owned d = make(Kind::Plugin, line);
            d->tag = name;
            if (name == "ref") {
                d->html = in_.block_image(args, line);
            } else if (name == "code") {
                for (std::size_t k = 0; k < body.size(); ++k)
                    d->lines.emplace_back(line + 1 + static_cast<int>(k), body[k]);
            } else if (name != "contents") {
                d->html = "<div class=\"plugin\">" + escape_html("#" + name + (args.empty() ? "" : "(" + args + ")")) +
                          ": a plug-in of the wiki, not shown here</div>";
            }
            if (!in_cell) {
                fact(line).reading = Reading::Plugin;
                fact(line).plugin = name;
            }
            return d;
        }
    }
    if (in_cell) return inline_text(text, line);
    return paragraph(text, line);
}

// "LEFT:", "CENTER:", "RIGHT:" first on a line: an aligned block opens and
// the rest of the line goes into it.
void BlockReader::cut_alignment(std::string& line, int number) {
    for (const char* align : {"LEFT:", "CENTER:", "RIGHT:"}) {
        const std::string a(align);
        if (line.compare(0, a.size(), a) != 0) continue;
        Owned box = make(Kind::Align, number);
        box->tag = a.substr(0, a.size() - 1);
        for (char& c : box->tag) c = static_cast<char>(c - 'A' + 'a');
        last_ = add(last_, std::move(box));
        line = line.substr(a.size());
        fact(number).reading = Reading::Text;
        break;
    }
}

// A block plug-in with "{{" at the end takes the lines up to the first one
// with as many "}" in a row, wherever they stand in it: they join `line`,
// each after a "\r", and `index` moves to the last of them.
void BlockReader::gather_block(const std::vector<std::string>& lines, std::size_t& index, std::string& line,
                               int number) {
    if (line[0] == '#') {
        std::size_t b = line.size();
        while (b > 0 && (line[b - 1] == ' ' || line[b - 1] == '\t')) --b;
        std::size_t braces = 0;
        while (b > braces && line[b - 1 - braces] == '{') ++braces;
        const std::size_t head_end = b - braces;
        if (braces >= 2 && head_end > 1 && line.find('{') == head_end) {
            const std::string close(braces, '}');
            fact(number).reading = Reading::CodeLine;
            std::size_t k = index + 1;
            bool closed = false;
            for (; k < lines.size(); ++k) {
                fact(static_cast<int>(k) + 1).reading = Reading::CodeLine;
                line += "\r" + lines[k];
                if (lines[k].find(close) != std::string::npos) {
                    closed = true;
                    break;
                }
            }
            if (!closed) fact(number).code_open = true;
            else if (lines[k] != close) fact(number).code_cut = static_cast<int>(k) + 1;
            index = std::min(k, lines.size() - 1);
        }
    }
}

// One line that is none of the lines read before it: what it starts with
// makes its block.
void BlockReader::read_line(std::string line, int number, std::size_t index) {
    const char head = line[0];
    if (head == '*') {
        last_ = insert(body_.get(), heading(line, number));
        return;
    }
    if (head == ' ' || head == '\t') {
        Owned pre = make(Kind::Pre, number);
        pre->lines.emplace_back(number, head == ' ' ? line.substr(1) : line);
        fact(number).reading = Reading::Preformatted;
        last_ = add(last_, std::move(pre));
        return;
    }
    if (line.back() == '~') line.back() = '\r';
    merged_ = false;
    if (fact(number).reading == Reading::Empty) fact(number).reading = Reading::Text;
    switch (head) {
        case '-':
        case '+': {
            Owned l = list(head, line, number);
            Element* const l_ptr = l.get();
            last_ = add(last_, std::move(l));
            fact(number).new_block = !merged_;
            fact(number).nested = !merged_ && l_ptr->parent && l_ptr->parent->kind == Kind::Item;
            return;
        }
        case '>':
            last_ = add(last_, quote(line, number));
            return;
        case '<': {
            // Ends the innermost open quotation of that level.
            const int level = static_cast<int>(std::min<std::size_t>(3, count_leading(line, '<')));
            const std::string rest = ltrim(line.substr(static_cast<std::size_t>(level)));
            fact(number).reading = Reading::QuoteEnd;
            Element* open = last_;
            while (open && !(open->kind == Kind::Quote && open->level == level)) open = open->parent;
            if (open) {
                last_ = open->parent;
                if (!rest.empty()) last_ = insert(last_, inline_text(rest, number));
            } else {
                Owned q = make(Kind::Quote, number);
                if (!rest.empty()) insert(q.get(), inline_text(rest, number));
                last_ = add(last_, std::move(q));
            }
            return;
        }
        case ':':
            last_ = add(last_, definition(line, number));
            return;
        case '|': {
            Owned t = table(line, number);
            last_ = add(last_, std::move(t));
            if (fact(number).reading == Reading::TableRow) fact(number).new_block = !merged_;
            return;
        }
        case ',':
            last_ = add(last_, csv_table(line, number));
            return;
        case '#': {
            const bool gathered = fact(number).reading == Reading::CodeLine;
            Owned d = division(line, number, false);
            if (gathered && d->kind != Kind::Plugin)
                for (int k = number; k <= static_cast<int>(index) + 1; ++k) fact(k).reading = Reading::CodeText;
            last_ = add(last_, std::move(d));
            return;
        }
        default:
            if (head == '~') fact(number).reading = Reading::TildeText;
            last_ = add(last_, inline_text(line, number));
    }
}

ReadPage BlockReader::read(const std::vector<std::string>& lines) {
    body_ = make(Kind::Body, 1);
    last_ = body_.get();
    facts_.lines.assign(lines.size(), LineFacts{});
    for (std::size_t index = 0; index < lines.size(); ++index) {
        const int number = static_cast<int>(index) + 1;
        std::string line = lines[index];
        if (line.compare(0, 2, "//") == 0) {
            fact(number).reading = Reading::Comment;
            continue;
        }
        cut_alignment(line, number);
        if (line.empty()) {
            if (fact(number).reading == Reading::Empty) last_ = body_.get();
            continue;
        }
        if (line.compare(0, 4, "----") == 0) {
            fact(number).reading = Reading::Rule;
            last_ = insert(body_.get(), make(Kind::Rule, number));
            continue;
        }
        gather_block(lines, index, line, number);
        read_line(line, number, index);
    }
    ReadPage page;
    page.body = std::move(body_);
    page.headings = std::move(headings_);
    return page;
}

}  // namespace

bool is_block_plugin(const std::string& name) {
    // Which plug-ins a wiki has installed is the wiki's business: any name
    // of letters, digits and "_" may be one, so the preview takes every such
    // line for a call and the check says so (ref, code and contents are the
    // ones kelvarin writes).
    if (name.empty() || !((name[0] >= 'a' && name[0] <= 'z') || (name[0] >= 'A' && name[0] <= 'Z'))) return false;
    for (const char c : name)
        if (!is_word_char(c)) return false;
    return true;
}

ReadPage read_blocks(const std::vector<std::string>& lines, InlineReader& inline_reader, PageFacts& facts) {
    return BlockReader(inline_reader, facts).read(lines);
}

}  // namespace kelvarin::preview
