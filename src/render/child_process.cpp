#include "render/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "render/interruption.h"
#include "render/landlock.h"

extern char** environ;

namespace kelvarin {

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Our environment with `overrides` ("NAME=value") put in place of, or after,
// the entries of the same name.
std::vector<std::string> merged_environment(const std::vector<std::string>& overrides) {
    auto name_of = [](const std::string& entry) { return entry.substr(0, entry.find('=')); };
    std::vector<std::string> merged;
    for (char** entry = environ; entry && *entry; ++entry) {
        const std::string text = *entry;
        bool replaced = false;
        for (const std::string& o : overrides) replaced = replaced || name_of(o) == name_of(text);
        if (!replaced) merged.push_back(text);
    }
    merged.insert(merged.end(), overrides.begin(), overrides.end());
    return merged;
}

std::vector<char*> pointers_to(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (std::string& s : strings) pointers.push_back(s.data());
    pointers.push_back(nullptr);
    return pointers;
}

bool close_on_exec(int fd) { return fcntl(fd, F_SETFD, FD_CLOEXEC) == 0; }

// Waits for the child, through signals; returns its wait status.
int reap(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

// Whether the child has ended, without reaping it: while it is not reaped its
// process id, and so its group id, cannot be taken by another process, and
// the group can still be killed safely.
bool has_ended(pid_t pid) {
    siginfo_t info;
    std::memset(&info, 0, sizeof info);
    if (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0) return false;
    return info.si_pid == pid;
}

// Whatever the pipe holds now, without waiting for more.
void drain(int fd, const std::function<OutputVerdict(std::string_view)>& on_output) {
    char buffer[65536];
    for (int rounds = 0; rounds < 1024; ++rounds) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 0) <= 0) return;
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0) return;
        on_output(std::string_view(buffer, static_cast<std::size_t>(n)));
    }
}

}  // namespace

std::string find_command(const std::string& name) {
    auto runnable = [](const std::string& path) {
        struct stat st;
        return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
    };
    if (name.empty()) return "";
    if (name.find('/') != std::string::npos) return runnable(name) ? name : "";
    const char* path_variable = std::getenv("PATH");
    const std::string path = path_variable ? path_variable : "/usr/local/bin:/usr/bin:/bin";
    std::size_t start = 0;
    for (;;) {
        const std::size_t colon = path.find(':', start);
        std::string folder = path.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
        if (folder.empty()) folder = ".";  // an empty entry is the current folder
        const std::string candidate = folder + "/" + name;
        if (runnable(candidate)) return candidate;
        if (colon == std::string::npos) return "";
        start = colon + 1;
    }
}

ChildResult run_child(const ChildCommand& command, const ChildLimits& limits,
                      const std::function<OutputVerdict(std::string_view)>& on_output) {
    honour_stop_request();
    ChildResult result;
    if (command.argv.empty()) {
        result.problem = "no command";
        return result;
    }
    // Everything the child needs is made before fork: after it, the child
    // only makes system calls that are safe there.
    std::vector<std::string> arguments = command.argv;
    std::vector<std::string> environment =
        command.whole_environment ? command.environment : merged_environment(command.environment);
    std::vector<char*> argv = pointers_to(arguments);
    std::vector<char*> envp = pointers_to(environment);
    const char* directory = command.directory.empty() ? nullptr : command.directory.c_str();

    int output[2];
    int exec_report[2];  // closed by a successful exec; otherwise carries errno
    if (pipe(output) != 0) {
        result.problem = std::string("cannot make a pipe: ") + std::strerror(errno);
        return result;
    }
    if (pipe(exec_report) != 0) {
        result.problem = std::string("cannot make a pipe: ") + std::strerror(errno);
        close(output[0]);
        close(output[1]);
        return result;
    }
    const int null_input = open("/dev/null", O_RDONLY);
    for (int fd : {output[0], output[1], exec_report[0], exec_report[1], null_input})
        if (fd >= 0) close_on_exec(fd);

    const auto start = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        int failure = 0;
        if (directory && chdir(directory) != 0) failure = errno;
        if (failure == 0 && command.landlock_ruleset >= 0) failure = enter_landlock(command.landlock_ruleset);
        if (failure == 0 && null_input >= 0) dup2(null_input, 0);
        if (failure == 0) {
            dup2(output[1], 1);
            dup2(output[1], 2);
            execve(argv[0], argv.data(), envp.data());
            failure = errno;
        }
        ssize_t ignored = write(exec_report[1], &failure, sizeof failure);
        (void)ignored;
        _exit(127);
    }
    const int fork_errno = errno;
    close(output[1]);
    close(exec_report[1]);
    if (null_input >= 0) close(null_input);
    if (pid < 0) {
        close(output[0]);
        close(exec_report[0]);
        result.problem = std::string("cannot start ") + arguments[0] + ": " + std::strerror(fork_errno);
        return result;
    }
    // Both sides set the group, so that it exists before either goes on.
    setpgid(pid, pid);
    set_running_group(pid);
    if (stop_requested()) kill(-pid, SIGKILL);  // the signal came before the group was known

    int exec_errno = 0;
    ssize_t got;
    while ((got = read(exec_report[0], &exec_errno, sizeof exec_errno)) < 0 && errno == EINTR) {
    }
    close(exec_report[0]);
    if (got == static_cast<ssize_t>(sizeof exec_errno)) {
        reap(pid);
        set_running_group(0);
        close(output[0]);
        honour_stop_request();
        result.problem = "cannot run " + arguments[0] + ": " + std::strerror(exec_errno);
        return result;
    }

    bool progressed = false;
    auto last_progress = start;
    auto last_output = start;
    bool open_pipe = true;
    char buffer[65536];
    for (;;) {
        if (stop_requested()) {
            kill(-pid, SIGKILL);
            reap(pid);
            set_running_group(0);
            close(output[0]);
            honour_stop_request();
        }
        if (has_ended(pid)) {
            if (open_pipe) drain(output[0], on_output);
            break;
        }
        const double elapsed = seconds_since(start);
        if (elapsed >= limits.deadline_seconds) {
            result.end = ChildEnd::out_of_time;
            break;
        }
        if ((progressed && limits.stall_seconds > 0 && seconds_since(last_progress) >= limits.stall_seconds) ||
            (limits.silence_seconds > 0 && seconds_since(last_output) >= limits.silence_seconds)) {
            result.end = ChildEnd::stalled;
            result.waited = seconds_since(last_progress);
            break;
        }
        if (!open_pipe) {
            // Output closed but the child lives on: wait for it in short steps.
            usleep(20000);
            continue;
        }
        pollfd p{output[0], POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) continue;  // timeout, or a signal: look again
        const ssize_t n = read(output[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            open_pipe = false;
            continue;
        }
        last_output = Clock::now();
        const OutputVerdict verdict = on_output(std::string_view(buffer, static_cast<std::size_t>(n)));
        if (verdict == OutputVerdict::progress) {
            progressed = true;
            last_progress = Clock::now();
        } else if (verdict == OutputVerdict::stop) {
            result.end = ChildEnd::stopped;
            break;
        }
    }
    // Whatever is left of the group (the child itself when we stopped it, or
    // programs it started that outlive it) goes now.
    kill(-pid, SIGKILL);
    const int status = reap(pid);
    set_running_group(0);
    close(output[0]);
    honour_stop_request();
    if (result.end == ChildEnd::not_started) {
        if (WIFEXITED(status)) {
            result.end = ChildEnd::exited;
            result.status = WEXITSTATUS(status);
        } else {
            result.end = ChildEnd::crashed;
            result.status = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
        }
    }
    return result;
}

}  // namespace kelvarin
