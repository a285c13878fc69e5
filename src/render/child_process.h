// Runs latex, dvipng and dvisvgm without a shell: an argument vector, its own
// process group, its output read through a pipe as it comes, and a deadline
// after which the whole group is killed.
#ifndef KELVARIN_CHILD_PROCESS_H
#define KELVARIN_CHILD_PROCESS_H

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace kelvarin {

struct ChildCommand {
    std::vector<std::string> argv;         // argv[0] is a full path (see find_command)
    std::string directory;                 // where it runs; empty: where we run
    std::vector<std::string> environment;  // "NAME=value", set on top of our own
    bool whole_environment = false;        // `environment` is all the child gets, not additions to ours
    int landlock_ruleset = -1;             // entered by the child before exec, when >= 0 (see landlock.h)
};

struct ChildLimits {
    double deadline_seconds = 60;  // from the start, whatever it does
    // After its first progress, the longest wait for the next progress. 0: none.
    double stall_seconds = 0;
    // The longest wait for any output at all, from the start (a loop that
    // prints nothing is told from slow work, which prints, sooner). 0: none.
    double silence_seconds = 0;
};

// What the child's output showed: nothing of note, progress (which restarts
// the stall clock), or a reason to stop it now.
enum class OutputVerdict { quiet, progress, stop };

enum class ChildEnd {
    exited,          // on its own; `status` holds the exit status
    crashed,         // killed by a signal we did not send; `status` holds it
    stopped,         // killed because the output asked for it
    stalled,         // killed: no progress for stall_seconds, or no output for silence_seconds
    out_of_time,     // killed at the deadline
    not_started,     // fork or exec failed; `problem` says why
};

struct ChildResult {
    ChildEnd end = ChildEnd::not_started;
    int status = 0;
    std::string problem;
    double waited = 0;  // when stalled: seconds since its last progress
};

// Runs the command with standard input from /dev/null and standard output
// and standard error together into `on_output`, chunk by chunk. `limits` is
// read at every turn, so `on_output` may change it as it learns more.
// Returns when the child has ended and nothing of its group is left
// running. When the user stops us meanwhile (see interruption.h) the group
// is killed and we die of that signal.
ChildResult run_child(const ChildCommand& command, const ChildLimits& limits,
                      const std::function<OutputVerdict(std::string_view)>& on_output);

// What a tool's end says went wrong, for a message: its exit status with
// the first line of what it said (at most 200 bytes), its deadline of
// `deadline_seconds`, its signal, or why it did not start; "" when it
// ended well.
std::string tool_problem(const ChildResult& result, const std::string& tool, const std::string& said,
                         double deadline_seconds);

// The full path of a program found on PATH (as a shell would find it, without
// one), or "" when there is none. A name holding "/" is taken as it is.
std::string find_command(const std::string& name);

}  // namespace kelvarin

#endif
