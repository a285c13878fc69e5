#include "render/stale_scratch.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <string>
#include <system_error>

namespace kelvarin {

namespace fs = std::filesystem;

namespace {

const char* const kLockName = ".owner";
const std::string kFolderPrefix = "kelvarin-render-";
constexpr std::time_t kUnlockedAgeSeconds = 24 * 60 * 60;

// A folder name as make_scratch_folder makes them: the prefix and six
// characters of mkdtemp's.
bool is_scratch_name(const std::string& name) {
    return name.size() == kFolderPrefix.size() + 6 && name.compare(0, kFolderPrefix.size(), kFolderPrefix) == 0;
}

// Whether the folder belongs to no live run.
bool is_stale(const std::string& folder, const struct stat& st) {
    const int fd = open((folder + "/" + kLockName).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT && std::time(nullptr) - st.st_mtime > kUnlockedAgeSeconds;
    const bool free = flock(fd, LOCK_EX | LOCK_NB) == 0;
    close(fd);
    return free;
}

}  // namespace

void claim_scratch_folder(const std::string& folder) {
    // Left open, never inherited by the tools: the lock lasts as long as we do.
    const int fd = open((folder + "/" + kLockName).c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0) flock(fd, LOCK_EX | LOCK_NB);
}

void clear_stale_scratch_folders() {
    std::error_code ec;
    const fs::path temp = fs::temp_directory_path(ec);
    if (ec) return;
    for (fs::directory_iterator it(temp, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (!is_scratch_name(name)) continue;
        const std::string folder = it->path().string();
        struct stat st;
        if (lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != geteuid()) continue;
        if (!is_stale(folder, st)) continue;
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }
}

}  // namespace kelvarin
