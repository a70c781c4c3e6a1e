#include "app/jobs.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <iostream>

#include "app/progress.h"
#include "diag/log.h"
#include "settings/settings.h"
#include "shape/output_set.h"

// LeakSanitizer's check, present only in a sanitized build.
extern "C" void __lsan_do_leak_check() __attribute__((weak));

namespace {

// SIGPIPE too: a closed output stops the workers as it stops the parent.
const int FORWARDED_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};
const int FORWARDED_COUNT = 4;

// What a worker gets when its parent is gone: the signal of a closed pipe,
// which the program always handles as a stop (nohup may leave the others
// ignored). The export stops and its temporaries go; nothing is committed.
const int PARENT_DEATH_SIGNAL = SIGPIPE;

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
    bool _installed[FORWARDED_COUNT] = {false, false, false, false};
};

// A worker process and the export it runs, by slot.
struct Worker {
    pid_t pid = 0;
    int channel = -1;  // the parent's end of the socket pair
    bool busy = false;
    size_t job = 0;
    std::FILE* output = nullptr;
};

// Copies an export's whole output to standard output.
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
    checkStandardOutput();
}

// The message that hands a worker a job: the job's number, and a file
// descriptor (its output file) passed along with it.
struct JobMessage {
    std::uint64_t job = 0;
    struct iovec data {};
    struct msghdr message {};
    union {
        char buffer[CMSG_SPACE(sizeof(int))];
        struct cmsghdr align;
    } control{};  // last: cmsghdr ends in a flexible array

    JobMessage() {
        data.iov_base = &job;
        data.iov_len = sizeof job;
        message.msg_iov = &data;
        message.msg_iovlen = 1;
        message.msg_control = control.buffer;
        message.msg_controllen = sizeof control.buffer;
    }
    JobMessage(const JobMessage&) = delete;
    JobMessage& operator=(const JobMessage&) = delete;
};

bool sendJob(int p_channel, size_t p_job, int p_fd) {
    JobMessage m;
    m.job = p_job;
    struct cmsghdr* header = CMSG_FIRSTHDR(&m.message);
    header->cmsg_level = SOL_SOCKET;
    header->cmsg_type = SCM_RIGHTS;
    header->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(header), &p_fd, sizeof(int));
    for (;;) {
        ssize_t sent = sendmsg(p_channel, &m.message, MSG_NOSIGNAL);
        if (sent == static_cast<ssize_t>(sizeof m.job)) return true;
        if (sent < 0 && errno == EINTR) continue;
        return false;
    }
}

// The next job of a worker; false when the parent has no more.
bool receiveJob(int p_channel, size_t& p_job, int& p_fd) {
    JobMessage m;
    ssize_t got;
    do {
        got = recvmsg(p_channel, &m.message, MSG_CMSG_CLOEXEC);
    } while (got < 0 && errno == EINTR);
    struct cmsghdr* header = got == static_cast<ssize_t>(sizeof m.job) ? CMSG_FIRSTHDR(&m.message) : nullptr;
    if (header == nullptr || header->cmsg_level != SOL_SOCKET || header->cmsg_type != SCM_RIGHTS) return false;
    std::memcpy(&p_fd, CMSG_DATA(header), sizeof(int));
    p_job = static_cast<size_t>(m.job);
    return true;
}

void flushOutput() {
    std::cout.flush();
    std::fflush(stdout);
}

// A worker: runs the jobs the parent sends, one after another, each with its
// standard output on the job's file, and answers each with one byte (1: the
// export succeeded). Ends when the parent has no more jobs for it.
[[noreturn]] void runWorker(int p_channel, int p_progress_fd, const std::function<bool(size_t)>& p_work,
                            const std::function<void()>& p_finish) {
    flushOutput();
    const int terminal = dup(STDOUT_FILENO);
    size_t job = 0;
    int fd = -1;
    while (receiveJob(p_channel, job, fd)) {
        bool ok = false;
        flushOutput();
        if (dup2(fd, STDOUT_FILENO) >= 0) {
            if (p_progress_fd >= 0) setProgressChannel(p_progress_fd, static_cast<std::uint32_t>(job));
            try {
                ok = p_work(job);
            } catch (const std::exception& e) {
                tvLog("Unexpected error : ", e.what(), LOG_ERROR);
                ok = false;
            } catch (...) {
                tvLog("Unexpected error : ", "unknown", LOG_ERROR);
                ok = false;
            }
        }
        flushOutput();
        close(fd);
        const unsigned char answer = ok ? 1 : 0;
        ssize_t sent;
        do {
            sent = send(p_channel, &answer, 1, MSG_NOSIGNAL);
        } while (sent < 0 && errno == EINTR);
        if (sent != 1) break;
    }
    // What the worker's clean-up says goes straight to the run's output.
    if (terminal >= 0) dup2(terminal, STDOUT_FILENO);
    p_finish();
    flushOutput();
    // No exit handlers or static destructors: they belong to the parent. A
    // sanitized build still checks the exports for leaks.
    if (__lsan_do_leak_check != nullptr) __lsan_do_leak_check();
    _exit(0);
}

}  // namespace

