#include "app/table_split.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <occi.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <map>
#include <regex>
#include <set>
#include <vector>

#include "app/export.h"
#include "app/jobs.h"
#include "app/statement_guard.h"
#include "diag/log.h"
#include "oracle/globals.h"
#include "shape/output_set.h"
#include "shape/set_merge.h"
#include "shape/spatial_index.h"

using oracle::occi::SQLException;

namespace {

// The unnamed files of one part: the set's files, the notes its output set
// makes, and what its export logs.
struct PartFiles {
    tvPartCapture capture;
    int log = -1;
};

void closeAll(std::vector<PartFiles>& p_parts) {
    for (PartFiles& part : p_parts) {
        for (int& fd : part.capture.files) {
            if (fd >= 0) ::close(fd);
            fd = -1;
        }
        if (part.capture.notes >= 0) ::close(part.capture.notes);
        if (part.log >= 0) ::close(part.log);
        part.capture.notes = part.log = -1;
    }
}

// A file without a name in p_dir (beside the set: the parts take as much
// room as the set, which a temporary file system might not have), with the
// mode the set's files get (the first part's files become the set's); -1
// with errno set. Where the file system cannot make one, a file is made and
// unlinked at once, the stop signals held off in between.
int unnamedFile(const std::string& p_dir) {
    int fd = ::open(p_dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
    if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)) return fd;
    sigset_t held, previous;
    sigemptyset(&held);
    for (int stop : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&held, stop);
    sigprocmask(SIG_BLOCK, &held, &previous);
    const std::string path = p_dir + "/.tarvex-part-" + std::to_string(::getpid());
    fd = ::open(path.c_str(), O_CREAT | O_EXCL | O_RDWR | O_NOFOLLOW | O_CLOEXEC, 0666);
    const int err = errno;
    if (fd >= 0) ::unlink(path.c_str());
    sigprocmask(SIG_SETMASK, &previous, nullptr);
    errno = err;
    return fd;
}

bool makePartFiles(const std::string& p_shapefile, int p_parts, std::vector<PartFiles>& p_files) {
    const size_t slash = p_shapefile.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : p_shapefile.substr(0, slash));
    p_files.resize(static_cast<size_t>(p_parts));
    for (PartFiles& part : p_files) {
        part.capture.base = p_shapefile;
        for (int& fd : part.capture.files) fd = unnamedFile(dir);
        part.capture.notes = unnamedFile(dir);
        part.log = unnamedFile(dir);
        bool ok = part.capture.notes >= 0 && part.log >= 0;
        for (int fd : part.capture.files) ok = ok && fd >= 0;
        if (!ok) {
            tvLog("Cannot create the files of the parts of the export : ", dir + " (" + std::strerror(errno) + ")",
                  LOG_ERROR);
            return false;
        }
    }
    return true;
}

std::string readAll(int p_fd) {
    std::string text;
    char buffer[4096];
    off_t offset = 0;
    for (;;) {
        ssize_t got = ::pread(p_fd, buffer, sizeof buffer, offset);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        text.append(buffer, static_cast<size_t>(got));
        offset += got;
    }
    return text;
}

// Calls p_line with each line of the parts' logs, part after part.
template <typename F>
void eachLogLine(const std::vector<PartFiles>& p_parts, F p_line) {
    for (const PartFiles& part : p_parts) {
        char buffer[65536];
        std::string line;
        off_t offset = 0;
        for (;;) {
            ssize_t got = ::pread(part.log, buffer, sizeof buffer, offset);
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) break;
            offset += got;
            for (ssize_t i = 0; i < got; ++i) {
                if (buffer[i] != '\n') {
                    line += buffer[i];
                    continue;
                }
                p_line(line);
                line.clear();
            }
        }
        if (!line.empty()) p_line(line);
    }
}

