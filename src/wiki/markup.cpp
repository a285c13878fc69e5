#include "wiki/markup.h"

#include <algorithm>

#include "io/byte_sets.h"

namespace kelvarin::wiki {

namespace {

// The numeric character reference of a byte: "&#42;".
void append_reference(std::string& out, char c) {
    out.append("&#");
    out.append(std::to_string(static_cast<unsigned char>(c)));
    out.push_back(';');
}

// A byte that makes a line something else when the line begins with it: a
// heading, an item, a quotation (or its end), a table row (of cells
// between bars or separated by commas), a block command, preformatted text.
bool is_block_marker(char c) {
    return c == '*' || c == '-' || c == '+' || c == ':' || c == '>' || c == '<' || c == '|' || c == ',' ||
           c == '#' || c == ' ';
}

// The bytes that append_text may have to escape.
const ByteSet kMayNeedEscaping = byte_set("(['|");

}  // namespace

std::string heading(int level, std::string_view title, std::string_view anchor) {
    std::string line(static_cast<std::size_t>(std::clamp(level, 1, 3)), '*');
    line.append(title);
    if (!anchor.empty()) {
        line.append(" [#");
        line.append(anchor);
        line.append("]");
    }
    return line;
}

std::string run_in_title(std::string_view title) {
    std::string line = "-";
    line.append(title);
    line.append(kLineBreak);
    return line;
}

std::string item_marker(bool numbered, int depth) {
    return std::string(static_cast<std::size_t>(std::clamp(depth, 1, 3)), numbered ? '+' : '-');
}

std::string description_item(std::string_view term) {
    std::string start = ":";
    start.append(term);
    start.push_back('|');
    return start;
}

std::string quotation(int depth) { return std::string(static_cast<std::size_t>(std::clamp(depth, 1, 3)), '>'); }

std::string lead_in(std::string_view text, std::string_view anchor) {
    std::string lead;
    if (!anchor.empty()) lead.append("&aname(").append(anchor).append(");");
    lead.append(emphasis_marker(Emphasis::bold));
    lead.append(text);
    lead.push_back('.');
    lead.append(emphasis_marker(Emphasis::bold));
    lead.push_back(' ');
    return lead;
}

std::string right_aligned(std::string_view text) {
    std::string line = "RIGHT:";
    line.append(text);
    return line;
}

void append_image(std::string& out, bool is_inline, std::string_view file, std::string_view parameter,
                  std::string_view scale, std::string_view title) {
    out.append(is_inline ? "&ref(" : "#ref(");
    out.append(file);
    out.push_back(',');
    out.append(parameter);
    out.push_back(',');
    out.append(scale);
    if (!title.empty()) {
        out.push_back(',');
        out.append(title);
    }
    out.append(is_inline ? ");" : ")");
}

std::string block_image(std::string_view file, std::string_view scale) {
    std::string line;
    append_image(line, false, file, "", scale);
    return line;
}

std::string inline_image(std::string_view file, std::string_view scale) {
    std::string text;
    append_image(text, true, file, "", scale);
    return text;
}

std::string table_row(const std::vector<std::string>& cells) {
    std::string row = "|";
    for (const std::string& cell : cells) {
        row.append(cell);
        row.push_back('|');
    }
    return row;
}

std::string header_row(std::string_view row) {
    std::string header(row);
    header.push_back('h');
    return header;
}

std::string caption_row(std::string_view caption) {
    std::string row = "|CENTER:";
    row.append(caption);
    row.push_back('|');
    return row;
}

std::vector<std::string> figure_block(const std::vector<FigurePart>& images,
                                      const std::vector<std::string>& captions) {
    std::vector<std::string> lines;
    if (captions.empty() && images.size() == 1 && images[0].subcaption.empty()) {
        lines.push_back(block_image(images[0].file, images[0].scale));
        return lines;
    }
    for (const FigurePart& image : images) {
        lines.push_back(table_row({inline_image(image.file, image.scale)}));
        if (!image.subcaption.empty()) lines.push_back(caption_row(image.subcaption));
    }
    for (const std::string& caption : captions) lines.push_back(caption_row(caption));
    return lines;
}

std::string_view emphasis_marker(Emphasis kind) {
    switch (kind) {
        case Emphasis::italic: return "'''";
        case Emphasis::bold: return "''";
        case Emphasis::underline: return "%%%";
        case Emphasis::strike: return "%%";
        case Emphasis::none: break;
    }
    return "";
}

std::string link(std::string_view text, std::string_view target) {
    std::string out = "[[";
    // A word before a ":" in a link would be read as the name of another
    // wiki ("[[Later: the case>#later]]"), and the link would leave the page.
    for (const char c : text) {
        if (c == ':')
            append_reference(out, c);
        else
            out.push_back(c);
    }
    out.push_back('>');
    out.append(target);
    out.append("]]");
    return out;
}

std::string footnote(std::string_view text) {
    std::string out = "((";
    out.append(text);
    out.append("))");
    return out;
}

void append_text(std::string& out, std::string_view text, bool in_cell) {
    // Most text holds none of the bytes that may need escaping: it is passed
    // over to the next of them, and appended in whole runs.
    std::size_t done = 0;
    for (std::size_t i = next_in_set(text, 0, text.size(), kMayNeedEscaping); i < text.size();
         i = next_in_set(text, i + 1, text.size(), kMayNeedEscaping)) {
        const char c = text[i];
        const char next = i + 1 < text.size() ? text[i + 1] : '\0';
        // A pair is escaped at its first byte; so is one that the text
        // completes with the byte already on the line.
        const char before = i > 0 ? text[i - 1] : (out.empty() ? '\0' : out.back());
        const bool opens_pair = (c == '(' || c == '[' || c == '\'') && (next == c || (i == 0 && before == c));
        if (!opens_pair && !(in_cell && c == '|')) continue;
        out.append(text, done, i - done);
        append_reference(out, c);
        done = i + 1;
    }
    out.append(text, done, std::string_view::npos);
}

std::string escape_bars(std::string_view text) {
    std::string escaped;
    for (const char c : text) {
        if (c == '|')
            append_reference(escaped, c);
        else
            escaped.push_back(c);
    }
    return escaped;
}

void escape_line_start_in_place(std::string& line, std::size_t from) {
    // "//" begins a comment line, which the wiki does not show.
    const bool comment = from < line.size() && line.compare(from, 2, "//") == 0;
    if (from < line.size() && (is_block_marker(line[from]) || comment)) {
        std::string reference;
        append_reference(reference, line[from]);
        line.replace(from, 1, reference);
    }
}

std::string escape_line_start(std::string_view line, std::size_t from) {
    std::string escaped(line);
    escape_line_start_in_place(escaped, from);
    return escaped;
}

}  // namespace kelvarin::wiki
