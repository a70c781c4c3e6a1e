// Exports run side by side, each in a child process of its own.
//
// A child process gets a copy of every global the export uses (the settings,
// the last-error text, the file layer's failure state, the shapelib hooks)
// and opens its own connection, so nothing is shared and nothing needs a
// lock. The parent holds no connection while children run: a connection is
// never carried across fork.
#ifndef TARVEX_APP_JOBS_H
#define TARVEX_APP_JOBS_H

#include <functional>
#include <string>
#include <vector>

enum JobState { JOB_NOT_STARTED, JOB_SUCCEEDED, JOB_FAILED };

// Runs p_work(i) for i from 0 to p_count - 1, in that order, each in a child
// process, at most p_max at once. A child's standard output goes to an
// unlinked temporary file and is copied, whole, to standard output when the
// child ends, in the order the children end; a last line cut short gets its
// end of line. A child that ends by a signal or with a status other than 0 has
// failed; the parent adds a line when it ended by a signal or with a status
// other than 0, 2 and 128 + a forwarded signal. After the first failure no
// new child starts; the running ones end on their own. With "--progress" the children report their rows
// (setProgressChannel) and the parent shows them (tvProgressBoard), under
// p_names.
//
// SIGINT, SIGTERM and SIGHUP (unless ignored) are forwarded to the running
// children, which handle them as a single export would; no new child starts;
// once all have ended the signal is raised again in the parent with the
// handling that was in place before. A child starts with that handling too.
std::vector<JobState> runJobs(size_t p_count, int p_max, const std::function<bool(size_t)>& p_work,
                              const std::vector<std::string>& p_names);

#endif
