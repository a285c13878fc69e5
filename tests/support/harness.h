// Runs the real kelvarin executable (KELVARIN_BIN) in a scratch directory
// and reads back the files it wrote, byte for byte.
#ifndef KELVARIN_TEST_HARNESS_H
#define KELVARIN_TEST_HARNESS_H

#include <grp.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/file_bytes.h"

namespace kelvarin_test {

// Joins lines, each ended by CR LF, as every output file writes them.
inline std::string crlf(const std::vector<std::string>& lines) {
    std::string out;
    for (const std::string& line : lines) out += line + "\r\n";
    return out;
}

// Whether the path names anything, a dangling symbolic link too.
inline bool file_exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

// A fresh directory, removed with everything in it at the end of the test.
struct Sandbox {
    Sandbox() : dir((std::filesystem::temp_directory_path() / "kelvarin-XXXXXX").string()) {
        if (mkdtemp(dir.data()) == nullptr) throw std::runtime_error("mkdtemp");
    }
    ~Sandbox() {
        std::error_code ec;
        // Read-only directories made by a test must not keep their contents.
        for (auto& entry : std::filesystem::recursive_directory_iterator(dir, ec))
            if (entry.is_directory(ec) && !entry.is_symlink(ec))
                std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all,
                                             std::filesystem::perm_options::add, ec);
        std::filesystem::remove_all(dir, ec);
    }
    Sandbox(const Sandbox&) = delete;
    Sandbox& operator=(const Sandbox&) = delete;
    std::string path(const std::string& name) const { return dir + "/" + name; }
    std::string dir;
};

struct RunResult {
    int exit_status = -1;  // -1 when the process did not exit normally
    std::string out, err;  // standard output and standard error
};

// Runs `binary` with `args` in `working_dir`. `unprivileged` runs it as the
// user nobody when the tests run as root, so that file modes are obeyed;
// when it cannot be started so, the exit status is 126 and standard error
// says why. A run that outlasts `bound_seconds` (0: no bound) is stopped by
// SIGALRM, and its exit status is -1.
inline RunResult run_program(const std::string& binary, const std::string& working_dir,
                             const std::vector<std::string>& args, bool unprivileged = false,
                             unsigned bound_seconds = 0) {
    int out_pipe[2], err_pipe[2];
    if (pipe(out_pipe) != 0 || pipe(err_pipe) != 0) throw std::runtime_error("pipe");
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out_pipe[1], 1);
        dup2(err_pipe[1], 2);
        close(out_pipe[0]);
        close(err_pipe[0]);
        const auto cannot = [](const std::string& what) {
            const std::string message = "cannot " + what + ": " + std::strerror(errno) + "\n";
            if (write(2, message.data(), message.size()) < 0) _exit(126);
            _exit(126);
        };
        const uid_t nobody = 65534;
        if (unprivileged && geteuid() == 0 &&
            (setgroups(0, nullptr) != 0 || setgid(nobody) != 0 || setuid(nobody) != 0))
            cannot("become the user nobody");
        if (chdir(working_dir.c_str()) != 0) cannot("enter " + working_dir);
        if (bound_seconds > 0) alarm(bound_seconds);
        std::vector<char*> argv{const_cast<char*>(binary.c_str())};
        for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execv(binary.c_str(), argv.data());
        cannot("run " + binary);
    }
    close(out_pipe[1]);
    close(err_pipe[1]);
    RunResult result;
    // Both pipes are read as they fill: a program that writes much to one of
    // them while the other is read to its end would block on the full pipe.
    pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
    std::string* into[2] = {&result.out, &result.err};
    char buf[65536];
    for (int open_pipes = 2; open_pipes > 0;) {
        if (poll(fds, 2, -1) < 0) break;
        for (int k = 0; k < 2; ++k) {
            if (fds[k].fd < 0 || fds[k].revents == 0) continue;
            const ssize_t n = read(fds[k].fd, buf, sizeof buf);
            if (n > 0) {
                into[k]->append(buf, static_cast<std::size_t>(n));
            } else {
                close(fds[k].fd);
                fds[k].fd = -1;
                --open_pipes;
            }
        }
    }
    int status = 0;
    waitpid(pid, &status, 0);
    result.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

// Runs kelvarin. Every argument naming a regular file is hashed before and after the run, and a
// changed input fails the test: no run may ever modify its input. Special files behind links
// (/proc/self/mem) are no inputs.
inline RunResult run_kelvarin(const std::string& working_dir, const std::vector<std::string>& args) {
    const auto hash_inputs = [&] {
        std::map<std::string, std::size_t> hashes;
        for (const std::string& arg : args) {
            std::error_code ec;
            const std::string full = arg.rfind('/', 0) == 0 ? arg : working_dir + "/" + arg;
            const std::string real = std::filesystem::canonical(full, ec).string();
            if (!arg.empty() && std::filesystem::is_regular_file(real, ec) && real.rfind("/proc/", 0) != 0 &&
                real.rfind("/dev/", 0) != 0)
                hashes[arg] = std::hash<std::string>()(read_file(full));
        }
        return hashes;
    };
    const auto before = hash_inputs();
    RunResult result = run_program(KELVARIN_BIN, working_dir, args);
    const auto after = hash_inputs();
    for (const auto& [arg, hash] : before)
        EXPECT_TRUE(after.count(arg) && after.at(arg) == hash) << "the run modified its input " << arg;
    return result;
}

// What kelvarin made of `source` saved as paper.tex.
struct Converted {
    RunResult run;
    std::string wiki, equations, log;  // paper.wiki.txt, paper.eq.tex, kelvarin.log
};
inline Converted convert_source(const std::string& source, std::vector<std::string> options = {}) {
    Sandbox box;
    write_file(box.path("paper.tex"), source);
    options.push_back("paper.tex");
    const RunResult run = run_kelvarin(box.dir, options);
    return {run, read_file(box.path("paper.wiki.txt")), read_file(box.path("paper.eq.tex")),
            read_file(box.path("kelvarin.log"))};
}

// The equation document of the preamble lines and the pages: a line of
// `pages` starting with "% " is a page comment and starts a page, the lines
// after it are that formula's lines.
inline std::string equation_document(const std::vector<std::string>& preamble,
                                     const std::vector<std::string>& pages) {
    std::vector<std::string> lines = preamble;
    lines.insert(lines.end(),
                 {"", "% kelvarin", "\\usepackage{txfonts}", "\\pagestyle{empty}", "", "\\begin{document}", ""});
    for (std::size_t k = 0; k < pages.size(); ++k) {
        const bool comment = pages[k].rfind("% ", 0) == 0;
        if (comment && k > 0) lines.insert(lines.end(), {"\\]", "\\newpage", ""});
        lines.push_back(pages[k]);
        if (comment) lines.push_back("\\[");
    }
    if (!pages.empty()) lines.insert(lines.end(), {"\\]", "\\newpage", ""});
    return crlf(lines) + crlf({"\\end{document}", ""});
}

}  // namespace kelvarin_test

#endif
