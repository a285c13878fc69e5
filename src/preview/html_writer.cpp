#include "preview/html_writer.h"

#include <algorithm>
#include <map>

#include "preview/html_text.h"

namespace kelvarin::preview {

namespace {

// The style of a wiki of this mark-up: its headings, lists, tables, code
// and footnotes; and the preview's own bar and check list above the page.
const char* const kStyle = R"css(
body { margin: 0; background: #fff; color: #222; font-family: "DejaVu Sans", Verdana, Arial, sans-serif;
       font-size: 15px; line-height: 1.45; }
.preview-bar { background: #2f4f6f; color: #fff; padding: .45em 1em; font-size: 13px; }
.preview-bar b { font-weight: bold; }
details.check { margin: .8em 1em 0; border: 1px solid #d9b650; background: #fff8dc; border-radius: 4px;
                padding: .3em .8em; font-size: 13px; }
details.check.clean { border-color: #8fbc8f; background: #f0fff0; }
details.check summary { cursor: pointer; font-weight: bold; }
details.check ol { margin: .4em 0 .3em; padding-left: 2.2em; }
details.check .kind { font-weight: bold; }
#page { max-width: 56em; margin: 0 auto; padding: .5em 1.5em 2em; }
h2, h3, h4 { font-family: inherit; color: inherit; margin: .8em 0 .4em; }
h2 { font-size: 1.45em; background: #dde8f6; border: 1px solid #dde8f6; padding: .25em .4em; }
h3 { font-size: 1.25em; border-left: 10px solid #dde8f6; border-bottom: 3px solid #dde8f6; padding: .15em .4em; }
h4 { font-size: 1.1em; border-left: 6px solid #dde8f6; padding: .1em .4em; }
a { color: #215dc6; text-decoration: none; }
a:hover { text-decoration: underline; }
a.anchor-mark { font-size: .6em; vertical-align: super; color: #999; margin-left: .3em; }
a.note-mark { color: #d33; font-size: .7em; font-weight: bold; vertical-align: super; margin: 0 .1em; }
a.page-link, a.other-wiki { border-bottom: 1px dashed #215dc6; }
p { margin: .5em 0; }
ul, ol { padding-left: 16px; margin: .3em 0 .3em 16px; }
dl { margin: .3em 0 .3em 16px; }
dt { font-weight: bold; }
dd { margin-left: 2em; }
li { margin: .1em 0; }
blockquote { margin: .5em 2em; padding: 0 .6em; border-left: 3px solid #ccd; }
p.quotation { margin: .3em 0; }
pre { background: #f0f6ff; border: 1px solid #9aa; padding: .5em; overflow: auto; font-size: 13px;
      white-space: pre; line-height: 1.3; }
pre.code { background: #fafafa; border-color: #bbb; }
hr { border: none; border-top: 1px solid #999; margin: 1em 0; }
table.wiki-table { border-collapse: separate; border-spacing: 1px; background: #ccd5dd; margin: .6em auto;
                    text-align: left; }
table.wiki-table td, table.wiki-table th { background: #eef5ff; padding: 4px 8px; }
table.wiki-table thead td, table.wiki-table tfoot td { background: #d0d8e0; }
table.wiki-table th { background: #e0e8f0; }
img { border: none; vertical-align: middle; }
div.ref { margin: .5em 0; }
.ref-error { color: #b00; background: #fee; }
div.plugin { color: #666; border: 1px dashed #aaa; padding: .3em .6em; margin: .5em 0; font-size: 13px; }
div.contents { border: 1px solid #ccd; background: #f8f8ff; padding: .3em .8em; margin: .5em 0; display: inline-block; }
#note { margin-top: 2em; font-size: .9em; }
#note span.small { font-size: .95em; }
ins { text-decoration: underline; }
[data-finding], [data-finding] > td, [data-finding] > th { background-color: #fff6d5; }
:target { outline: 2px solid #e0b000; outline-offset: 2px; }
)css";

class Renderer {
public:
    Renderer(const std::vector<HeadingEntry>& headings) : headings_(headings) {}

    void element(const Element& e);
    PageHtml page;

private:
    std::string& out() { return page.html; }
    void open(const std::string& tag, int line, const std::string& attributes = "", const std::string& id = "");
    void newline() {
        if (!out().empty() && out().back() != '\n') out() += '\n';
    }
    void children(const Element& e);
    void list(const Element& e);
    void plugin(const Element& e);
    void table(const Element& e);
    void contents();

    const std::vector<HeadingEntry>& headings_;
    bool contents_shown_ = false;  // the first "#contents" has its table
};

void Renderer::open(const std::string& tag, int line, const std::string& attributes, const std::string& id) {
    out() += "<" + tag;
    if (line > 0) page.starts.push_back({line, out().size(), id});
    out() += attributes + ">";
}

void Renderer::children(const Element& e) {
    bool first = true;
    for (const auto& child : e.children) {
        if (!first) newline();
        first = false;
        element(*child);
    }
}

void Renderer::element(const Element& e) {
    switch (e.kind) {
        case Kind::Body:
            children(e);
            newline();
            return;
        case Kind::Inline:
            for (std::size_t i = 0; i < e.lines.size(); ++i) out() += (i ? "\n" : "") + e.lines[i].second;
            return;
        case Kind::Paragraph:
            open("p", e.line, e.tag.empty() ? "" : " class=\"" + e.tag + "\"");
            children(e);
            out() += "</p>\n";
            return;
        case Kind::Heading: {
            const std::string tag = "h" + std::to_string(e.level + 1);
            open(tag, e.line, " id=\"" + escape_html(e.id) + "\"", e.id);
            out() += e.html;
            if (e.anchored) out() += " <a class=\"anchor-mark\" href=\"#" + escape_html(e.id) + "\">&dagger;</a>";
            out() += "</" + tag + ">\n";
            return;
        }
        case Kind::Pre: {
            open("pre", e.line);
            for (std::size_t i = 0; i < e.lines.size(); ++i) out() += (i ? "\n" : "") + escape_html(e.lines[i].second);
            out() += "</pre>\n";
            return;
        }
        case Kind::Rule:
            open("hr", e.line, " class=\"rule\" /");
            out() += "\n";
            return;
        case Kind::List:
            list(e);
            return;
        case Kind::Item:
            open(e.tag, e.line);
            children(e);
            out() += "</" + e.tag + ">\n";
            return;
        case Kind::Quote:
            open("blockquote", e.line);
            out() += "\n";
            children(e);
            newline();
            out() += "</blockquote>\n";
            return;
        case Kind::Align:
            open("div", e.line, " style=\"text-align:" + e.tag + "\"");
            children(e);
            out() += "</div>\n";
            return;
        case Kind::Table:
        case Kind::CsvTable:
            table(e);
            return;
        case Kind::Plugin:
            plugin(e);
            return;
    }
}

// A list, indented by how many levels deeper it is than the list its
// item stands in, so that "---" under "-" stands two steps in.
void Renderer::list(const Element& e) {
    int step = e.level;
    if (e.parent && e.parent->kind == Kind::Item && e.parent->parent && e.parent->parent->kind == Kind::List)
        step -= e.parent->parent->level;
    std::string attributes = " class=\"list" + std::to_string(e.level) + "\"";
    if (step != 1) {
        const std::string margin = std::to_string(16 * std::max(step, 0));
        attributes += " style=\"padding-left:" + margin + "px;margin-left:" + margin + "px\"";
    }
    open(e.tag, 0, attributes);
    out() += "\n";
    children(e);
    newline();
    out() += "</" + e.tag + ">\n";
}

// A block plug-in: a code block, the table of contents, an image or the
// box that stands for a plug-in the preview does not run.
void Renderer::plugin(const Element& e) {
    if (e.tag == "code") {
        open("pre", e.line, " class=\"code\"");
        for (std::size_t i = 0; i < e.lines.size(); ++i)
            out() += (i ? "\n" : "") + escape_html(e.lines[i].second);
        out() += "</pre>\n";
    } else if (e.tag == "contents" && contents_shown_) {
        // The same table again would only repeat it, and a page of
        // many headings and many "#contents" would grow as their
        // product: a link to the first instead.
        open("div", e.line, " class=\"contents\"");
        out() += "<a href=\"#_contents\">the table of contents, as above</a></div>\n";
    } else if (e.tag == "contents") {
        open("div", e.line, " id=\"_contents\" class=\"contents\"", "_contents");
        out() += "\n";
        contents();
        out() += "</div>\n";
        contents_shown_ = true;
    } else {
        const std::size_t name_end = e.html.find_first_of(" >");
        if (e.html.size() > 1 && e.html[0] == '<' && name_end != std::string::npos)
            page.starts.push_back({e.line, out().size() + name_end, ""});
        out() += e.html + "\n";
    }
}

void Renderer::table(const Element& e) {
    // The wiki's own table rules: "~" spans the cell above (counted from the
    // bottom), ">" the cell to the right; a row spanned keeps the type of the
    // row its cell starts in; a "c" row gives its cells' style to the cells
    // below it; header rows go first, then footer rows, then the body.
    std::vector<TableRow> rows = e.rows;
    const std::size_t cols = static_cast<std::size_t>(e.cols);
    std::vector<char> types;
    for (const TableRow& r : rows) types.push_back(r.type);
    for (std::size_t c = 0; c < cols; ++c) {
        int span = 1;
        for (std::size_t r = rows.size(); r-- > 0;) {
            if (c >= rows[r].cells.size()) continue;
            TableCell& cell = rows[r].cells[c];
            if (cell.rowspan == 0) {
                ++span;
                continue;
            }
            cell.rowspan = span;
            while (--span) types[r + static_cast<std::size_t>(span)] = types[r];
            span = 1;
        }
    }
    const TableRow* style_row = nullptr;
    for (std::size_t r = 0; r < rows.size(); ++r) {
        if (types[r] == 'c') style_row = &e.rows[r];
        int span = 1;
        for (std::size_t c = 0; c < rows[r].cells.size(); ++c) {
            TableCell& cell = rows[r].cells[c];
            if (cell.colspan == 0) {
                ++span;
                continue;
            }
            cell.colspan = span;
            if (style_row && c < style_row->cells.size()) {
                const auto inherit = [&](TableCell& into) {
                    for (const auto& [property, value] : style_row->cells[c].style) {
                        bool has = false;
                        for (const auto& own : into.style) has = has || own.first == property;
                        if (!has) into.style.emplace_back(property, value);
                    }
                };
                inherit(cell);
                for (int k = 1; k < span; ++k) inherit(rows[r].cells[c - static_cast<std::size_t>(k)]);
            }
            span = 1;
        }
    }
    open("table", rows.empty() ? 0 : rows[0].line, " class=\"wiki-table\"");
    out() += "\n";
    for (const auto& [type, part] : {std::pair<char, const char*>{'h', "thead"}, {'f', "tfoot"}, {0, "tbody"}}) {
        bool any = false;
        for (std::size_t r = 0; r < rows.size(); ++r) {
            if (types[r] != type) continue;
            if (!any) out() += std::string("<") + part + ">\n";
            any = true;
            open("tr", rows[r].line);
            for (const TableCell& cell : rows[r].cells) {
                if (cell.rowspan == 0 || cell.colspan == 0) continue;
                std::string attributes;
                if (cell.rowspan > 1) attributes += " rowspan=\"" + std::to_string(cell.rowspan) + "\"";
                if (cell.colspan > 1) attributes += " colspan=\"" + std::to_string(cell.colspan) + "\"";
                std::string style;
                for (const auto& [property, value] : cell.style) {
                    if (property == "width" && cell.colspan > 1) continue;
                    style += (style.empty() ? "" : " ") + property + ":" + escape_html(value) + ";";
                }
                if (!style.empty()) attributes += " style=\"" + style + "\"";
                out() += "<" + cell.tag + attributes + ">" + cell.html + "</" + cell.tag + ">";
            }
            out() += "</tr>\n";
        }
        if (any) out() += std::string("</") + part + ">\n";
    }
    out() += "</table>\n";
}

void Renderer::contents() {
    int depth = 0;
    for (const HeadingEntry& h : headings_) {
        if (depth >= h.level) {
            out() += "</li>\n";
            for (; depth > h.level; --depth) out() += "</ul>\n</li>\n";
        } else {
            for (; depth < h.level; ++depth) {
                if (depth > 0) out() += "\n";
                out() += "<ul class=\"list" + std::to_string(depth + 1) + "\">\n";
            }
        }
        out() += "<li><a href=\"#" + escape_html(h.id) + "\">" + h.text + "</a>";
    }
    if (depth == 0) return;
    out() += "</li>\n";
    for (; depth > 1; --depth) out() += "</ul>\n</li>\n";
    out() += "</ul>\n";
}

}  // namespace

PageHtml render_page(const ReadPage& page, const std::vector<std::string>& notes) {
    Renderer renderer(page.headings);
    renderer.element(*page.body);
    if (!notes.empty()) {
        std::string& out = renderer.page.html;
        out += "<div id=\"note\">\n<hr class=\"notes-rule\" />\n";
        for (const std::string& note : notes) out += note + "\n";
        out += "</div>\n";
    }
    return std::move(renderer.page);
}

std::string kinds_counted(const std::vector<Finding>& findings) {
    std::vector<std::pair<std::string, std::size_t>> kinds;  // in the order first met
    for (const Finding& f : findings) {
        auto known = std::find_if(kinds.begin(), kinds.end(), [&](const auto& k) { return k.first == f.kind; });
        if (known == kinds.end()) kinds.emplace_back(f.kind, 1);
        else ++known->second;
    }
    std::string out;
    for (const auto& [kind, n] : kinds) out += (out.empty() ? "" : ", ") + std::to_string(n) + " " + kind;
    return out;
}

std::string write_preview(const std::string& title, PageHtml page, const std::vector<Finding>& findings) {
    // Each finding links to the block its line belongs to: the last block
    // that starts on that line or before it. Blocks linked to get an id, and
    // a mark that tints them, so that they stand out on the page too.
    std::vector<PageHtml::Start> starts = page.starts;
    std::stable_sort(starts.begin(), starts.end(),
                     [](const PageHtml::Start& a, const PageHtml::Start& b) { return a.line < b.line; });
    std::map<std::size_t, std::string> marks;  // offset in the page HTML -> attributes to insert there
    std::vector<std::string> targets;
    for (const Finding& f : findings) {
        std::string target;
        if (f.line > 0) {
            auto after = std::upper_bound(starts.begin(), starts.end(), f.line,
                                          [](int line, const PageHtml::Start& s) { return line < s.line; });
            if (after != starts.begin()) {
                const PageHtml::Start& s = *(after - 1);
                target = s.id.empty() ? "_line-" + std::to_string(s.line) : s.id;
                marks[s.at] = (s.id.empty() ? " id=\"" + target + "\"" : std::string()) + " data-finding";
            }
        }
        targets.push_back(target);
    }
    std::string body;
    body.reserve(page.html.size() + marks.size() * 32);
    std::size_t done = 0;
    for (const auto& [at, attributes] : marks) {
        body.append(page.html, done, at - done);
        body += attributes;
        done = at;
    }
    body.append(page.html, done, std::string::npos);

    std::string html;
    html.reserve(body.size() + 8192);
    html += "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n";
    html += "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n";
    html += "<meta name=\"generator\" content=\"kelvarin-preview\">\n";
    html += "<title>" + escape_html(title) + " (preview)</title>\n<style>" + std::string(kStyle) + "</style>\n";
    html += "</head>\n<body>\n";
    html += "<header class=\"preview-bar\">Preview of <b>" + escape_html(title) +
            "</b>: the page as the wiki shows it, with the images of its folder</header>\n";
    const std::size_t n = findings.size();
    html += std::string("<details id=\"check\" class=\"check") + (n ? "" : " clean") + "\">\n<summary>";
    html += n == 0 ? std::string("The check found nothing to fix")
                   : "The check found " + std::to_string(n) + (n == 1 ? " thing" : " things") + " to fix (" +
                         escape_html(kinds_counted(findings)) + ")";
    html += "</summary>\n";
    if (n) {
        html += "<ol>\n";
        for (std::size_t i = 0; i < n; ++i) {
            const Finding& f = findings[i];
            html += "<li>";
            if (f.line > 0) {
                const std::string where = "line " + std::to_string(f.line);
                html += targets[i].empty() ? where : "<a href=\"#" + targets[i] + "\">" + where + "</a>";
                html += ": ";
            }
            html += "<span class=\"kind\">" + escape_html(f.kind) + "</span>: " + escape_html(f.message) + "</li>\n";
        }
        html += "</ol>\n";
    }
    html += "</details>\n<main id=\"page\">\n" + body + "</main>\n</body>\n</html>\n";
    return html;
}

}  // namespace kelvarin::preview
