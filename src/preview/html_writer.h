// Writes the preview: one self-contained HTML file, its style sheet inside,
// images by their relative names. At the top, collapsed, the list of what
// the check found, each linked to the block of its line; then the page as
// the wiki shows it, its footnotes gathered at the end.
#ifndef KELVARIN_PREVIEW_HTML_WRITER_H
#define KELVARIN_PREVIEW_HTML_WRITER_H

#include <string>
#include <vector>

#include "preview/findings.h"
#include "preview/wiki_blocks.h"

namespace kelvarin::preview {

struct PageHtml {
    std::string html;  // the page's blocks and footnotes
    // Where each block's opening tag ends its name ("<p" and then ...), by the
    // page line the block starts on, and the id it already has, if any: the
    // check's links point there.
    struct Start {
        int line;
        std::size_t at;
        std::string id;
    };
    std::vector<Start> starts;
};

// The HTML of the page's blocks, and after them its footnotes.
PageHtml render_page(const ReadPage& page, const std::vector<std::string>& notes);

// The whole preview of the page `title` (its file name): the head with the
// style sheet, the check's list and the page. Findings with a line link to
// the block that line belongs to.
std::string write_preview(const std::string& title, PageHtml page, const std::vector<Finding>& findings);

// How many findings of each kind, in the order the kinds are first met:
// "2 missing image, 1 LaTeX left".
std::string kinds_counted(const std::vector<Finding>& findings);

}  // namespace kelvarin::preview

#endif
