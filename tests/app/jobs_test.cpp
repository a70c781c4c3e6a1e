// Exports side by side in child processes: each child's output as one block
// in the order the children end, no new start after a failure, signals
// forwarded; and the progress texts.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/jobs.h"
#include "app/progress.h"
#include "diag/log.h"
#include "settings/settings.h"

namespace {

std::vector<std::string> lines(const std::string& p_text) {
    std::vector<std::string> result;
    std::istringstream in(p_text);
    for (std::string line; std::getline(in, line);) result.push_back(line);
    return result;
}

void sleepMs(int p_ms) { std::this_thread::sleep_for(std::chrono::milliseconds(p_ms)); }

std::vector<std::string> names(size_t p_count) {
    std::vector<std::string> result;
    for (size_t i = 0; i < p_count; ++i) result.push_back("job" + std::to_string(i) + ".shp");
    return result;
}

struct JobsRun {
    std::vector<JobState> states;
    std::vector<std::string> output;
};

JobsRun run(size_t p_count, int p_max, const std::function<bool(size_t)>& p_work) {
    g_args.clear();
    g_log_level = LOG_BASIC;
    testing::internal::CaptureStdout();
    JobsRun result;
    result.states = runJobs(p_count, p_max, p_work, names(p_count));
    result.output = lines(testing::internal::GetCapturedStdout());
    return result;
}

volatile sig_atomic_t g_seen_signal = 0;
extern "C" void noteSignal(int p_signal) { g_seen_signal = p_signal; }

}  // namespace

TEST(RunJobs, EachChildsLinesFormOneBlockInTheOrderTheChildrenEnd) {
    // Job 0 runs long; 1, 2 and 3 take its second slot in turn.
    JobsRun result = run(4, 2, [](size_t p_job) {
        for (int line = 0; line < 3; ++line) {
            std::cout << "job " << p_job << " line " << line << std::endl;
            sleepMs(p_job == 0 ? 300 : 20);
        }
        return true;
    });
    EXPECT_EQ(result.states, std::vector<JobState>(4, JOB_SUCCEEDED));
    std::vector<std::string> expected;
    for (size_t job : {1, 2, 3, 0}) {
        for (int line = 0; line < 3; ++line) {
            expected.push_back("job " + std::to_string(job) + " line " + std::to_string(line));
        }
    }
    EXPECT_EQ(result.output, expected);

    // One at a time: list order, as without parallel exports.
    result = run(3, 1, [](size_t p_job) {
        std::cout << "job " << p_job << std::endl;
        return true;
    });
    EXPECT_EQ(result.output, (std::vector<std::string>{"job 0", "job 1", "job 2"}));
}

// A worker runs its exports one after another in one process (and so on
// one connection), and its clean-up runs once, after its last export.
TEST(RunJobs, WorkersRunExportsInTurnAndCleanUpOnceEach) {
    char path[] = "/tmp/tarvex-workers-XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    const std::string finished = path;
    g_args.clear();
    g_log_level = LOG_BASIC;
    testing::internal::CaptureStdout();
    std::vector<JobState> states = runJobs(
        6, 2,
        [](size_t p_job) {
            std::cout << "job " << p_job << " in " << getpid() << std::endl;
            return true;
        },
        names(6),
        [&finished] {
            FILE* out = std::fopen(finished.c_str(), "a");
            if (out != nullptr) {
                std::fprintf(out, "%d\n", static_cast<int>(getpid()));
                std::fclose(out);
            }
        });
    std::vector<std::string> output = lines(testing::internal::GetCapturedStdout());
    EXPECT_EQ(states, std::vector<JobState>(6, JOB_SUCCEEDED));
    ASSERT_EQ(output.size(), 6u);
    std::set<std::string> workers;
    for (const std::string& line : output) workers.insert(line.substr(line.find(" in ") + 4));
    EXPECT_LE(workers.size(), 2u);
    EXPECT_EQ(workers.count(std::to_string(getpid())), 0u);
    std::ifstream in(finished);
    std::set<std::string> cleaned;
    for (std::string line; std::getline(in, line);) EXPECT_TRUE(cleaned.insert(line).second) << line;
    EXPECT_EQ(cleaned, workers);
    std::remove(path);
}

TEST(RunJobs, AfterAFailureNoNewJobStartsAndTheRunningOnesFinish) {
    JobsRun result = run(6, 2, [](size_t p_job) {
        if (p_job == 0) {
            std::cout << "[ERROR] job 0 failed" << std::endl;
            return false;
        }
        sleepMs(400);
        std::cout << "job " << p_job << " done" << std::endl;
        return true;
    });
    EXPECT_EQ(result.states, (std::vector<JobState>{JOB_FAILED, JOB_SUCCEEDED, JOB_NOT_STARTED,
                                                    JOB_NOT_STARTED, JOB_NOT_STARTED, JOB_NOT_STARTED}));
    EXPECT_EQ(result.output, (std::vector<std::string>{"[ERROR] job 0 failed", "job 1 done"}));
}

TEST(RunJobs, ChildEndedByASignalOrCutShortFailsAndItsLastLineIsEnded) {
    JobsRun result = run(2, 2, [](size_t p_job) {
        std::cout << "half a line of job " << p_job << std::flush;
        if (p_job == 1) {
            sleepMs(100);
            raise(SIGKILL);
        }
        return true;
    });
    EXPECT_EQ(result.states, (std::vector<JobState>{JOB_SUCCEEDED, JOB_FAILED}));
    EXPECT_EQ(result.output, (std::vector<std::string>{"half a line of job 0", "half a line of job 1",
                                                       "[ERROR] Export ended by signal 9 : job1.shp"}));
}

