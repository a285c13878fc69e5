#include "render/child_process.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "render/interruption.h"
#include "render/landlock.h"
#include "render/scratch_folder.h"

extern char** environ;

namespace kelvarin {

namespace {

using Clock = std::chrono::steady_clock;

// close_range's flag that marks the descriptors close-on-exec instead of
// closing them (Linux 5.11; older kernels refuse it, and nothing changes).
constexpr unsigned kCloseRangeCloexec = 1u << 2;

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

// Closes every descriptor but `keep`.
void close_all_but(int keep) {
#ifdef SYS_close_range
    if ((keep == 0 || syscall(SYS_close_range, 0u, static_cast<unsigned>(keep - 1), 0u) == 0) &&
        syscall(SYS_close_range, static_cast<unsigned>(keep + 1), ~0u, 0u) == 0)
        return;
#endif
    struct rlimit limit {};
    long most = getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY
                    ? static_cast<long>(limit.rlim_cur)
                    : 65536;
    if (most > 65536) most = 65536;
    for (int fd = 0; fd < most; ++fd)
        if (fd != keep) close(fd);
}

// Whether a process not yet dead (neither gone nor a zombie) is left in the
// group. A killed tool stays a zombie until whoever inherited it reaps it;
// it does nothing more then.
bool group_lives(pid_t group) {
    DIR* proc = opendir("/proc");
    if (!proc) return kill(-group, 0) == 0;
    bool lives = false;
    while (dirent* entry = readdir(proc)) {
        if (entry->d_name[0] < '0' || entry->d_name[0] > '9') continue;
        char path[300];
        std::snprintf(path, sizeof path, "/proc/%s/stat", entry->d_name);
        FILE* file = std::fopen(path, "r");
        if (!file) continue;
        char text[512];
        const std::size_t n = std::fread(text, 1, sizeof text - 1, file);
        std::fclose(file);
        text[n] = '\0';
        // "pid (name) state ppid pgrp ...": the name may hold anything, so
        // read from the last ")".
        const char* close_paren = std::strrchr(text, ')');
        char state = 0;
        long parent = 0, process_group = 0;
        if (close_paren && std::sscanf(close_paren + 1, " %c %ld %ld", &state, &parent, &process_group) == 3 &&
            process_group == group && state != 'Z' && state != 'X') {
            lives = true;
            break;
        }
    }
    closedir(proc);
    return lives;
}

// The watchdog of a tool's process group: a process of its own, forked from
// us, that waits on a pipe only we write to. Should we die without a word
// (SIGKILL, which no handler sees), the pipe closes: it kills the group,
// latex's own helpers with it, waits until they are gone and removes the
// scratch folders (its copy of our list names them). When the run ends
// normally, the group is killed with it in it. It sits in the tool's group,
// so that a Ctrl-C meant for us, or a kill of our own group, does not end it
// before it is needed.
pid_t start_watchdog(pid_t group, int watch_read, int watch_write) {
    const pid_t pid = fork();
    if (pid != 0) return pid;
    setpgid(0, group);
    for (int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE}) signal(signal_number, SIG_IGN);
    close(watch_write);
    close_all_but(watch_read);
    char byte;
    while (read(watch_read, &byte, 1) < 0 && errno == EINTR) {
    }
    // Whoever wrote to the pipe, or closed it, is gone or done: leave the
    // group first, so that killing it does not end us.
    setpgid(0, 0);
    kill(-group, SIGKILL);
    for (int i = 0; i < 500 && group_lives(group); ++i) usleep(10000);
    remove_scratch_folders();
    _exit(0);
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

namespace {

// The pipes between us and one tool.
struct ChildPipes {
    int output[2];       // its standard output and error
    int exec_report[2];  // closed by a successful exec; otherwise carries errno
    int watch[2];        // held open by us alone while we live (see start_watchdog)
};

// Made close-on-exec at once: tools started meanwhile by other threads must
// not hold our pipes (a watchdog would wait on them).
bool make_pipes(ChildPipes& pipes, std::string& problem) {
    if (pipe2(pipes.output, O_CLOEXEC) != 0) {
        problem = std::string("cannot make a pipe: ") + std::strerror(errno);
        return false;
    }
    if (pipe2(pipes.exec_report, O_CLOEXEC) != 0 || pipe2(pipes.watch, O_CLOEXEC) != 0) {
        problem = std::string("cannot make a pipe: ") + std::strerror(errno);
        close(pipes.output[0]);
        close(pipes.output[1]);
        return false;
    }
    return true;
}

// The child's side, between fork and exec: only system calls that are safe
// there. Reports why the tool could not start on the exec report pipe.
[[noreturn]] void become_tool(const ChildCommand& command, const char* directory, std::vector<char*>& argv,
                              std::vector<char*>& envp, int null_input, const ChildPipes& pipes, pid_t parent) {
    setpgid(0, 0);
    // The tool dies with us, also of a SIGKILL no handler sees; when we are
    // gone already, it does not start.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    int failure = 0;
    if (directory && chdir(directory) != 0) failure = errno;
    if (failure == 0 && command.landlock_ruleset >= 0) failure = enter_landlock(command.landlock_ruleset);
    if (failure == 0 && null_input >= 0) dup2(null_input, 0);
    if (failure == 0) {
        dup2(pipes.output[1], 1);
        dup2(pipes.output[1], 2);
#ifdef SYS_close_range
        // Files other threads of ours hold open do not pass to the tool.
        syscall(SYS_close_range, 3u, ~0u, kCloseRangeCloexec);
#endif
        execve(argv[0], argv.data(), envp.data());
        failure = errno;
    }
    ssize_t ignored = write(pipes.exec_report[1], &failure, sizeof failure);
    (void)ignored;
    _exit(127);
}

// The errno the tool's exec failed with, or 0 when it runs.
int exec_failure(int exec_report) {
    int exec_errno = 0;
    ssize_t got;
    while ((got = read(exec_report, &exec_errno, sizeof exec_errno)) < 0 && errno == EINTR) {
    }
    close(exec_report);
    return got == static_cast<ssize_t>(sizeof exec_errno) ? exec_errno : 0;
}

// Reads the tool's output until it ends, runs out of time, stalls or is
// stopped by `on_output`; sets result.end for all but a normal end.
// `abandon` tidies up before a stop request ends the run.
void follow_output(pid_t pid, int output, const ChildLimits& limits,
                   const std::function<OutputVerdict(std::string_view)>& on_output,
                   const std::function<void()>& abandon, Clock::time_point start, ChildResult& result) {
    bool progressed = false;
    auto last_progress = start;
    auto last_output = start;
    bool open_pipe = true;
    // A tool that closed its output is about to end: look again soon, then
    // less often, so that its end costs us no idle wait of note.
    useconds_t pause = 500;
    char buffer[65536];
    for (;;) {
        if (stop_requested()) abandon();
        if (has_ended(pid)) {
            if (open_pipe) drain(output, on_output);
            return;
        }
        if (seconds_since(start) >= limits.deadline_seconds) {
            result.end = ChildEnd::out_of_time;
            return;
        }
        if ((progressed && limits.stall_seconds > 0 && seconds_since(last_progress) >= limits.stall_seconds) ||
            (limits.silence_seconds > 0 && seconds_since(last_output) >= limits.silence_seconds)) {
            result.end = ChildEnd::stalled;
            result.waited = seconds_since(last_progress);
            return;
        }
        if (!open_pipe) {
            // Output closed but the child lives on: wait for it in short steps.
            usleep(pause);
            pause = std::min<useconds_t>(pause * 2, 20000);
            continue;
        }
        pollfd p{output, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) continue;  // timeout, or a signal: look again
        const ssize_t n = read(output, buffer, sizeof buffer);
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
            return;
        }
    }
}

// How the tool ended, from its wait status, unless the run ended it.
void read_status(int status, ChildResult& result) {
    if (result.end != ChildEnd::not_started) return;
    if (WIFEXITED(status)) {
        result.end = ChildEnd::exited;
        result.status = WEXITSTATUS(status);
    } else {
        result.end = ChildEnd::crashed;
        result.status = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    }
}

}  // namespace

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
    ChildPipes pipes;
    if (!make_pipes(pipes, result.problem)) return result;
    const int null_input = open("/dev/null", O_RDONLY | O_CLOEXEC);

