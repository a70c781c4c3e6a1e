#include "app/progress.h"

#include <occi.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <iostream>

#include "app/statement_guard.h"
#include "diag/log.h"
#include "settings/settings.h"

using Clock = std::chrono::steady_clock;

namespace {

// A line drawn in place is redrawn at most this often.
const auto DRAW_INTERVAL = std::chrono::milliseconds(200);
// Without a terminal, a plain line this often.
const auto LINE_INTERVAL = std::chrono::seconds(10);
// Rates (and the time left from them) are shown once this much has passed.
const double MIN_RATE_SECONDS = 0.05;

int g_progress_fd = -1;
std::uint32_t g_progress_job = 0;

double secondsSince(Clock::time_point p_start, Clock::time_point p_now) {
    return std::chrono::duration<double>(p_now - p_start).count();
}

bool stdoutIsTerminal() { return isatty(STDOUT_FILENO) == 1; }

size_t terminalWidth() {
    struct winsize size {};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 1) return size.ws_col;
    return 80;
}

// Draws p_text in place of the line on screen.
void drawInPlace(const std::string& p_text) {
    if (g_log_level == LOG_SILENT) return;
    std::cout << "\r" << fitToWidth(p_text, terminalWidth() - 1) << "\x1b[K" << std::flush;
    setConsoleLineShown(true);
}

}  // namespace

bool progressRequested() {
    auto it = g_args.find("progress");
    return it != g_args.end() && it->second == "yes";
}

std::string formatProgress(const std::string& p_name, long long p_rows, long long p_total,
                           double p_seconds) {
    std::string text = p_name + " : " + std::to_string(p_rows) + " rows";
    if (p_total > 0) {
        long long percent = p_rows >= p_total ? 100 : p_rows * 100 / p_total;
        text += " (" + std::to_string(percent) + "%)";
    }
    const bool timed = p_seconds >= MIN_RATE_SECONDS;
    if (timed) {
        text += ", " + std::to_string(static_cast<long long>(p_rows / p_seconds)) + " rows/s";
    }
    char elapsed[32];
    std::snprintf(elapsed, sizeof elapsed, ", %.1f s", p_seconds < 0 ? 0.0 : p_seconds);
    text += elapsed;
    // The rows still to come at the mean rate so far; none once the count
    // is reached (the table may have grown since it was counted).
    if (timed && p_rows > 0 && p_rows < p_total) {
        text += ", " + formatDuration(static_cast<double>(p_total - p_rows) * p_seconds / p_rows) + " left";
    }
    return text;
}

std::string formatDuration(double p_seconds) {
    if (!(p_seconds < 1e9)) return "more than 30 years";
    const long long total = p_seconds <= 0 ? 0 : static_cast<long long>(std::ceil(p_seconds));
    char text[64];
    if (total < 60) {
        std::snprintf(text, sizeof text, "%lld s", total);
    } else if (total < 3600) {
        std::snprintf(text, sizeof text, "%lld min %02lld s", total / 60, total % 60);
    } else {
        std::snprintf(text, sizeof text, "%lld h %02lld min", total / 3600, total % 3600 / 60);
    }
    return text;
}

std::string fitToWidth(const std::string& p_text, size_t p_width) {
    size_t characters = 0;
    for (size_t i = 0; i < p_text.size(); ++i) {
        // A byte that does not continue a UTF-8 sequence starts a character.
        if ((static_cast<unsigned char>(p_text[i]) & 0xC0) != 0x80) {
            if (characters == p_width) return p_text.substr(0, i);
            ++characters;
        }
    }
    return p_text;
}

long long countQueryRows(const std::string& p_sql) {
    long long count = -1;
    StatementGuard counter;
    try {
        // The query on lines of its own: a trailing comment cannot swallow
        // the closing parenthesis.
        counter.create("select count(*) from (\n" + p_sql + "\n)");
        oracle::occi::ResultSet* rows = counter.execute();
        if (rows->next() && !rows->isNull(1)) count = static_cast<long long>(rows->getDouble(1));
    } catch (const oracle::occi::SQLException& e) {
        tvLog("Row count unknown : ", e.getMessage(), LOG_DEBUG);
        count = -1;
    }
    counter.release();
    return count;
}

void setProgressChannel(int p_fd, std::uint32_t p_job) {
    g_progress_fd = p_fd;
    g_progress_job = p_job;
}

tvProgress::tvProgress(const std::string& p_name, long long p_total, bool p_active)
    : _active(p_active && progressRequested()), _name(p_name), _total(p_total), _start(Clock::now()),
      _lastDraw(_start), _lastLine(_start) {
    if (_active) tick(false);
}

tvProgress::~tvProgress() { finish(); }

