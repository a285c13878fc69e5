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

}  // namespace kelvarin