std::vector<JobState> runJobs(size_t p_count, int p_max, const std::function<bool(size_t)>& p_work,
                              const std::vector<std::string>& p_names, const std::function<void()>& p_finish) {
    std::vector<JobState> states(p_count, JOB_NOT_STARTED);
    if (p_max < 1) p_max = 1;
    if (p_max > TARVEX_MAX_JOBS) p_max = TARVEX_MAX_JOBS;
    if (static_cast<size_t>(p_max) > p_count) p_max = static_cast<int>(p_count);

    // Progress reports: one pipe for all workers, records written whole.
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
    std::vector<Worker> workers(static_cast<size_t>(p_max));
    size_t next = 0;
    bool stopped = false;

    // A worker's end: its channel closed, the process waited for. Returns
    // the wait status.
    auto reap = [&](size_t p_slot) {
        Worker& worker = workers[p_slot];
        if (worker.channel >= 0) close(worker.channel);
        worker.channel = -1;
        int status = 0;
        while (waitpid(worker.pid, &status, 0) < 0 && errno == EINTR) {
        }
        forwarding.block();
        g_job_pids[p_slot] = 0;
        forwarding.unblock();
        worker.pid = 0;
        return status;
    };
    // An export that could not be handed to a worker: failed, and the last
    // to start.
    auto refuse = [&](size_t p_job, const std::string& p_reason) {
        tvLog("Could not start the export of : ", p_names[p_job] + p_reason, LOG_ERROR);
        states[p_job] = JOB_FAILED;
        stopped = true;
    };
    // An export's end: its output copied whole, its state recorded.
    auto finish = [&](Worker& p_worker, bool p_ok) {
        board.ended(p_worker.job);
        copyOutput(p_worker.output);
        std::fclose(p_worker.output);
        p_worker.output = nullptr;
        p_worker.busy = false;
        states[p_worker.job] = p_ok ? JOB_SUCCEEDED : JOB_FAILED;
        if (!p_ok) stopped = true;
    };

    for (;;) {
        if (g_stop_signal != 0) stopped = true;
        // Give every idle worker the next export; start workers as needed.
        for (size_t slot = 0; slot < workers.size() && !stopped && next < p_count; ++slot) {
            Worker& worker = workers[slot];
            if (worker.busy) continue;
            if (worker.pid == 0) {
                int pair[2];
                if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
                    refuse(next++, std::string(" (") + std::strerror(errno) + ")");
                    break;
                }
                flushOutput();
                forwarding.block();
                const pid_t parent = getpid();
                pid_t pid = fork();
                if (pid == 0) {
                    forwarding.restore();
                    // No worker outlives the run: the parent's death stops
                    // it, also when the parent died before this line.
                    if (prctl(PR_SET_PDEATHSIG, PARENT_DEATH_SIGNAL) != 0 || getppid() != parent)
                        _exit(128 + PARENT_DEATH_SIGNAL);
                    tvForgetOutputTemporaries();
                    forwarding.unblock();
                    close(pair[0]);
                    for (const Worker& other : workers)
                        if (other.channel >= 0) close(other.channel);
                    if (progress[0] >= 0) close(progress[0]);
                    runWorker(pair[1], progress[1], p_work, p_finish);
                }
                close(pair[1]);
                if (pid < 0) {
                    forwarding.unblock();
                    const int err = errno;
                    close(pair[0]);
                    refuse(next++, std::string(" (") + std::strerror(err) + ")");
                    break;
                }
                g_job_pids[slot] = pid;
                forwarding.unblock();
                worker.pid = pid;
                worker.channel = pair[0];
            }
            const size_t job = next++;
            std::FILE* output = std::tmpfile();
            if (output == nullptr || !sendJob(worker.channel, job, fileno(output))) {
                if (output != nullptr) std::fclose(output);
                refuse(job, "");
                break;
            }
            worker.busy = true;
            worker.job = job;
            worker.output = output;
            board.started(job);
        }
        // Idle workers get no more exports: their channels close and they end.
        if (stopped || next >= p_count) {
            for (size_t slot = 0; slot < workers.size(); ++slot)
                if (workers[slot].pid != 0 && !workers[slot].busy) reap(slot);
        }
        std::vector<struct pollfd> waits;
        std::vector<size_t> slots;
        for (size_t slot = 0; slot < workers.size(); ++slot) {
            if (!workers[slot].busy) continue;
            struct pollfd wait {};
            wait.fd = workers[slot].channel;
            wait.events = POLLIN;
            waits.push_back(wait);
            slots.push_back(slot);
        }
        if (waits.empty()) break;
        if (progress[0] >= 0) {
            struct pollfd wait {};
            wait.fd = progress[0];
            wait.events = POLLIN;
            waits.push_back(wait);
        }

        // Wait for an export to end, showing progress meanwhile.
        int ready = poll(waits.data(), waits.size(), progress[0] >= 0 ? 100 : -1);
        if (progress[0] >= 0) {
            board.read(progress[0]);
            board.refresh();
        }
        if (ready <= 0) continue;  // a signal, or time to redraw
        for (size_t i = 0; i < slots.size(); ++i) {
            if (waits[i].revents == 0) continue;
            Worker& worker = workers[slots[i]];
            unsigned char answer = 0;
            ssize_t got = read(worker.channel, &answer, 1);
            if (got < 0 && errno == EINTR) continue;
            if (got == 1) {
                finish(worker, answer == 1);
                continue;
            }
            // The worker ended in the middle of an export: what it wrote,
            // then how it ended.
            const size_t job = worker.job;
            const int status = reap(slots[i]);
            finish(worker, false);
            if (WIFSIGNALED(status)) {
                tvLog("Export ended by signal " + std::to_string(WTERMSIG(status)) + " : ", p_names[job], LOG_ERROR);
            } else if (WIFEXITED(status) && WEXITSTATUS(status) != 2 &&
                       (g_stop_signal == 0 || WEXITSTATUS(status) != 128 + g_stop_signal)) {
                // A failed export says why in its own lines, and so does one
                // that a forwarded signal stopped.
                tvLog("Export ended with status " + std::to_string(WEXITSTATUS(status)) + " : ", p_names[job],
                      LOG_ERROR);
            }
        }
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
