// The temporary folders latex and the image tools write into: registered
// when made, removed on every way out (the end of main, exit(), and the stop
// signals through interruption.h).
#ifndef KELVARIN_SCRATCH_FOLDER_H
#define KELVARIN_SCRATCH_FOLDER_H

#include <string>

namespace kelvarin {

// A new empty folder in the temporary directory, already registered.
// Returns "" with `error` set when none can be made.
std::string make_scratch_folder(std::string& error);

// Removes every registered folder with all it holds.
void remove_scratch_folders();

}  // namespace kelvarin

#endif
