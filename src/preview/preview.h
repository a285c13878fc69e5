// kelvarin-preview as a library: reads a wiki page, writes its preview
// beside it and checks it. The parts: page_lines (reading the page),
// wiki_blocks and wiki_inline (the mark-up, as the wiki reads it), ref_plugin
// and images (images and their files), html_writer (the HTML file), checks
// (what the page still gets wrong).
#ifndef KELVARIN_PREVIEW_PREVIEW_H
#define KELVARIN_PREVIEW_PREVIEW_H

#include <stdexcept>
#include <string>
#include <vector>

#include "preview/findings.h"

namespace kelvarin::preview {

struct Preview {
    std::string html;               // the whole preview file
    std::vector<Finding> findings;  // what the check found, in page order
};

// The preview of the page whose bytes are `page`, named `title`, its
// images looked for from the folder `folder`.
Preview make_preview(const std::string& page, const std::string& title, const std::string& folder);

// Where the preview of a page goes: beside it, "paper.wiki.txt" giving
// "paper.preview.html" (any other name loses its last extension).
std::string preview_path_for(const std::string& page_path);

// Reads the page at `page_path`, writes its preview to preview_path_for()
// and returns what the check found. Throws std::runtime_error, naming the
// file, when the page cannot be read or the preview not written.
std::vector<Finding> preview_file(const std::string& page_path);

}  // namespace kelvarin::preview

#endif
