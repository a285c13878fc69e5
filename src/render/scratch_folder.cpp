#include "render/scratch_folder.h"

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

namespace kelvarin {

namespace fs = std::filesystem;

namespace {

// The folders to remove. Made before the exit handler is registered, so it
// outlives that handler.
std::vector<std::string>& registered() {
    static std::vector<std::string> folders;
    return folders;
}

}  // namespace

std::string make_scratch_folder(std::string& error) {
    std::error_code ec;
    const fs::path temp = fs::temp_directory_path(ec);
    if (ec) {
        error = "no temporary directory (" + ec.message() + "); set TMPDIR to one";
        return "";
    }
    std::string pattern = (temp / "kelvarin-render-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        error = "cannot create a scratch folder in " + temp.string() + "; set TMPDIR to a writable folder";
        return "";
    }
    // Absolute, since the tools run in other folders (TMPDIR may be relative).
    const std::string folder = fs::absolute(pattern, ec).string();
    if (registered().empty()) std::atexit(remove_scratch_folders);
    registered().push_back(folder);
    return folder;
}

void remove_scratch_folders() {
    for (const std::string& folder : registered()) {
        std::error_code ec;
        fs::remove_all(folder, ec);
    }
    registered().clear();
}

}  // namespace kelvarin
