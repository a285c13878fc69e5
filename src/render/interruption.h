// What happens when kelvarin-render is stopped (Ctrl-C, Ctrl-\, kill, a
// closed terminal, a reader of its output that went away): the running
// tool's process group is killed, every scratch folder is removed, and we
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
// that signal. Otherwise returns at once.
void honour_stop_request();

// The process group of the tool now running (0: none); the signal handler
// kills it at once.
void set_running_group(int group);

}  // namespace kelvarin

#endif
