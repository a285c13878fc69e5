// The pages of a DVI file as latex wrote them, each with the \count
// registers TeX put at its start: read from the file's own chain of pages,
// so that a page shipped by a formula behind the markers' back (the shipout
// primitive under another name) is counted as well.
#ifndef KELVARIN_DVI_PAGES_H
#define KELVARIN_DVI_PAGES_H

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace kelvarin {

using PageCounts = std::array<std::int32_t, 10>;  // \count0 to \count9

// The pages of the DVI file at `path` in order (physical page 1 first).
// Returns false, with `error` set, when the file is not a whole DVI file.
bool read_dvi_pages(const std::string& path, std::vector<PageCounts>& pages, std::string& error);

}  // namespace kelvarin

#endif