TEST(RunJobs, ASignalToTheParentReachesTheChildrenAndThenThePreviousHandler) {
    struct sigaction note {};
    note.sa_handler = noteSignal;
    sigemptyset(&note.sa_mask);
    struct sigaction old {};
    ASSERT_EQ(sigaction(SIGTERM, &note, &old), 0);
    g_seen_signal = 0;

    JobsRun result = run(5, 2, [](size_t p_job) {
        // Children start with the handler in place before: it notes the
        // forwarded signal; the export gives up.
        if (p_job == 0) {
            sleepMs(100);  // both children started
            kill(getppid(), SIGTERM);
        }
        for (int i = 0; i < 500 && g_seen_signal == 0; ++i) sleepMs(10);
        std::cout << "job " << p_job << " saw signal " << g_seen_signal << std::endl;
        return false;
    });
    const int seen = g_seen_signal;
    sigaction(SIGTERM, &old, nullptr);

    EXPECT_EQ(seen, SIGTERM);
    EXPECT_EQ(result.states, (std::vector<JobState>{JOB_FAILED, JOB_FAILED, JOB_NOT_STARTED,
                                                    JOB_NOT_STARTED, JOB_NOT_STARTED}));
    ASSERT_EQ(result.output.size(), 2u);
    for (size_t i = 0; i < 2; ++i) EXPECT_EQ(result.output[i].substr(6), "saw signal 15") << result.output[i];
}

TEST(Progress, TextWithPercentageRateAndElapsedTime) {
    // The time left at the mean rate so far, rounded up.
    EXPECT_EQ(formatProgress("roads.shp", 1200, 4800, 0.4),
              "roads.shp : 1200 rows (25%), 3000 rows/s, 0.4 s, 2 s left");
    EXPECT_EQ(formatProgress("roads.shp", 1000, 1000000, 10.0),
              "roads.shp : 1000 rows (0%), 100 rows/s, 10.0 s, 2 h 46 min left");
    // No rows yet: no rate to go by.
    EXPECT_EQ(formatProgress("roads.shp", 0, 10, 1.0), "roads.shp : 0 rows (0%), 0 rows/s, 1.0 s");
    const struct {
        double seconds;
        const char* text;
    } spans[] = {{0, "0 s"}, {0.2, "1 s"}, {59, "59 s"}, {60, "1 min 00 s"}, {3599.5, "1 h 00 min"},
                 {7385, "2 h 03 min"}, {1e12, "more than 30 years"}};
    for (const auto& span : spans) EXPECT_EQ(formatDuration(span.seconds), span.text) << span.seconds;
    // No count: no percentage; no time yet: no rate.
    EXPECT_EQ(formatProgress("roads.shp", 0, -1, 0.0), "roads.shp : 0 rows, 0.0 s");
    // Rows added since the count: never above 100 %.
    EXPECT_EQ(formatProgress("a.shp", 11, 10, 2.0), "a.shp : 11 rows (100%), 5 rows/s, 2.0 s");
    EXPECT_EQ(formatProgress("a.shp", 5, 0, 1.0), "a.shp : 5 rows, 5 rows/s, 1.0 s");

    EXPECT_EQ(fitToWidth("abcdef", 4), "abcd");
    EXPECT_EQ(fitToWidth("abc", 4), "abc");
    // A character of several bytes counts once and is never split.
    EXPECT_EQ(fitToWidth("Zürich", 3), "Zür");
    EXPECT_EQ(fitToWidth("\xce\xa0\xce\xbf", 1), "\xce\xa0");
}

TEST(Progress, BoardShowsRunningExportsFromTheChildrensRecords) {
    tvProgressBoard board({"a.shp", "b.shp", "c.shp"}, false);
    board.started(0);
    board.started(1);
    EXPECT_EQ(board.line(), "0 of 3 ended | a.shp : starting | b.shp : starting");

    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    fcntl(fds[0], F_SETFL, O_NONBLOCK);
    ProgressRecord record{};
    record.job = 1;
    record.rows = 500;
    record.total = 1000;
    record.elapsedMs = 2000;
    // A record in two pieces, then a record of a job that is not running.
    const char* bytes = reinterpret_cast<const char*>(&record);
    ASSERT_EQ(write(fds[1], bytes, 5), 5);
    board.read(fds[0]);
    EXPECT_EQ(board.line(), "0 of 3 ended | a.shp : starting | b.shp : starting");
    ASSERT_EQ(write(fds[1], bytes + 5, sizeof record - 5), static_cast<ssize_t>(sizeof record - 5));
    record.job = 2;
    ASSERT_EQ(write(fds[1], &record, sizeof record), static_cast<ssize_t>(sizeof record));
    board.read(fds[0]);
    EXPECT_EQ(board.line(), "0 of 3 ended | a.shp : starting | b.shp : 500 rows (50%), 250 rows/s, 2.0 s, 2 s left");
    board.ended(0);
    board.ended(0);
    EXPECT_EQ(board.line(), "1 of 3 ended | b.shp : 500 rows (50%), 250 rows/s, 2.0 s, 2 s left");
    close(fds[0]);
    close(fds[1]);
}
