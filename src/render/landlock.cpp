#include "render/landlock.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#ifdef __linux__
#include <sys/prctl.h>
#include <sys/syscall.h>
#endif

namespace kelvarin {

#ifdef __linux__

namespace {

// The kernel's interface, written out here so that the build does not
// depend on how recent the system's headers are; these values are fixed by
// the kernel's ABI.
#ifdef SYS_landlock_create_ruleset
constexpr long kCreateRuleset = SYS_landlock_create_ruleset;
constexpr long kAddRule = SYS_landlock_add_rule;
constexpr long kRestrictSelf = SYS_landlock_restrict_self;
#else
constexpr long kCreateRuleset = 444;
constexpr long kAddRule = 445;
constexpr long kRestrictSelf = 446;
#endif
constexpr unsigned kAskVersion = 1;  // LANDLOCK_CREATE_RULESET_VERSION
constexpr int kPathBeneath = 1;      // LANDLOCK_RULE_PATH_BENEATH

constexpr std::uint64_t kExecute = 1u << 0;
constexpr std::uint64_t kWriteFile = 1u << 1;
constexpr std::uint64_t kReadFile = 1u << 2;
constexpr std::uint64_t kReadDir = 1u << 3;
constexpr std::uint64_t kTruncate = 1u << 14;
constexpr std::uint64_t kIoctlDev = 1u << 15;
// The rights that make sense on a file rather than a folder.
constexpr std::uint64_t kFileRights = kExecute | kWriteFile | kReadFile | kTruncate | kIoctlDev;

// Every file system right the kernel's version knows: all of them handled,
// so that whatever is not granted is refused.
std::uint64_t handled_rights(long abi) {
    std::uint64_t rights = (1u << 13) - 1;       // version 1: execute .. make symlink
    if (abi >= 2) rights |= 1u << 13;            // refer (link or rename across folders)
    if (abi >= 3) rights |= kTruncate;
    if (abi >= 5) rights |= kIoctlDev;
    return rights;
}

// Adds a rule for one path; a path that does not exist is skipped.
void allow(int ruleset, const std::string& path, std::uint64_t rights) {
    const int fd = open(path.c_str(), O_PATH | O_CLOEXEC);
    if (fd < 0) return;
    struct stat st;
    if (fstat(fd, &st) == 0 && !S_ISDIR(st.st_mode)) rights &= kFileRights;
    // struct landlock_path_beneath_attr is packed: a 64-bit mask, then the descriptor.
    unsigned char rule[sizeof(std::uint64_t) + sizeof(std::int32_t)];
    const std::int32_t parent = fd;
    std::memcpy(rule, &rights, sizeof rights);
    std::memcpy(rule + sizeof rights, &parent, sizeof parent);
    syscall(kAddRule, ruleset, kPathBeneath, rule, 0);
    close(fd);
}

}  // namespace

int make_landlock_ruleset(const std::vector<std::string>& readable, const std::vector<std::string>& writable,
                          std::string& why) {
    const long abi = syscall(kCreateRuleset, nullptr, 0, kAskVersion);
    if (abi < 1) {
        why = std::string("the kernel offers no Landlock (") + std::strerror(errno) + ")";
        return -1;
    }
    const std::uint64_t handled = handled_rights(abi);
    const std::uint64_t handled_attr = handled;  // struct landlock_ruleset_attr, first field only
    const long ruleset = syscall(kCreateRuleset, &handled_attr, sizeof handled_attr, 0);
    if (ruleset < 0) {
        why = std::string("cannot make a Landlock ruleset (") + std::strerror(errno) + ")";
        return -1;
    }
    const int fd = static_cast<int>(ruleset);
    for (const std::string& path : readable) allow(fd, path, kExecute | kReadFile | kReadDir);
    for (const std::string& path : writable) allow(fd, path, handled);
    return fd;
}

int enter_landlock(int ruleset) {
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) return errno;
    if (syscall(kRestrictSelf, ruleset, 0) != 0) return errno;
    return 0;
}

#else

int make_landlock_ruleset(const std::vector<std::string>&, const std::vector<std::string>&, std::string& why) {
    why = "this system offers no Landlock (Linux 5.13 or later)";
    return -1;
}

int enter_landlock(int) { return ENOSYS; }

#endif

}  // namespace kelvarin
