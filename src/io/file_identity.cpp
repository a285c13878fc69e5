#include "io/file_identity.h"

#include <filesystem>
#include <system_error>

namespace kelvarin {

bool is_same_file(const std::string& path, const std::string& other) {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (!fs::exists(fs::path(other), ec) || !fs::exists(fs::path(path), ec))
        return false;
    return fs::equivalent(fs::path(path), fs::path(other), ec);
}

bool lies_within(const std::string& folder, const std::string& real) {
    if (real == folder) return true;
    const std::string below = folder == "/" ? "/" : folder + "/";
    return real.compare(0, below.size(), below) == 0;
}

}  // namespace kelvarin
