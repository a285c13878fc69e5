// What happens when kelvarin-render is stopped (Ctrl-C, Ctrl-\, kill, a
// closed terminal, a reader of its output that went away): the process
// group of every running tool is killed (several run at once when latex
// runs in parallel), every scratch folder is removed, and we
// die of the same signal, so that whoever started us sees how we ended (of
// SIGQUIT too, without leaving a core file). A SIGKILL cannot be caught: the
// tools die with us through child_process.h, and the scratch folder goes
// then or at the next start (stale_scratch.h).
#ifndef KELVARIN_INTERRUPTION_H
#define KELVARIN_INTERRUPTION_H

namespace kelvarin {

// Catches SIGINT, SIGTERM, SIGHUP, SIGQUIT and SIGPIPE (those not ignored
// when we started).
void catch_stop_signals();

// Whether a stop signal has arrived.
bool stop_requested();

// When a stop signal has arrived: removes the scratch folders and dies of
// that signal. Otherwise returns at once. Safe from any thread: the first
// to get here does it, the others wait for the end.
void honour_stop_request();

// The process groups of the tools now running: the signal handler kills
// every one at once. A group is added when its tool starts and removed once
// the group is dead, before the tool is reaped (so that its number cannot
// be another's yet). Returns false when too many run at once to be
// tracked; the caller then must not start the tool.
bool add_running_group(int group);
void remove_running_group(int group);

// The most tools that can run at once.
constexpr int kMostRunningGroups = 256;

}  // namespace kelvarin

#endif
