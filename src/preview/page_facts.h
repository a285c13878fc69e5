// What reading a page learns for the check: how the wiki reads each line,
// and what the page's text names, links and leaves over. The readers fill
// it in; the check (checks.h) judges it.
#ifndef KELVARIN_PREVIEW_PAGE_FACTS_H
#define KELVARIN_PREVIEW_PAGE_FACTS_H

#include <set>
#include <string>
#include <vector>

namespace kelvarin::preview {

// How the wiki reads one line of the page, by what it starts with.
enum class Reading {
    Empty,       // nothing: ends every open block
    Text,        // a line of a paragraph (or of the block above it)
    TildeText,   // "~text": the "~" goes, a new paragraph starts
    Heading,     // "*", "**", "***"
    Preformatted,// a blank or a tab first
    Comment,     // "//": not shown at all
    Rule,        // "----": a horizontal rule, the rest of the line dropped
    ListItem,    // "-", "+" (up to three)
    Definition,  // ":term|description"
    ColonText,   // ":" without "|": shown as text, ":" and all
    TableRow,    // "|a|b|" with "h", "c" or "f" after it or not
    BarText,     // "|" that is no table row: shown as text
    CsvRow,      // ",a,b": a table of comma-separated values
    Quote,       // ">", ">>", ">>>"
    QuoteEnd,    // "<": ends a quotation, the "<" dropped
    Plugin,      // "#name(...)": a block plug-in of the wiki
    CodeLine,    // inside a "#code(...){{ ... }}" block
    CodeText,    // a "#code" block the wiki could not read, shown as text
};

struct LineFacts {
    Reading reading = Reading::Empty;
    int level = 0;             // heading, list and quotation level
    char mark = 0;             // "-" or "+" for a list item
    bool new_block = false;    // a list item or table row that starts a list or table of its own
    bool nested = false;       // that list is inside a list item
    int cells = 0;             // a table row's cells
    bool caption = false;      // a one-cell table row "|CENTER:...|"
    std::string cell_tilde;    // a cell "~text", read as a header cell
    std::string plugin;        // the block plug-in's name
    int code_cut = 0;          // on a "#code" line: the line whose "}}" ends the block early (0: none)
    bool code_open = false;    // on a "#code" line: no "}}" ends it
};

struct ImageUse {
    int line;
    std::string name;
    bool block;                // "#ref(" rather than "&ref("
};

struct AnchorLink {
    int line;
    std::string anchor;        // without "#"
};

struct OtherWikiLink {
    int line;
    std::string name;          // what the wiki reads as the other wiki's name
    std::string written;       // the link as written
};

struct LineText {
    int line;
    std::string text;          // what a reader sees, character references as written
};

struct Leftover {
    int line;
    std::string marks;         // "''", "'''", "%%", "%%%": emphasis without its pair
};

struct PageFacts {
    std::vector<LineFacts> lines;       // one per page line, [0] for line 1
    std::vector<ImageUse> images;       // in page order
    std::vector<AnchorLink> links;      // [[...>#anchor]] and [[#anchor]]
    std::vector<OtherWikiLink> other_wikis;
    std::vector<LineText> texts;        // shown text, in page order
    std::vector<Leftover> leftovers;
    std::vector<int> notes_cut;         // lines where a footnote ends before its last ")"
    std::set<std::string> anchors;      // the anchors of the page's headings and &aname()s
    std::vector<AnchorLink> anchors_again;  // a heading whose anchor one above it has
};

}  // namespace kelvarin::preview

#endif
