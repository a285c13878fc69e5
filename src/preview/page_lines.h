// Reading a wiki page into its lines, as the wiki reads a page pasted into
// its editor: a line ends at LF, and a CR before the LF goes with it (kelvarin
// writes CR LF); a last line without LF still counts.
#ifndef KELVARIN_PREVIEW_PAGE_LINES_H
#define KELVARIN_PREVIEW_PAGE_LINES_H

#include <string>
#include <vector>

namespace kelvarin::preview {

// The page's lines, without their line ends. Bytes that are not UTF-8 become
// U+FFFD and control bytes other than TAB are dropped (a CR inside a line
// too), so that the preview is valid HTML whatever the page holds. An empty
// page has no line.
std::vector<std::string> split_page_lines(const std::string& bytes);

}  // namespace kelvarin::preview

#endif
