// Where a "{" of a preamble opens a group that no "}" closes. latex then
// reads on to the end of the file looking for it and says only "File ended
// while scanning use of \foo", with no line: the line where the unfinished
// definition or argument starts is what the user needs.
#ifndef KELVARIN_UNCLOSED_GROUP_H
#define KELVARIN_UNCLOSED_GROUP_H

#include <cstddef>
#include <string>
#include <vector>

namespace kelvarin {

// The index of the line holding the outermost "{" left open at the end of
// `lines`, or lines.size() when every group closes. Braces after an escape
// ("\{", "\}") or in a comment do not count.
std::size_t unclosed_group_line(const std::vector<std::string>& lines);

}  // namespace kelvarin

#endif
