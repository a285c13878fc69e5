// Whether two paths name one file, so that nothing is ever opened for
// writing over a file that is being read.
#ifndef KELVARIN_FILE_IDENTITY_H
#define KELVARIN_FILE_IDENTITY_H

#include <string>

namespace kelvarin {

// True when `other` exists and is the very file `path` names (the same file
// through a symbolic or hard link, or the same path spelt otherwise).
bool is_same_file(const std::string& path, const std::string& other);

}  // namespace kelvarin

#endif
