// The block structure of a page, read line by line as the wiki reads it:
// what a line starts with makes it a heading, a list item, a table row, a
// quotation, a plug-in, preformatted text or a line of a paragraph, and
// each new block goes into the innermost open block that may hold it
// (text after a list item goes on in that item, a table row after an item
// goes inside it, an empty line closes everything). docs/markup.md has the
// rules in full.
#ifndef KELVARIN_PREVIEW_WIKI_BLOCKS_H
#define KELVARIN_PREVIEW_WIKI_BLOCKS_H

#include <memory>
#include <string>
#include <vector>

#include "preview/page_facts.h"
#include "preview/wiki_inline.h"

namespace kelvarin::preview {

enum class Kind {
    Body,       // the page
    Paragraph,  // <p>, holding Inline
    Inline,     // lines of text, already HTML
    Heading,    // <h2> to <h4>
    Pre,        // a blank-led line and those after it
    Rule,       // <hr>
    List,       // <ul>, <ol> or <dl>, holding Items
    Item,       // <li>, <dt> or <dd>
    Quote,      // <blockquote>
    Table,      // "|" rows
    CsvTable,   // "," rows
    Plugin,     // a block plug-in: ref, code, contents, or another of the wiki's
    Align,      // LEFT:, CENTER:, RIGHT:
};

struct TableCell {
    std::string html;
    std::string tag = "td";        // "th" for a cell "~text"
    int colspan = 1, rowspan = 1;  // 0: this cell is spanned by another
    std::vector<std::pair<std::string, std::string>> style;  // property, value
};

struct TableRow {
    int line = 0;
    char type = 0;  // 'h' header, 'f' footer, 'c' format, 0 body
    std::vector<TableCell> cells;
};

struct Element {
    Kind kind = Kind::Body;
    Element* parent = nullptr;
    std::vector<std::unique_ptr<Element>> children;
    Element* last = this;  // where the next line goes, as the wiki tracks it
    int level = 0;
    int line = 0;          // the page line it starts on
    std::string tag;       // List: ul, ol, dl; Item: li, dt, dd; Align: left, center, right;
                           // Paragraph: its class; Plugin: its name
    std::vector<std::pair<int, std::string>> lines;  // Inline: HTML per line; Pre and code: text per line
    std::string html;      // Heading: its text; Plugin: what it shows
    std::string id;        // Heading: its id
    bool anchored = false; // Heading: the id is the page's own "[#anchor]"
    int cols = 0;          // Table, CsvTable
    std::vector<TableRow> rows;
};

struct HeadingEntry {
    int level;
    std::string id;
    std::string text;  // plain, for the table of contents
};

struct ReadPage {
    std::unique_ptr<Element> body;
    std::vector<HeadingEntry> headings;
};

// Reads the page's lines into blocks, converting their text with `inline_reader`
// and recording in `facts` how each line was read.
ReadPage read_blocks(const std::vector<std::string>& lines, InlineReader& inline_reader, PageFacts& facts);

// Whether the wiki has a block plug-in of this name ("#name" on a line of
// its own calls it).
bool is_block_plugin(const std::string& name);

}  // namespace kelvarin::preview

#endif
