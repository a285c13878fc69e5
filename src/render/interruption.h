// What happens when kelvarin-render is stopped (Ctrl-C, kill, a closed
// terminal, a reader of its output that went away): the running tool's
// process group is killed, every scratch folder is removed, and we die of
// the same signal, so that whoever started us sees how we ended.
#ifndef KELVARIN_INTERRUPTION_H
#define KELVARIN_INTERRUPTION_H

namespace kelvarin {

// Catches SIGINT, SIGTERM, SIGHUP and SIGPIPE (those not ignored when we
// started).
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
