// Exports run side by side in worker processes.
//
// A worker process gets a copy of every global the export uses (the
// settings, the last-error text, the file layer's failure state, the
// shapelib hooks) and opens its own connection, which it keeps for the
// exports it runs one after another, as a single process runs a listing; so
// nothing is shared and nothing needs a lock. The parent holds no connection
// while workers run: a connection is never carried across fork.
#ifndef TARVEX_APP_JOBS_H
#define TARVEX_APP_JOBS_H

#include <functional>
#include <string>
#include <vector>

enum JobState { JOB_NOT_STARTED, JOB_SUCCEEDED, JOB_FAILED };

// Runs p_work(i) for i from 0 to p_count - 1, started in that order, in at
// most p_max worker processes at once; a worker runs one p_work at a time and
// takes the next when it is done; p_finish runs in each worker after its
// last one. An export's standard output goes to an unlinked temporary file
// and is copied, whole, to standard output when the export ends, in the
// order the exports end; a last line cut short gets its end of line. An
// export that returns false has failed, and so has one whose worker ends
// under it (by a signal or an exit; the parent adds a line unless the exit
// status is 2 or 128 + a forwarded signal). After the first failure no new
// export starts; the running ones end on their own. With "--progress" the
// workers report their rows (setProgressChannel) and the parent shows them
// (tvProgressBoard), under p_names.
//
// SIGINT, SIGTERM, SIGHUP and SIGPIPE (unless ignored) are forwarded to the
// workers, whose exports handle them as a single export would; no new export
// starts; once all workers have ended the signal is raised again in the
// parent with the handling that was in place before. A worker starts with
// that handling too, and gets SIGPIPE when its parent dies (so it stops and
// commits nothing).
std::vector<JobState> runJobs(size_t p_count, int p_max, const std::function<bool(size_t)>& p_work,
                              const std::vector<std::string>& p_names,
                              const std::function<void()>& p_finish = [] {});

#endif
