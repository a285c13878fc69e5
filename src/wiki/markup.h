// The wiki mark-up kelvarin writes, each construct made by one function, so
// that the syntax of a construct is stated once for both translators. The
// functions put lines and pieces of lines together; writing them out is the
// caller's business.
//
// Rich mode also escapes text that the wiki would read as mark-up, with the
// numeric character reference of its first byte ("&#42;" for "*"); the
// default mode writes its lines byte for byte as it always has, unescaped.
#ifndef KELVARIN_WIKI_MARKUP_H
#define KELVARIN_WIKI_MARKUP_H

#include <string>
#include <string_view>
#include <vector>

namespace kelvarin::wiki {

// Blocks.
constexpr std::string_view kCodeOpen = "#code(C){{";
constexpr std::string_view kCodeClose = "}}";
constexpr std::string_view kContents = "#contents";
constexpr std::string_view kLineBreak = "~";

// "*Title", "**Title", "***Title", with " [#anchor]" when there is one.
std::string heading(int level, std::string_view title, std::string_view anchor = {});
// A run-in title of its own line: "-Title~".
std::string run_in_title(std::string_view title);
// The marker of a list item `depth` levels deep: "-", "--", "+++".
std::string item_marker(bool numbered, int depth);
// A description item's start: ":term|".
std::string description_item(std::string_view term);
// The line that opens a quotation `depth` levels deep: ">", ">>".
std::string quotation(int depth);
// A bold run-in lead of a paragraph, "''Lemma 2.''" and a blank; with an
// anchor for links to it first: "&aname(lem-max);''Lemma 2.'' ".
std::string lead_in(std::string_view text, std::string_view anchor = {});
// A line set to the right: "RIGHT:text".
std::string right_aligned(std::string_view text);

// Images: "#ref(file,parameter,scale[,title])" on a line of its own, or
// "&ref(file,parameter,scale[,title]);" inside a line, appended to `out`.
void append_image(std::string& out, bool is_inline, std::string_view file, std::string_view parameter,
                  std::string_view scale, std::string_view title = {});
// An image at `scale` ("100%", "50%" of the text's width): a block, or
// inline in a table cell.
std::string block_image(std::string_view file, std::string_view scale = "100%");
std::string inline_image(std::string_view file, std::string_view scale = "100%");

// Tables: "|a|b|", a header row "|a|b|h", a caption row "|CENTER:text|".
std::string table_row(const std::vector<std::string>& cells);
std::string header_row(std::string_view row);
std::string caption_row(std::string_view caption);
// A figure: one image alone as a block; otherwise each image, its
// subcaption and the figure's captions as rows of a one-column table.
struct FigurePart {
    std::string file;
    std::string subcaption;
    std::string scale = "100%";
};
std::vector<std::string> figure_block(const std::vector<FigurePart>& images,
                                      const std::vector<std::string>& captions);

// Inline constructs.
enum class Emphasis { none, bold, italic, underline, strike };
std::string_view emphasis_marker(Emphasis kind);
// "[[text>target]]", "((text))".
std::string link(std::string_view text, std::string_view target);
std::string footnote(std::string_view text);

// Escaping (rich mode). Text appended to a line: "((", "[[" and runs of
// apostrophes would open a footnote, a link or emphasis, and inside a table
// cell "|" would end the cell; their first byte is escaped.
void append_text(std::string& out, std::string_view text, bool in_cell);
// A line whose text, from byte `from` on, begins with a byte that the wiki
// reads as a block marker at a line's start ("*", "-", "+", ":", ">", "|",
// "#") or after a list marker: that byte escaped.
std::string escape_line_start(std::string_view line, std::size_t from = 0);
// The same, in place.
void escape_line_start_in_place(std::string& line, std::size_t from);
// Text already made wiki text that goes into a table row: its "|" escaped.
std::string escape_bars(std::string_view text);

}  // namespace kelvarin::wiki

#endif