// A warning that counts rows ("... in 3 rows of column : NAME", "... : 3"):
// its words without the count in p_key, the count in p_count.
bool countedWarning(const std::string& p_line, std::string& p_key, long long& p_count) {
    static const std::regex inRows("^(\\[WARNING\\] .*) in ([0-9]+) rows? of column : (.*)$");
    static const std::regex counted("^(\\[WARNING\\] .*) : ([0-9]+)$");
    if (p_line.compare(0, 10, "[WARNING] ") != 0) return false;
    std::smatch match;
    if (std::regex_match(p_line, match, inRows)) {
        p_key = match[1].str() + " in # rows of column : " + match[3].str();
    } else if (std::regex_match(p_line, match, counted) &&
               (p_line.find("Rings closed") != std::string::npos || p_line.find("replaced by") != std::string::npos)) {
        p_key = match[1].str() + " : #";
    } else {
        return false;
    }
    p_count = std::stoll(match[2].str());
    return true;
}

// The parts' log lines, part after part, as one export's: a warning that
// counts rows appears once, where a part first gives it, with the count of
// every part; another warning that an earlier part gave in the same words
// is not repeated (the parts see the same columns).
void showPartLogs(const std::vector<PartFiles>& p_parts) {
    std::map<std::string, long long> totals;
    std::string key;
    long long count = 0;
    eachLogLine(p_parts, [&](const std::string& p_line) {
        if (countedWarning(p_line, key, count)) totals[key] += count;
    });
    std::set<std::string> shown;
    std::cout.flush();
    eachLogLine(p_parts, [&](const std::string& p_line) {
        if (countedWarning(p_line, key, count)) {
            if (!shown.insert(key).second) return;
            const std::string total = std::to_string(totals[key]);
            const size_t mark = key.find('#');
            std::string line = key.substr(0, mark) + total + key.substr(mark + 1);
            if (key.find(" in # rows") != std::string::npos && totals[key] == 1) line.replace(line.find(" rows of"), 8, " row of");
            std::cout << line << '\n';
            return;
        }
        if (p_line.compare(0, 10, "[WARNING] ") == 0 && !shown.insert(p_line).second) return;
        std::cout << p_line << '\n';
    });
    std::cout.flush();
}

// Whether the table can be read in parts: its first row has a ROWID and
// a bucket. (A view may have no ROWID: Oracle refuses one that is not
// key-preserved; the embedded client's views give NULL.)
bool splitWorks(const std::string& p_sql, int p_parts, std::string& p_reason) {
    std::string sql;
    if (!rewriteSelectStar(p_sql, "ROWID, ORA_HASH(ROWID, " + std::to_string(p_parts - 1) + ")", sql)) {
        p_reason = "not a table";
        return false;
    }
    StatementGuard probe;
    try {
        probe.create(sql + " WHERE ROWNUM = 1");
        oracle::occi::ResultSet* row = probe.execute();
        if (row->next() && (row->isNull(1) || row->isNull(2))) p_reason = "its rows have no ROWID";
    } catch (const SQLException& e) {
        p_reason = e.getMessage();
        while (!p_reason.empty() && (p_reason.back() == '\n' || p_reason.back() == ' ')) p_reason.pop_back();
    }
    return probe.release() && p_reason.empty();
}

// The table on one connection, after the warning why.
bool exportWhole(const std::string& p_why, const std::string& p_sql, const std::string& p_geom_column,
                 const std::string& p_shapefile, const std::string& p_table, const std::string& p_owner) {
    tvLog("[WARNING] " + p_why + ", exported on one connection : ", p_table, LOG_BASIC);
    if (conn == nullptr && !connectSession(true)) return false;
    return exportSQLAsShape(p_sql, p_geom_column, p_shapefile, p_table, p_owner);
}

}  // namespace

std::string partQuery(const std::string& p_sql, int p_parts, int p_part) {
    return p_sql + " WHERE ORA_HASH(ROWID, " + std::to_string(p_parts - 1) + ") = " + std::to_string(p_part);
}

