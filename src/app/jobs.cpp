#include "app/jobs.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <iostream>

#include "app/progress.h"
#include "diag/log.h"
#include "settings/settings.h"

// LeakSanitizer's check, present only in a sanitized build.
extern "C" void __lsan_do_leak_check() __attribute__((weak));

namespace {

const int FORWARDED_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};
const int FORWARDED_COUNT = 3;

// Children running, by slot; read by the signal handler. Written only while
// the forwarded signals are blocked.
volatile pid_t g_job_pids[TARVEX_MAX_JOBS];
volatile sig_atomic_t g_stop_signal = 0;

extern "C" void forwardStopSignal(int p_signal) {
    const int saved = errno;
    if (g_stop_signal == 0) g_stop_signal = p_signal;
    for (int slot = 0; slot < TARVEX_MAX_JOBS; ++slot) {
        pid_t pid = g_job_pids[slot];
        if (pid > 0) kill(pid, p_signal);
    }
    errno = saved;
}

// The forwarding handler for the run of runJobs; the handling in place
// before is restored by restore() (in the parent) and in every child.
class SignalForwarding {
public:
    SignalForwarding() {
        sigemptyset(&_set);
        for (int i = 0; i < FORWARDED_COUNT; ++i) sigaddset(&_set, FORWARDED_SIGNALS[i]);
        g_stop_signal = 0;
        for (int slot = 0; slot < TARVEX_MAX_JOBS; ++slot) g_job_pids[slot] = 0;
        struct sigaction action {};
        action.sa_handler = forwardStopSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = 0;  // no restart: a wait ends with EINTR
        for (int i = 0; i < FORWARDED_COUNT; ++i) {
            sigaction(FORWARDED_SIGNALS[i], nullptr, &_old[i]);
            // An ignored signal (nohup) stays ignored, for the children too.
            _installed[i] = _old[i].sa_handler != SIG_IGN;
            if (_installed[i]) sigaction(FORWARDED_SIGNALS[i], &action, nullptr);
        }
    }
    ~SignalForwarding() { restore(); }
    SignalForwarding(const SignalForwarding&) = delete;
    SignalForwarding& operator=(const SignalForwarding&) = delete;

    void block() { sigprocmask(SIG_BLOCK, &_set, &_mask); }
    void unblock() { sigprocmask(SIG_SETMASK, &_mask, nullptr); }

    void restore() {
        for (int i = 0; i < FORWARDED_COUNT; ++i) {
            if (_installed[i]) sigaction(FORWARDED_SIGNALS[i], &_old[i], nullptr);
            _installed[i] = false;
        }
    }

private:
    sigset_t _set;
    sigset_t _mask;
    struct sigaction _old[FORWARDED_COUNT];
    bool _installed[FORWARDED_COUNT] = {false, false, false};
};

struct Running {
    pid_t pid = 0;
    size_t job = 0;
    std::FILE* output = nullptr;
};

// Copies a child's whole output to standard output.
void copyOutput(std::FILE* p_output) {
    clearConsoleLine();
    char buffer[65536];
    off_t offset = 0;
    char last = '\n';
    for (;;) {
        ssize_t got = pread(fileno(p_output), buffer, sizeof buffer, offset);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        std::cout.write(buffer, got);
        last = buffer[got - 1];
        offset += got;
    }
    if (last != '\n') std::cout << '\n';
    std::cout.flush();
}

[[noreturn]] void runChild(size_t p_job, std::FILE* p_output, int p_progress_fd,
                           const std::function<bool(size_t)>& p_work) {
    std::cout.flush();
    std::fflush(stdout);
    bool ok = false;
    if (dup2(fileno(p_output), STDOUT_FILENO) >= 0) {
        if (p_progress_fd >= 0) setProgressChannel(p_progress_fd, static_cast<std::uint32_t>(p_job));
        try {
            ok = p_work(p_job);
        } catch (const std::exception& e) {
            tvLog("Unexpected error : ", e.what(), LOG_ERROR);
            ok = false;
        } catch (...) {
            tvLog("Unexpected error : ", "unknown", LOG_ERROR);
            ok = false;
        }
    }
    std::cout.flush();
    std::fflush(stdout);
    // No exit handlers or static destructors: they belong to the parent. A
    // sanitized build still checks the export for leaks.
    if (__lsan_do_leak_check != nullptr) __lsan_do_leak_check();
    _exit(ok ? 0 : 2);
}

}  // namespace

