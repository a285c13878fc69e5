// The mark-up inside a line, as the wiki converts it: first the elements
// ("&plugin(...);", "((footnote))", "[[text>http://...]]" and bare URLs,
// "[[name:page]]" links to other wikis, "[[text>#anchor]]"), leftmost first;
// then, on the text between them, HTML escaping, the character references
// it lets through, "~" line breaks, and the emphasis rules
// ("%%%underline%%%", "%%strike%%", "'''italic'''", "''bold''"), each over
// the whole line in that order. docs/markup.md has the rules in full.
#ifndef KELVARIN_PREVIEW_WIKI_INLINE_H
#define KELVARIN_PREVIEW_WIKI_INLINE_H

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "preview/images.h"
#include "preview/page_facts.h"

namespace kelvarin::preview {

class InlineReader {
public:
    InlineReader(ImageShelf& images, PageFacts& facts) : images_(images), facts_(facts) {}

    // The HTML of one line of text standing on page line `line`. A "\r" in
    // it is a line break (the block reader puts one for a "~" at the end).
    std::string convert(std::string_view text, int line);

    // The same, for a heading's entry in the table of contents: footnotes
    // dropped, tags dropped, nothing recorded.
    std::string plain_heading(std::string_view text);

    // "#ref(...)" on a line of its own.
    std::string block_image(std::string_view args, int line);

    // The footnotes met so far, in order: each one's HTML.
    const std::vector<std::string>& notes() const { return notes_; }

private:
    struct Scan;
    enum class Scope { All, PluginsOnly };
    std::string convert_in(std::string_view text, int line, Scope scope);
    std::string line_rules(std::string_view escaped, int line);
    bool element_at(Scan& scan, std::size_t at, int line, Scope scope, std::size_t& end, std::string& html);
    bool plugin_at(Scan& scan, std::size_t at, int line, std::size_t& end, std::string& html);
    bool note_at(Scan& scan, std::size_t at, int line, std::size_t& end, std::string& html);
    bool bare_url_at(Scan& scan, std::size_t at, int line, std::size_t& end, std::string& html);
    bool url_link_at(Scan& scan, std::size_t at, std::size_t close, int line, std::size_t& end, std::string& html);
    bool other_wiki_at(Scan& scan, std::size_t at, std::size_t close, int line, std::size_t& end,
                       std::string& html);
    bool bracket_at(Scan& scan, std::size_t at, std::size_t close, int line, std::size_t& end, std::string& html);

    ImageShelf& images_;
    PageFacts& facts_;
    std::vector<std::string> notes_;
    bool quiet_ = false;  // converting a heading for the contents: record nothing
};

// Where each footnote "((" of the text ends (just after its "))"), by the
// position of its "((": the first "))" closes the innermost open footnote,
// footnotes nest up to 16 deep (a deeper "((" is text), and a "((" that no
// "))" closes is no footnote.
std::unordered_map<std::size_t, std::size_t> note_ends(std::string_view text);

}  // namespace kelvarin::preview

#endif
