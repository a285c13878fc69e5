// Scratch folders left by runs that were killed outright (SIGKILL, a power
// cut): each run holds a lock on a file in its own folder for as long as it
// lives, so that any later run can tell a dead run's folder from a live one
// and remove it.
#ifndef KELVARIN_STALE_SCRATCH_H
#define KELVARIN_STALE_SCRATCH_H

#include <string>

namespace kelvarin {

// Marks `folder` (made by make_scratch_folder) as ours while we live.
void claim_scratch_folder(const std::string& folder);

// Removes the scratch folders in the temporary directory that belong to us
// (our user) and to no live run. A folder without a lock file (an older
// kelvarin-render's) goes only when it is a day old.
void clear_stale_scratch_folders();

}  // namespace kelvarin

#endif
