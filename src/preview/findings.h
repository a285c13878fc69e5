// One thing the check found on a page: what kind of fault, where (the page
// line, or 0 for none, as for an image on disk that the page does not name)
// and what it is.
#ifndef KELVARIN_PREVIEW_FINDINGS_H
#define KELVARIN_PREVIEW_FINDINGS_H

#include <string>
#include <vector>

namespace kelvarin::preview {

struct Finding {
    int line = 0;
    std::string kind;     // "missing image", "LaTeX left", ...
    std::string message;  // what it is, in a sentence without its line
};

}  // namespace kelvarin::preview

#endif
