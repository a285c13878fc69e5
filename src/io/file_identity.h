// Whether two paths name one file, so that nothing is ever opened for
// writing over a file that is being read; whether a file lies in a folder,
// so that nothing outside a paper's folder is read for it; and a file read
// whole as what it is, never through a link.
#ifndef KELVARIN_FILE_IDENTITY_H
#define KELVARIN_FILE_IDENTITY_H

#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>

#include <cstdint>
#include <string>

namespace kelvarin {

// True when `other` exists and is the very file `path` names (the same file
// through a symbolic or hard link, or the same path spelt otherwise).
bool is_same_file(const std::string& path, const std::string& other);

// True when `real` is `folder` or lies below it. Both are real paths (as
// std::filesystem::canonical gives them: absolute, no links, no dots), so
// that the test is one of their spelling.
bool lies_within(const std::string& folder, const std::string& real);

// A file time in nanoseconds since the epoch.
std::int64_t nanoseconds(const struct timespec& t);

// The whole regular file at `path`, not following a link, with its status.
// Returns false when there is none, or it cannot be read, or it is larger
// than `limit`.
bool read_regular_file(const std::string& path, off_t limit, std::string& bytes, struct stat& info);

}  // namespace kelvarin

#endif
