// The check: what on the page the wiki will show other than intended, or
// what is still missing before publishing. Images named but not on disk,
// images on disk not named, figures that are no web images or sit in a
// folder, "??" references, links to anchors no heading has, LaTeX
// commands left in the text, emphasis without its pair, footnotes cut
// short, and lines the wiki reads as something else (lists, tables,
// preformatted text, comments, rules, code blocks cut short).
#ifndef KELVARIN_PREVIEW_CHECKS_H
#define KELVARIN_PREVIEW_CHECKS_H

#include <string>
#include <vector>

#include "preview/findings.h"
#include "preview/images.h"
#include "preview/page_facts.h"

namespace kelvarin::preview {

// The findings on a page of these lines, read into these facts, with its
// images looked for on `images`; in page order, those without a line last.
// `stem` is the page's name without ".wiki.txt" ("paper"): formula images
// of other pages beside it ("notes.eq1.gif") are theirs, not this page's.
std::vector<Finding> check_page(const std::vector<std::string>& lines, const PageFacts& facts, ImageShelf& images,
                                const std::string& stem);

// The LaTeX commands in a text: "\name" and "\" with one of the characters
// LaTeX escapes or spaces with ("\%", "\,", "\\", ...), each once, in order.
std::vector<std::string> latex_commands(const std::string& text);

}  // namespace kelvarin::preview

#endif
