// Whether two paths name one file, so that nothing is ever opened for
// writing over a file that is being read; and whether a file lies in a
// folder, so that nothing outside a paper's folder is read for it.
#ifndef KELVARIN_FILE_IDENTITY_H
#define KELVARIN_FILE_IDENTITY_H

#include <string>

namespace kelvarin {

// True when `other` exists and is the very file `path` names (the same file
// through a symbolic or hard link, or the same path spelt otherwise).
bool is_same_file(const std::string& path, const std::string& other);

// True when `real` is `folder` or lies below it. Both are real paths (as
// std::filesystem::canonical gives them: absolute, no links, no dots), so
// that the test is one of their spelling.
bool lies_within(const std::string& folder, const std::string& real);

}  // namespace kelvarin

#endif
