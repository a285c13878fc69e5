#include "render/interruption.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include "render/scratch_folder.h"

namespace kelvarin {

namespace {

volatile sig_atomic_t stop_signal = 0;
volatile sig_atomic_t running_group = 0;

// Only async-signal-safe work here: note the signal, kill the running tool
// so that the main flow's wait ends at once. The main flow does the rest.
extern "C" void on_stop_signal(int signal_number) {
    stop_signal = signal_number;
    const pid_t group = running_group;
    if (group > 0) kill(-group, SIGKILL);
}

}  // namespace

void catch_stop_signals() {
    for (int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE}) {
        struct sigaction old_action {};
        sigaction(signal_number, nullptr, &old_action);
        // A signal ignored by whoever started us (nohup, a background job)
        // stays ignored.
        if (old_action.sa_handler == SIG_IGN) continue;
        struct sigaction action {};
        action.sa_handler = on_stop_signal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = 0;  // no SA_RESTART: a wait in progress returns at once
        sigaction(signal_number, &action, nullptr);
    }
}

bool stop_requested() { return stop_signal != 0; }

void honour_stop_request() {
    const int signal_number = stop_signal;
    if (signal_number == 0) return;
    remove_scratch_folders();
    // SIGQUIT's default action dumps core: we die of it, but leave no core
    // file in the working folder.
    const struct rlimit no_core {0, 0};
    setrlimit(RLIMIT_CORE, &no_core);
    prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(signal_number, &action, nullptr);
    sigset_t unblock;
    sigemptyset(&unblock);
    sigaddset(&unblock, signal_number);
    sigprocmask(SIG_UNBLOCK, &unblock, nullptr);
    raise(signal_number);
    _exit(128 + signal_number);  // not reached: the default action ends us
}

void set_running_group(int group) { running_group = group; }

}  // namespace kelvarin