void tvProgress::finish() {
    if (!_active || _finished) return;
    _finished = true;
    tick(true);
    if (g_progress_fd < 0) clearConsoleLine();
}

void tvProgress::tick(bool p_last) {
    const Clock::time_point now = Clock::now();
    if (g_progress_fd >= 0) {
        if (!p_last && now - _lastDraw < DRAW_INTERVAL && _rows != 0) return;
        _lastDraw = now;
        ProgressRecord record{};
        record.job = g_progress_job;
        record.rows = _rows;
        record.total = _total;
        record.elapsedMs = std::chrono::duration_cast<std::chrono::milliseconds>(now - _start).count();
        // Non-blocking: a report the pipe cannot take now is dropped.
        ssize_t written = write(g_progress_fd, &record, sizeof record);
        (void)written;
        return;
    }
    if (stdoutIsTerminal()) {
        if (p_last || (now - _lastDraw < DRAW_INTERVAL && _rows != 0)) return;
        _lastDraw = now;
        drawInPlace(formatProgress(_name, _rows, _total, secondsSince(_start, now)));
    } else if (!p_last && now - _lastLine >= LINE_INTERVAL) {
        _lastLine = now;
        tvLog("Progress : ", formatProgress(_name, _rows, _total, secondsSince(_start, now)), LOG_BASIC);
    }
}

tvProgressBoard::tvProgressBoard(const std::vector<std::string>& p_names, bool p_terminal)
    : _names(p_names), _jobs(p_names.size()), _terminal(p_terminal), _lastLine(Clock::now()) {}

void tvProgressBoard::started(size_t p_job) {
    if (p_job < _jobs.size()) _jobs[p_job].running = true;
}

void tvProgressBoard::ended(size_t p_job) {
    if (p_job < _jobs.size() && _jobs[p_job].running) {
        _jobs[p_job].running = false;
        ++_ended;
    }
}

void tvProgressBoard::read(int p_fd) {
    char buffer[64 * sizeof(ProgressRecord)];
    for (;;) {
        ssize_t got = ::read(p_fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        _pending.append(buffer, static_cast<size_t>(got));
        size_t used = 0;
        while (_pending.size() - used >= sizeof(ProgressRecord)) {
            ProgressRecord record;
            _pending.copy(reinterpret_cast<char*>(&record), sizeof record, used);
            used += sizeof record;
            if (record.job < _jobs.size() && _jobs[record.job].running) {
                _jobs[record.job].last = record;
                _jobs[record.job].reported = true;
            }
        }
        _pending.erase(0, used);
    }
}

std::vector<tvProgressBoard::Entry> tvProgressBoard::entries() const {
    // Jobs under one name are the parts of one export: one entry, their
    // rows and totals summed.
    std::vector<Entry> result;
    for (size_t i = 0; i < _jobs.size(); ++i) {
        const Job& job = _jobs[i];
        Entry* entry = nullptr;
        for (Entry& known : result) {
            if (_names[known.first] == _names[i]) entry = &known;
        }
        if (entry == nullptr) {
            result.push_back(Entry());
            entry = &result.back();
            entry->first = i;
        }
        entry->running = entry->running || job.running;
        if (!job.reported) {
            entry->total = -1;
            continue;
        }
        entry->reported = true;
        entry->rows += job.last.rows;
        if (entry->total >= 0) entry->total = job.last.total > 0 ? entry->total + job.last.total : -1;
        if (job.last.elapsedMs > entry->elapsedMs) entry->elapsedMs = job.last.elapsedMs;
    }
    return result;
}

std::string tvProgressBoard::line() const {
    const std::vector<Entry> all = entries();
    std::string text;
    if (all.size() == _jobs.size()) text = std::to_string(_ended) + " of " + std::to_string(_jobs.size()) + " ended";
    for (const Entry& entry : all) {
        if (!entry.running) continue;
        if (!text.empty()) text += " | ";
        if (entry.reported) {
            text += formatProgress(_names[entry.first], entry.rows, entry.total, entry.elapsedMs / 1000.0);
        } else {
            text += _names[entry.first] + " : starting";
        }
    }
    return text;
}

void tvProgressBoard::refresh() {
    const Clock::time_point now = Clock::now();
    if (_terminal) {
        bool running = false;
        for (const Job& job : _jobs) running = running || job.running;
        if (!running || now - _lastDraw < DRAW_INTERVAL) return;
        _lastDraw = now;
        drawInPlace(line());
        return;
    }
    if (now - _lastLine < LINE_INTERVAL) return;
    _lastLine = now;
    for (const Entry& entry : entries()) {
        if (!entry.running || !entry.reported) continue;
        tvLog("Progress : ",
              formatProgress(_names[entry.first], entry.rows, entry.total, entry.elapsedMs / 1000.0),
              LOG_BASIC);
    }
}
