#include "render/interruption.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <mutex>

#include "render/scratch_folder.h"

namespace kelvarin {

namespace {

volatile sig_atomic_t stop_signal = 0;
// Slots of 0 are free. Lock-free atomics, so the signal handler may read them.
std::atomic<int> running_groups[kMostRunningGroups];
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler reads the groups");

// Only async-signal-safe work here: note the signal, kill the running tools
// so that every wait for one ends at once. The waiting threads do the rest.
extern "C" void on_stop_signal(int signal_number) {
    stop_signal = signal_number;
    for (std::atomic<int>& slot : running_groups) {
        const pid_t group = slot.load();
        if (group > 0) kill(-group, SIGKILL);
    }
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
    // Held until we die: another thread that gets here waits for that.
    static std::mutex dying;
    dying.lock();
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

bool add_running_group(int group) {
    for (std::atomic<int>& slot : running_groups) {
        int free = 0;
        if (slot.compare_exchange_strong(free, group)) return true;
    }
    return false;
}

void remove_running_group(int group) {
    for (std::atomic<int>& slot : running_groups) {
        int held = group;
        if (slot.compare_exchange_strong(held, 0)) return;
    }
}

}  // namespace kelvarin
