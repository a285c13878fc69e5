#include "io/file_identity.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
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

std::int64_t nanoseconds(const struct timespec& t) {
    return static_cast<std::int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

bool read_regular_file(const std::string& path, off_t limit, std::string& bytes, struct stat& info) {
    const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    info = {};
    bool ok = fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size <= limit;
    if (ok) {
        bytes.resize(static_cast<std::size_t>(info.st_size));
        std::size_t got = 0;
        while (ok && got < bytes.size()) {
            const ssize_t n = read(fd, &bytes[got], bytes.size() - got);
            if (n > 0) got += static_cast<std::size_t>(n);
            else if (n < 0 && errno == EINTR) continue;
            else ok = false;  // an error, or the file shrank under us
        }
    }
    close(fd);
    return ok;
}

}  // namespace kelvarin