std::vector<JobState> runJobs(size_t p_count, int p_max, const std::function<bool(size_t)>& p_work,
                              const std::vector<std::string>& p_names) {
    std::vector<JobState> states(p_count, JOB_NOT_STARTED);
    if (p_max < 1) p_max = 1;
    if (p_max > TARVEX_MAX_JOBS) p_max = TARVEX_MAX_JOBS;

    // Progress reports: one pipe for all children, records written whole.
    int progress[2] = {-1, -1};
    const bool showProgress = progressRequested();
    if (showProgress && pipe(progress) == 0) {
        fcntl(progress[0], F_SETFL, O_NONBLOCK);
        fcntl(progress[1], F_SETFL, O_NONBLOCK);
        fcntl(progress[0], F_SETFD, FD_CLOEXEC);
        fcntl(progress[1], F_SETFD, FD_CLOEXEC);
    } else {
        progress[0] = progress[1] = -1;
    }
    tvProgressBoard board(p_names, isatty(STDOUT_FILENO) == 1);

    SignalForwarding forwarding;
    std::vector<Running> slots(static_cast<size_t>(p_max));
    size_t next = 0;
    size_t running = 0;
    bool stopped = false;

    for (;;) {
        // Start what may start.
        for (size_t slot = 0; slot < slots.size() && !stopped && next < p_count; ++slot) {
            if (slots[slot].pid != 0) continue;
            if (g_stop_signal != 0) {
                stopped = true;
                break;
            }
            const size_t job = next++;
            std::FILE* output = std::tmpfile();
            if (output == nullptr) {
                tvLog("Could not create a temporary file for the output of : ", p_names[job],
                      LOG_ERROR);
                states[job] = JOB_FAILED;
                stopped = true;
                break;
            }
            std::cout.flush();
            std::fflush(stdout);
            forwarding.block();
            pid_t pid = fork();
            if (pid == 0) {
                forwarding.restore();
                forwarding.unblock();
                if (progress[0] >= 0) close(progress[0]);
                runChild(job, output, progress[1], p_work);
            }
            if (pid < 0) {
                forwarding.unblock();
                tvLog("Could not start the export of : ", p_names[job] + " (" + std::strerror(errno) + ")",
                      LOG_ERROR);
                std::fclose(output);
                states[job] = JOB_FAILED;
                stopped = true;
                break;
            }
            g_job_pids[slot] = pid;
            forwarding.unblock();
            slots[slot].pid = pid;
            slots[slot].job = job;
            slots[slot].output = output;
            board.started(job);
            ++running;
        }
        if (running == 0) break;

        // Wait for a child to end, showing progress meanwhile.
        int status = 0;
        pid_t ended;
        if (progress[0] >= 0) {
            struct pollfd wait {};
            wait.fd = progress[0];
            wait.events = POLLIN;
            poll(&wait, 1, 100);
            board.read(progress[0]);
            ended = waitpid(-1, &status, WNOHANG);
        } else {
            ended = waitpid(-1, &status, 0);
        }
        if (ended <= 0) {
            if (g_stop_signal != 0) stopped = true;
            if (progress[0] >= 0) board.refresh();
            if (ended < 0 && errno == ECHILD) break;  // cannot happen while children run
            continue;
        }
        for (size_t slot = 0; slot < slots.size(); ++slot) {
            if (slots[slot].pid != ended) continue;
            forwarding.block();
            g_job_pids[slot] = 0;
            forwarding.unblock();
            Running done = slots[slot];
            slots[slot] = Running();
            --running;
            board.ended(done.job);
            copyOutput(done.output);
            std::fclose(done.output);
            const bool ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
            if (WIFSIGNALED(status)) {
                tvLog("Export ended by signal " + std::to_string(WTERMSIG(status)) + " : ",
                      p_names[done.job], LOG_ERROR);
            } else if (WIFEXITED(status) && WEXITSTATUS(status) != 0 && WEXITSTATUS(status) != 2 &&
                       (g_stop_signal == 0 || WEXITSTATUS(status) != 128 + g_stop_signal)) {
                // A failed export says why in its own lines, and so does one
                // that a forwarded signal stopped.
                tvLog("Export ended with status " + std::to_string(WEXITSTATUS(status)) + " : ",
                      p_names[done.job], LOG_ERROR);
            }
            states[done.job] = ok ? JOB_SUCCEEDED : JOB_FAILED;
            if (!ok) stopped = true;
            break;
        }
        if (g_stop_signal != 0) stopped = true;
        if (progress[0] >= 0) board.refresh();
    }

    clearConsoleLine();
    if (progress[0] >= 0) close(progress[0]);
    if (progress[1] >= 0) close(progress[1]);
    const int signal = g_stop_signal;
    forwarding.restore();
    // The handling in place before (the program's own reports the signal):
    // by default the process ends here.
    if (signal != 0) raise(signal);
    return states;
}
