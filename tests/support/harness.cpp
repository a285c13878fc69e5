#include "support/harness.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <stdexcept>

#include <gtest/gtest.h>

namespace kelvarin_test {

std::string crlf(const std::vector<std::string>& lines) {
    std::string out;
    for (const std::string& line : lines) out += line + "\r\n";
    return out;
}

std::string lf(const std::vector<std::string>& lines) {
    std::string out;
    for (const std::string& line : lines) out += line + "\n";
    return out;
}

bool file_exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

Sandbox::Sandbox() {
    std::string templ = (std::filesystem::temp_directory_path() / "kelvarin-XXXXXX").string();
    if (mkdtemp(templ.data()) == nullptr) throw std::runtime_error("mkdtemp");
    dir = templ;
}

Sandbox::~Sandbox() {
    std::error_code ec;
    // Read-only directories made by a test must not keep their contents.
    for (auto& entry : std::filesystem::recursive_directory_iterator(dir, ec))
        if (entry.is_directory(ec) && !entry.is_symlink(ec))
            std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(dir, ec);
}

namespace {

std::string read_all(int fd) {
    std::string out;
    char buf[65536];
    for (;;) {
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0) break;
        out.append(buf, static_cast<std::size_t>(n));
    }
    return out;
}

// Hashes of the regular files named by the arguments (relative to the
// working directory), so that a run can be checked for touching its inputs.
std::map<std::string, std::size_t> hash_inputs(const std::string& dir,
                                               const std::vector<std::string>& args) {
    std::map<std::string, std::size_t> hashes;
    for (const std::string& arg : args) {
        if (arg.empty()) continue;
        const std::string full = arg[0] == '/' ? arg : dir + "/" + arg;
        std::error_code ec;
        if (!std::filesystem::is_regular_file(full, ec)) continue;
        // Special files behind links (/proc/self/mem) are not inputs to hash.
        const std::string real = std::filesystem::canonical(full, ec).string();
        if (real.rfind("/proc/", 0) == 0 || real.rfind("/dev/", 0) == 0) continue;
        hashes[arg] = std::hash<std::string>()(read_file(full));
    }
    return hashes;
}

}  // namespace

namespace {

RunResult spawn(const std::string& binary, const std::string& working_dir,
                const std::vector<std::string>& args, bool unprivileged) {
    int out_pipe[2], err_pipe[2];
    if (pipe(out_pipe) != 0 || pipe(err_pipe) != 0) throw std::runtime_error("pipe");
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out_pipe[1], 1);
        dup2(err_pipe[1], 2);
        close(out_pipe[0]);
        close(err_pipe[0]);
        if (unprivileged && geteuid() == 0) {
            const gid_t nobody_group = 65534;
            const uid_t nobody = 65534;
            if (setgroups(0, nullptr) != 0 || setgid(nobody_group) != 0 || setuid(nobody) != 0)
                _exit(126);
        }
        if (chdir(working_dir.c_str()) != 0) _exit(127);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(binary.c_str()));
        for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execv(binary.c_str(), argv.data());
        _exit(127);
    }
    close(out_pipe[1]);
    close(err_pipe[1]);
    RunResult result;
    // Standard error is small; read stdout first, then stderr.
    result.out = read_all(out_pipe[0]);
    result.err = read_all(err_pipe[0]);
    close(out_pipe[0]);
    close(err_pipe[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    result.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

}  // namespace

RunResult run_program(const std::string& binary, const std::string& working_dir,
                      const std::vector<std::string>& args) {
    return spawn(binary, working_dir, args, false);
}

RunResult run_kelvarin(const std::string& working_dir,
                       const std::vector<std::string>& args, bool unprivileged) {
    const auto before = hash_inputs(working_dir, args);
    RunResult result = spawn(KELVARIN_BIN, working_dir, args, unprivileged);
    const auto after = hash_inputs(working_dir, args);
    for (const auto& [arg, hash] : before) {
        auto found = after.find(arg);
        EXPECT_TRUE(found != after.end() && found->second == hash)
            << "the run modified its input " << arg;
    }
    return result;
}

Converted convert_source(const std::string& source, const std::string& name) {
    Sandbox box;
    write_file(box.path(name), source);
    Converted c;
    c.run = run_kelvarin(box.dir, {name});
    std::string stem = name.substr(0, name.rfind('.'));
    c.wiki = read_file(box.path(stem + ".wiki.txt"));
    c.equations = read_file(box.path(stem + ".eq.tex"));
    c.log = read_file(box.path("kelvarin.log"));
    return c;
}

std::string equation_document(const std::vector<std::string>& preamble,
                              const std::vector<Page>& pages) {
    std::vector<std::string> lines = preamble;
    for (const char* fixed : {"", "% kelvarin", "\\usepackage{txfonts}",
                              "\\pagestyle{empty}", "", "\\begin{document}", ""})
        lines.push_back(fixed);
    for (const Page& page : pages) {
        lines.push_back(page.comment);
        lines.push_back("\\[");
        lines.insert(lines.end(), page.lines.begin(), page.lines.end());
        lines.push_back("\\]");
        lines.push_back("\\newpage");
        lines.push_back("");
    }
    lines.push_back("\\end{document}");
    lines.push_back("");
    return crlf(lines);
}

}  // namespace kelvarin_test

namespace kelvarin_test {

std::string wiki_of_body(const std::vector<std::string>& lines) {
    return convert_source("\\begin{document}\n" + lf(lines) + "\\end{document}\n").wiki;
}

}  // namespace kelvarin_test
