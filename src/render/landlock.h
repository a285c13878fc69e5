// The kernel's own confinement of the tools, where the kernel offers it
// (Linux 5.13 and later, Landlock): a ruleset made once that lists the
// folders a tool may read and those it may write, entered by each tool
// between fork and exec. Whatever a tool then opens, through any link, any
// "~user" or "$VAR" of kpathsea, or a file name in a DVI special, the kernel
// checks the file's real place; TeX's own checks are not relied on.
// Elsewhere every call says "not offered" and the caller confines otherwise.
#ifndef KELVARIN_LANDLOCK_H
#define KELVARIN_LANDLOCK_H

#include <string>
#include <vector>

namespace kelvarin {

// A ruleset allowing reads (and running programs) beneath `readable` and
// everything beneath `writable`; every other file is out of reach. Folders
// or files that do not exist are left out. Returns its descriptor (closed on
// exec), or -1 with `why` set when the kernel offers no Landlock.
int make_landlock_ruleset(const std::vector<std::string>& readable, const std::vector<std::string>& writable,
                          std::string& why);

// Enters the ruleset: for the child between fork and exec, so only system
// calls. Returns 0, or the errno of the call that failed.
int enter_landlock(int ruleset);

}  // namespace kelvarin

#endif