    const auto start = Clock::now();
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0) become_tool(command, directory, argv, envp, null_input, pipes, parent);
    const int fork_errno = errno;
    close(pipes.output[1]);
    close(pipes.exec_report[1]);
    if (null_input >= 0) close(null_input);
    const auto close_all = [&] {
        close(pipes.output[0]);
        close(pipes.exec_report[0]);
        close(pipes.watch[0]);
        close(pipes.watch[1]);
    };
    if (pid < 0) {
        close_all();
        result.problem = std::string("cannot start ") + arguments[0] + ": " + std::strerror(fork_errno);
        return result;
    }
    // Both sides set the group, so that it exists before either goes on.
    setpgid(pid, pid);
    if (!add_running_group(pid)) {
        // Never with the renderer's own limits on parallel runs.
        kill(-pid, SIGKILL);
        reap(pid);
        close_all();
        result.problem = "cannot start " + arguments[0] + ": too many tools running at once";
        return result;
    }
    // Without a watchdog (fork failed) the tool itself still dies with us.
    const pid_t watchdog = start_watchdog(pid, pipes.watch[0], pipes.watch[1]);
    if (watchdog > 0) setpgid(watchdog, pid);
    close(pipes.watch[0]);
    // Reaps the watchdog, which the kill of the group has ended, and closes
    // our end of its pipe.
    auto release_watchdog = [&] {
        if (watchdog > 0) {
            kill(watchdog, SIGKILL);
            reap(watchdog);
        }
        close(pipes.watch[1]);
    };
    if (stop_requested()) kill(-pid, SIGKILL);  // the signal came before the group was known

    if (const int exec_errno = exec_failure(pipes.exec_report[0]); exec_errno != 0) {
        remove_running_group(pid);
        reap(pid);
        release_watchdog();
        close(pipes.output[0]);
        honour_stop_request();
        result.problem = "cannot run " + arguments[0] + ": " + std::strerror(exec_errno);
        return result;
    }
    const auto abandon = [&] {
        kill(-pid, SIGKILL);
        remove_running_group(pid);
        reap(pid);
        release_watchdog();
        close(pipes.output[0]);
        honour_stop_request();
    };
    follow_output(pid, pipes.output[0], limits, on_output, abandon, start, result);
    // Whatever is left of the group (the child itself when we stopped it, or
    // programs it started that outlive it) goes now.
    kill(-pid, SIGKILL);
    remove_running_group(pid);
    const int status = reap(pid);
    release_watchdog();
    close(pipes.output[0]);
    honour_stop_request();
    read_status(status, result);
    return result;
}

std::string tool_problem(const ChildResult& result, const std::string& tool, const std::string& said,
                         double deadline_seconds) {
    switch (result.end) {
        case ChildEnd::exited: {
            if (result.status == 0) return "";
            std::string first = said.substr(0, said.find('\n'));
            if (first.size() > 200) first.resize(200);
            return tool + " failed (exit status " + std::to_string(result.status) + ")" +
                   (first.empty() ? "" : ": " + first);
        }
        case ChildEnd::out_of_time:
            return tool + " did not finish in " + std::to_string(static_cast<int>(deadline_seconds)) + " s";
        case ChildEnd::crashed: return tool + " crashed (signal " + std::to_string(result.status) + ")";
        case ChildEnd::not_started: return tool + " could not be started: " + result.problem;
        default: return tool + " was stopped";
    }
}

}  // namespace kelvarin
