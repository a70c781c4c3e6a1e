// Progress of the exports' row loops, shown on request ("--progress"): rows
// written, rows per second, elapsed time and, when the row count is known, a
// percentage and the estimated time left. On a terminal one line redrawn in
// place; otherwise a plain log line every 10 seconds.
#ifndef TARVEX_APP_PROGRESS_H
#define TARVEX_APP_PROGRESS_H

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

// Whether "--progress" was given.
bool progressRequested();

// "name : 1200 rows (45%), 3000 rows/s, 0.4 s, 1 s left"; the percentage
// only when p_total is above 0 (capped at 100), rows per second only once
// some time has passed, the time left only with both and while p_rows is
// below p_total.
std::string formatProgress(const std::string& p_name, long long p_rows, long long p_total,
                           double p_seconds);

// A time span rounded up to whole seconds: "42 s", "4 min 05 s",
// "2 h 07 min".
std::string formatDuration(double p_seconds);

// The text cut to p_width characters (counting UTF-8 sequences as one), so
// that a line redrawn in place never wraps.
std::string fitToWidth(const std::string& p_text, size_t p_width);

// The rows of p_sql, counted with one "select count(*)" on the global
// connection; -1 when the count fails (the reason is logged at debug level).
long long countQueryRows(const std::string& p_sql);

// One progress report of an export running in a child process, sent to the
// parent through a pipe (its size is below PIPE_BUF, so each write is whole).
struct ProgressRecord {
    std::uint32_t job;
    std::uint32_t unused;
    std::int64_t rows;
    std::int64_t total;
    std::int64_t elapsedMs;
};

// In a child process: reports go to p_fd (non-blocking; a report that does
// not fit is dropped) as job p_job, instead of to the terminal.
void setProgressChannel(int p_fd, std::uint32_t p_job);

// The progress of one export's row loop. Does nothing unless "--progress"
// was given and p_active holds (the export got as far as its row loop).
class tvProgress {
public:
    tvProgress(const std::string& p_name, long long p_total, bool p_active);
    ~tvProgress();
    tvProgress(const tvProgress&) = delete;
    tvProgress& operator=(const tvProgress&) = delete;

    // One row written. Looks at the clock every 256 rows only.
    void row() {
        if (_active && (++_rows & 0xFF) == 0) tick(false);
    }
    // The loop has ended: a last report; the line drawn in place is cleared.
    void finish();

private:
    void tick(bool p_last);

    bool _active;
    bool _finished = false;
    std::string _name;
    long long _total;
    long long _rows = 0;
    std::chrono::steady_clock::time_point _start;
    std::chrono::steady_clock::time_point _lastDraw;
    std::chrono::steady_clock::time_point _lastLine;
};

// The progress of exports running in child processes, kept and shown by the
// parent: one line redrawn in place on a terminal, else a log line per
// running export every 10 seconds.
class tvProgressBoard {
public:
    tvProgressBoard(const std::vector<std::string>& p_names, bool p_terminal);
    void started(size_t p_job);
    void ended(size_t p_job);
    // Reads every whole record waiting on the non-blocking p_fd.
    void read(int p_fd);
    // Redraws (at most five times a second) or logs (every 10 seconds).
    void refresh();
    // The line the terminal shows: the count of ended exports, then each
    // running export's progress. Jobs under one name are the parts of one
    // export: shown as one, without the count.
    std::string line() const;

private:
    struct Job {
        bool running = false;
        ProgressRecord last{};
        bool reported = false;
    };
    // What the board shows for one name.
    struct Entry {
        size_t first = 0;  // its first job
        bool running = false;
        bool reported = false;
        long long rows = 0;
        long long total = 0;  // -1: not known for every job
        std::int64_t elapsedMs = 0;
    };
    std::vector<Entry> entries() const;
    std::vector<std::string> _names;
    std::vector<Job> _jobs;
    size_t _ended = 0;
    bool _terminal;
    std::chrono::steady_clock::time_point _lastDraw;
    std::chrono::steady_clock::time_point _lastLine;
    std::string _pending;  // a partial record read from the pipe
};

#endif