bool exportTableInParts(const std::string& p_sql, const std::string& p_geom_column, const std::string& p_shapefile,
                        const std::string& p_table, const std::string& p_owner, int p_parts) {
    // The set is locked first, as for one connection.
    tvOutputSet set;
    if (!set.begin(p_shapefile)) return false;

    // One shape type for every part: the whole table's sample decides it.
    tvShapeChoice choice;
    std::string reason;
    bool ok = true;
    try {
        // Its warnings (a skipped column) come from the parts, once.
        const short level = g_log_level;
        if (level < LOG_DEBUG && level > LOG_ERROR) g_log_level = LOG_ERROR;
        ok = decideQueryShape(p_sql, p_geom_column, choice);
        g_log_level = level;
        if (ok && !splitWorks(p_sql, p_parts, reason)) {
            set.abandon();
            return exportWhole("The table cannot be read in parts (" + reason + ")", p_sql, p_geom_column,
                               p_shapefile, p_table, p_owner);
        }
    } catch (const SQLException& e) {
        tvLog(e.getMessage(), "", LOG_ERROR);
        ok = false;
    }
    std::vector<PartFiles> parts;
    // No connection is carried across fork.
    if (!disconnectSession(true)) ok = false;
    if (ok) ok = makePartFiles(p_shapefile, p_parts, parts);
    if (!ok) {
        closeAll(parts);
        return false;
    }

    auto work = [&](size_t p_part) {
        PartFiles& part = parts[p_part];
        std::cout.flush();
        std::fflush(stdout);
        const int output = ::dup(STDOUT_FILENO);
        bool done = output >= 0 && ::dup2(part.log, STDOUT_FILENO) >= 0;
        tvSetPartCapture(&part.capture);
        setPartShape(&choice);
        try {
            done = done && (conn != nullptr || connectSession(true)) &&
                   exportSQLAsShape(partQuery(p_sql, p_parts, static_cast<int>(p_part)), p_geom_column, p_shapefile,
                                    p_table, p_owner);
        } catch (const SQLException& e) {
            tvLog(e.getMessage(), "", LOG_ERROR);
            done = false;
        }
        setPartShape(nullptr);
        tvSetPartCapture(nullptr);
        std::cout.flush();
        std::fflush(stdout);
        if (output >= 0) {
            ::dup2(output, STDOUT_FILENO);
            ::close(output);
        }
        return done;
    };
    // One name for every part: the progress shows the table.
    const std::vector<std::string> names(static_cast<size_t>(p_parts), p_shapefile + ".shp");
    const std::vector<JobState> states =
        runJobs(static_cast<size_t>(p_parts), p_parts, work, names, [] { disconnectSession(true); });

    bool allDone = true;
    bool oneSet = true;
    bool recordNumbers = false;
    for (size_t i = 0; i < parts.size(); ++i) {
        allDone = allDone && states[i] == JOB_SUCCEEDED;
        const std::string notes = readAll(parts[i].capture.notes);
        oneSet = oneSet && notes.find(TV_NOTE_OTHER_SET) == std::string::npos;
        if (i == 0) recordNumbers = notes.find(TV_NOTE_RECORD_NUMBERS) != std::string::npos;
    }
    tvMergeResult merged = TV_MERGE_FAILED;
    long long records = 0;
    if (oneSet && allDone) {
        std::vector<tvPartFiles> files;
        for (const PartFiles& part : parts) {
            tvPartFiles one;
            for (int i = 0; i < TV_PART_FILES; ++i) one[static_cast<size_t>(i)] = part.capture.files[i];
            files.push_back(one);
        }
        tvSetActiveOutputSet(&set);
        merged = tvMergeParts(files, p_shapefile, recordNumbers, records);
        if (merged == TV_MERGE_DONE && !tvWriteRequestedSpatialIndex(p_shapefile)) merged = TV_MERGE_FAILED;
        tvSetActiveOutputSet(nullptr);
    }
    if (!oneSet || merged == TV_MERGE_MISMATCH) {
        closeAll(parts);
        set.abandon();
        return exportWhole("The parts of the table are not one set of one shape type", p_sql, p_geom_column,
                           p_shapefile, p_table, p_owner);
    }
    showPartLogs(parts);
    closeAll(parts);
    ok = allDone && merged == TV_MERGE_DONE && set.commit();
    if (ok) {
        tvLog("Successfully written " + std::to_string(records) + " rows to ", "'" + p_shapefile + ".shp'",
              LOG_BASIC);
    }
    set.abandon();
    return ok;
}
