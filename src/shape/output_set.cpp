#include "shape/output_set.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>

#include "diag/log.h"
#include "diag/strings.h"

namespace {

// Files of the sets in progress, kept where a signal handler can reach them
// without allocating: a slot holds one path while it is in use.
// Room for many sets at once: a set per kind, each with its parts (six
// files each: five companions and the lock).
const int REGISTRY_SLOTS = 256;
const size_t REGISTRY_PATH_BYTES = 4096;
char g_registryPaths[REGISTRY_SLOTS][REGISTRY_PATH_BYTES];
volatile sig_atomic_t g_registryUsed[REGISTRY_SLOTS];

// Per thread: each export routes its own files.
thread_local std::vector<tvOutputSet*> g_active;

// The temporaries' names: "." + set name + TEMP_MARK + process id + "-" +
// six letters or digits + extension. The lock: "." + set name + LOCK_MARK.
const char* const TEMP_MARK = ".tarvex-";
const char* const LOCK_MARK = ".tarvex-lock";
const int TEMP_RANDOM_CHARS = 6;

// A slot for p_path, or -1 when none is free or the path is too long (the
// file is then only removed by the normal clean-up).
int registerPath(const std::string& p_path) {
    if (p_path.size() >= REGISTRY_PATH_BYTES) return -1;
    for (int i = 0; i < REGISTRY_SLOTS; ++i) {
        if (g_registryUsed[i] == 0) {
            std::memcpy(g_registryPaths[i], p_path.c_str(), p_path.size() + 1);
            g_registryUsed[i] = 1;
            return i;
        }
    }
    return -1;
}

void unregisterPath(int p_slot) {
    if (p_slot >= 0 && p_slot < REGISTRY_SLOTS) g_registryUsed[p_slot] = 0;
}

std::string errnoText(int p_errno) { return std::string(" (") + std::strerror(p_errno) + ")"; }

std::string randomText() {
    static const char alphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    static std::mt19937 engine(std::random_device{}() ^ static_cast<unsigned>(::getpid()));
    std::uniform_int_distribution<int> pick(0, static_cast<int>(sizeof alphabet) - 2);
    std::string text;
    for (int i = 0; i < TEMP_RANDOM_CHARS; ++i) text += alphabet[pick(engine)];
    return text;
}

// Whether p_entry is a temporary of the set p_name, by its naming alone.
bool isTemporaryOf(const std::string& p_entry, const std::string& p_name) {
    const std::string prefix = "." + p_name + TEMP_MARK;
    if (p_entry.compare(0, prefix.size(), prefix) != 0) return false;
    std::string rest = p_entry.substr(prefix.size());
    size_t dash = rest.find('-');
    if (dash == 0 || dash == std::string::npos) return false;
    for (size_t i = 0; i < dash; ++i) {
        if (rest[i] < '0' || rest[i] > '9') return false;
    }
    rest = rest.substr(dash + 1);
    if (rest.size() != static_cast<size_t>(TEMP_RANDOM_CHARS) + 4) return false;
    for (int i = 0; i < TEMP_RANDOM_CHARS; ++i) {
        char c = rest[static_cast<size_t>(i)];
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))) return false;
    }
    return rest[TEMP_RANDOM_CHARS] == '.' &&
           tvIsSetCompanionExtension(rest.substr(static_cast<size_t>(TEMP_RANDOM_CHARS)));
}

// How a temporary gets its final name; replaceable for tests.
tvRenameFunction g_rename = ::rename;

// Holds SIGINT, SIGTERM, SIGHUP and SIGPIPE off while it lives.
class SignalHold {
public:
    SignalHold() {
        sigset_t held;
        sigemptyset(&held);
        sigaddset(&held, SIGINT);
        sigaddset(&held, SIGTERM);
        sigaddset(&held, SIGHUP);
        sigaddset(&held, SIGPIPE);
        sigprocmask(SIG_BLOCK, &held, &_previous);
    }
    ~SignalHold() { sigprocmask(SIG_SETMASK, &_previous, nullptr); }
    SignalHold(const SignalHold&) = delete;
    SignalHold& operator=(const SignalHold&) = delete;

private:
    sigset_t _previous;
};

const tvPartCapture* g_capture = nullptr;
bool g_captureTaken = false;  // the capture's set was begun

const char* const PART_EXTENSIONS[TV_PART_FILES] = {".shp", ".shx", ".dbf", ".prj", ".cpg"};

int partIndex(const std::string& p_ext) {
    for (int i = 0; i < TV_PART_FILES; ++i) {
        if (p_ext == PART_EXTENSIONS[i]) return i;
    }
    return -1;
}

}  // namespace

void tvSetPartCapture(const tvPartCapture* p_capture) {
    g_capture = p_capture;
    g_captureTaken = false;
}

void tvNotePart(char p_note) {
    if (g_capture == nullptr || g_capture->notes < 0) return;
    ssize_t written = ::write(g_capture->notes, &p_note, 1);
    (void)written;
}

const char* tvPartExtension(int p_index) {
    return p_index >= 0 && p_index < TV_PART_FILES ? PART_EXTENSIONS[p_index] : "";
}

bool tvIsSetCompanionExtension(const std::string& p_ext) {
    static const char* const extensions[] = {".shp", ".shx", ".dbf", ".prj", ".cpg",
                                             ".qix", ".sbn", ".sbx"};
    std::string ext = p_ext;
    lower(ext);
    for (const char* known : extensions) {
        if (ext == known) return true;
    }
    return false;
}

tvOutputSet* tvActiveOutputSet() { return g_active.empty() ? nullptr : g_active.front(); }

tvOutputSet* tvOutputSetFor(const std::string& p_path) {
    for (tvOutputSet* set : g_active) {
        if (set->owns(p_path)) return set;
    }
    return nullptr;
}

void tvAddActiveOutputSet(tvOutputSet* p_set) {
    if (p_set != nullptr && std::find(g_active.begin(), g_active.end(), p_set) == g_active.end()) {
        g_active.push_back(p_set);
    }
}

void tvRemoveActiveOutputSet(tvOutputSet* p_set) {
    g_active.erase(std::remove(g_active.begin(), g_active.end(), p_set), g_active.end());
}

void tvSetOutputRename(tvRenameFunction p_rename) { g_rename = p_rename == nullptr ? ::rename : p_rename; }

void tvSetActiveOutputSet(tvOutputSet* p_set) {
    g_active.clear();
    if (p_set != nullptr) g_active.push_back(p_set);
}

void tvRemoveOutputTemporariesNow() {
    for (int i = 0; i < REGISTRY_SLOTS; ++i) {
        if (g_registryUsed[i] != 0) {
            ::unlink(g_registryPaths[i]);
            g_registryUsed[i] = 0;
        }
    }
}

void tvForgetOutputTemporaries() {
    for (int i = 0; i < REGISTRY_SLOTS; ++i) g_registryUsed[i] = 0;
}

tvOutputSet::~tvOutputSet() {
    tvRemoveActiveOutputSet(this);
    abandon();
}

void tvOutputSet::adopt(tvOutputSet& p_from) {
    for (const TempFile& temp : p_from._temps) _temps.push_back(temp);
    p_from._temps.clear();
}

std::string tvOutputSet::hiddenPath(const std::string& p_suffix) const {
    return (_dir == "/" ? "" : _dir) + "/." + _stem + p_suffix;
}

namespace {

// Longest suffix a hidden name takes after its stem: TEMP_MARK, a process id
// of up to 10 digits, "-", the random letters and an extension of 4
// characters (the lock's LOCK_MARK is shorter).
const size_t HIDDEN_SUFFIX_BYTES = 8 + 10 + 1 + TEMP_RANDOM_CHARS + 4;

// The stem of the hidden names of the set p_name in p_dir: the name itself,
// or, where "." + name + the longest suffix would pass the directory's limit
// on a name (while the final names, 4 bytes longer than the name, fit), the
// name cut short and followed by "~" and a hash of the whole name, so that
// every set whose final names fit can be written.
std::string hiddenStem(const std::string& p_dir, const std::string& p_name) {
    long limit = ::pathconf(p_dir.c_str(), _PC_NAME_MAX);
    if (limit <= 0) limit = 255;
    const size_t max = static_cast<size_t>(limit);
    if (1 + p_name.size() + HIDDEN_SUFFIX_BYTES <= max) return p_name;
    unsigned long long hash = 1469598103934665603ULL;  // FNV-1a
    for (unsigned char c : p_name) {
        hash ^= c;
        hash *= 1099511628211ULL;
    }
    char tail[18];
    std::snprintf(tail, sizeof tail, "~%016llx", hash);
    const size_t room = max > 1 + HIDDEN_SUFFIX_BYTES + 17 ? max - 1 - HIDDEN_SUFFIX_BYTES - 17 : 0;
    return p_name.substr(0, std::min(room, p_name.size())) + tail;
}

}  // namespace

bool tvOutputSet::begin(const std::string& p_base) {
    abandon();
    if (g_capture != nullptr) return beginPart(p_base);
    _base = p_base;
    size_t slash = p_base.rfind('/');
    _dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : p_base.substr(0, slash));
    _name = slash == std::string::npos ? p_base : p_base.substr(slash + 1);
    if (_name.empty() || _name == "." || _name == "..") {
        tvLog("Output name does not name a file : ", p_base, LOG_ERROR);
        return false;
    }
    _stem = hiddenStem(_dir, _name);
    _lockPath = hiddenPath(LOCK_MARK);

    // The lock file is removed when a set is done; a lock taken on a file
    // that was removed (or replaced) meanwhile guards nothing: try again.
    for (int attempt = 0; attempt < 10; ++attempt) {
        int fd = ::open(_lockPath.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0) {
            int err = errno;
            struct stat directory;
            if ((err == ENOENT || err == ENOTDIR) &&
                (::stat(_dir.c_str(), &directory) != 0 || !S_ISDIR(directory.st_mode))) {
                // the usual cause: a directory in -o that was not made first
                tvLog("Output directory does not exist : ", _dir + " (for " + p_base + ")", LOG_ERROR);
            } else {
                tvLog("Cannot lock shapefile set : ", p_base + errnoText(err), LOG_ERROR);
            }
            return false;
        }
        struct flock lock;
        std::memset(&lock, 0, sizeof lock);
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        if (::fcntl(fd, F_SETLK, &lock) != 0) {
            int err = errno;
            if (err == EACCES || err == EAGAIN) {
                struct flock holder;
                std::memset(&holder, 0, sizeof holder);
                holder.l_type = F_WRLCK;
                holder.l_whence = SEEK_SET;
                std::string who = "another process";
                if (::fcntl(fd, F_GETLK, &holder) == 0 && holder.l_type != F_UNLCK) {
                    who += " (process " + std::to_string(holder.l_pid) + ")";
                }
                tvLog("Shapefile set is being written by " + who + " : ", p_base, LOG_ERROR);
            } else {
                tvLog("Cannot lock shapefile set : ", p_base + errnoText(err), LOG_ERROR);
            }
            ::close(fd);
            return false;
        }
        struct stat held;
        struct stat named;
        if (::fstat(fd, &held) == 0 && ::lstat(_lockPath.c_str(), &named) == 0 &&
            held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
            _lockFd = fd;
            break;
        }
        ::close(fd);
    }
    if (_lockFd < 0) {
        tvLog("Cannot lock shapefile set : ", p_base + " (its lock file keeps changing)", LOG_ERROR);
        return false;
    }
    _lockSlot = registerPath(_lockPath);
    std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(_lockFd, 0) != 0 || ::write(_lockFd, pid.data(), pid.size()) < 0) {
        // Only a note for people looking at the directory; the lock holds.
        tvLog("Could not note the process id in the lock file : ", _lockPath, LOG_DEBUG);
    }
    removeStaleTemporaries();
    _token = std::to_string(::getpid()) + "-" + randomText();
    return true;
}

bool tvOutputSet::beginPart(const std::string& p_base) {
    if (p_base != g_capture->base || g_captureTaken) {
        tvNotePart(TV_NOTE_OTHER_SET);
        tvLog("A part of a split export writes one set only, refused : ", p_base, LOG_ERROR);
        return false;
    }
    g_captureTaken = true;
    _base = p_base;
    _part = true;
    return true;
}

void tvOutputSet::removeStaleTemporaries() {
    // Only the holder of the lock writes temporaries of this set: any that
    // exist now were left by a run that ended without cleaning up.
    DIR* dir = ::opendir(_dir.c_str());
    if (dir == nullptr) return;
    std::vector<std::string> stale;
    while (struct dirent* entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        if (isTemporaryOf(name, _stem)) stale.push_back(name);
    }
    ::closedir(dir);
    for (const std::string& name : stale) {
        std::string path = _dir + "/" + name;
        if (::unlink(path.c_str()) == 0) {
            tvLog("Removed a temporary file left by an earlier run : ", path, LOG_DETAILED);
        }
    }
}

std::vector<std::string> tvOutputSet::staleCompanions() const {
    std::vector<std::string> stale;
    DIR* dir = ::opendir(_dir.c_str());
    if (dir == nullptr) return stale;
    while (struct dirent* entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        if (name.size() <= _name.size() || name.compare(0, _name.size(), _name) != 0) continue;
        std::string ext = name.substr(_name.size());
        if (!tvIsSetCompanionExtension(ext)) continue;
        bool written = false;
        for (const TempFile& temp : _temps) written = written || temp.ext == ext;
        if (!written) stale.push_back(name);
    }
    ::closedir(dir);
    return stale;
}

bool tvOutputSet::owns(const std::string& p_path) const {
    if ((_lockFd < 0 && !_part) || p_path.size() <= _base.size()) return false;
    if (p_path.compare(0, _base.size(), _base) != 0) return false;
    return tvIsSetCompanionExtension(p_path.substr(_base.size()));
}

tvOutputSet::TempFile* tvOutputSet::findTemp(const std::string& p_ext) {
    for (TempFile& temp : _temps) {
        if (temp.ext == p_ext) return &temp;
    }
    return nullptr;
}

int tvOutputSet::open(const std::string& p_path, int p_flags) {
    if (!owns(p_path)) {
        errno = EINVAL;
        return -1;
    }
    std::string ext = p_path.substr(_base.size());
    lower(ext);
    const int access = p_flags & (O_ACCMODE | O_APPEND | O_TRUNC);
    if (_part) {
        // A new open file description of the captured file, with its own
        // offset (a dup would share one).
        const int index = partIndex(ext);
        if (index < 0 || g_capture->files[index] < 0) {
            tvNotePart(TV_NOTE_OTHER_SET);
            errno = EPERM;
            return -1;
        }
        const std::string link = "/proc/self/fd/" + std::to_string(g_capture->files[index]);
        return ::open(link.c_str(), access | O_CLOEXEC);
    }
    TempFile* temp = findTemp(ext);
    if (temp != nullptr) return ::open(temp->path.c_str(), access | O_NOFOLLOW | O_CLOEXEC);
    if ((p_flags & O_CREAT) == 0) {
        errno = ENOENT;
        return -1;
    }
    TempFile created;
    created.ext = ext;
    created.path = hiddenPath(TEMP_MARK + _token + ext);
    created.slot = registerPath(created.path);
    int fd = ::open(created.path.c_str(), access | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
        int err = errno;
        unregisterPath(created.slot);
        errno = err;
        return -1;
    }
    _temps.push_back(created);
    return fd;
}

int tvOutputSet::remove(const std::string& p_path) {
    if (!owns(p_path)) {
        errno = EINVAL;
        return -1;
    }
    std::string ext = p_path.substr(_base.size());
    lower(ext);
    if (_part) {
        const int index = partIndex(ext);
        return index < 0 || g_capture->files[index] < 0 ? 0 : ::ftruncate(g_capture->files[index], 0);
    }
    for (size_t i = 0; i < _temps.size(); ++i) {
        if (_temps[i].ext != ext) continue;
        int result = ::unlink(_temps[i].path.c_str());
        unregisterPath(_temps[i].slot);
        _temps.erase(_temps.begin() + static_cast<long>(i));
        return result;
    }
    return 0;
}

int tvOutputSet::adopt(const std::string& p_path, int p_fd) {
    if (!owns(p_path) || _part || remove(p_path) != 0) {
        errno = EINVAL;
        return -1;
    }
    std::string ext = p_path.substr(_base.size());
    lower(ext);
    TempFile adopted;
    adopted.ext = ext;
    adopted.path = hiddenPath(TEMP_MARK + _token + ext);
    adopted.slot = registerPath(adopted.path);
    const std::string link = "/proc/self/fd/" + std::to_string(p_fd);
    if (::linkat(AT_FDCWD, link.c_str(), AT_FDCWD, adopted.path.c_str(), AT_SYMLINK_FOLLOW) != 0) {
        int err = errno;
        unregisterPath(adopted.slot);
        errno = err;
        return -1;
    }
    _temps.push_back(adopted);
    return 0;
}

bool tvOutputSet::syncTemporaries() {
    // The data reaches the disk before the names change.
    for (const TempFile& temp : _temps) {
        int fd = ::open(temp.path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        bool ok = fd >= 0 && ::fsync(fd) == 0;
        int err = errno;
        if (fd >= 0) ::close(fd);
        if (!ok) {
            tvLog("Cannot write to file : ", _base + temp.ext + errnoText(err), LOG_ERROR);
            return false;
        }
    }
    return true;
}

bool tvOutputSet::prepareCommit() {
    _order.clear();
    _replaced.clear();
    _asides.clear();
    _renamed = 0;
    // The .shp last: a reader that finds it finds the rest of the set.
    for (const TempFile& temp : _temps) {
        if (temp.ext != ".shp") _order.push_back(&temp);
    }
    for (const TempFile& temp : _temps) {
        if (temp.ext == ".shp") _order.push_back(&temp);
    }
    // A directory at a final name would refuse its rename half-way through
    // the set: refuse the set before the first rename instead.
    for (const TempFile* temp : _order) {
        const std::string target = _base + temp->ext;
        struct stat existing;
        if (::lstat(target.c_str(), &existing) == 0 && S_ISDIR(existing.st_mode)) {
            tvLog("Cannot put the shapefile set in place : ", target + errnoText(EISDIR), LOG_ERROR);
            return false;
        }
    }
    // The files being replaced keep a second name (a hard link, named as a
    // temporary of this set) until every rename has succeeded: a rename
    // that fails half-way through puts them back, so that the previous set
    // stays whole. Where no link can be made the file is replaced without
    // a way back, as the only choice left.
    // named as temporaries of this set, with a token of their own
    const std::string keptPrefix = hiddenPath(TEMP_MARK + std::to_string(::getpid()) + "-" + randomText());
    for (const TempFile* temp : _order) {
        Replaced file;
        file.target = _base + temp->ext;
        struct stat existing;
        file.existed = ::lstat(file.target.c_str(), &existing) == 0;
        if (file.existed) {
            file.kept = keptPrefix + temp->ext;
            if (::link(file.target.c_str(), file.kept.c_str()) != 0) file.kept.clear();
        }
        _replaced.push_back(file);
    }
    // Companions of the base name that this run did not write would
    // describe other data: each is moved aside (to a hidden name of this
    // set) before the first rename, so that one that cannot be moved (a
    // directory, another user's file in a sticky directory) stops the
    // commit while the previous set is still whole.
    for (const std::string& name : staleCompanions()) {
        Aside aside;
        aside.path = _dir + "/" + name;
        aside.kept = keptPrefix + name.substr(_name.size());  // the extensions differ
        struct stat existing;
        int err = 0;
        if (::lstat(aside.path.c_str(), &existing) != 0) {
            if (errno == ENOENT) continue;
            err = errno;
        } else if (S_ISDIR(existing.st_mode)) {
            err = EISDIR;
        } else if (::rename(aside.path.c_str(), aside.kept.c_str()) != 0) {
            err = errno;
        }
        if (err != 0) {
            tvLog("Cannot remove a file of the replaced set : ", aside.path + errnoText(err), LOG_ERROR);
            return false;
        }
        _asides.push_back(aside);
    }
    return true;
}

bool tvOutputSet::renameTemporaries() {
    for (; _renamed < _order.size(); ++_renamed) {
        const std::string& target = _replaced[_renamed].target;
        if (g_rename(_order[_renamed]->path.c_str(), target.c_str()) != 0) {
            int err = errno;
            tvLog("Cannot put the shapefile set in place : ", target + errnoText(err), LOG_ERROR);
            return false;
        }
    }
    return true;
}

void tvOutputSet::rollBack() {
    // Back to the previous set: the files it had return, the names it did
    // not have go.
    std::string lost;
    for (size_t i = 0; i < _renamed; ++i) {
        const Replaced& file = _replaced[i];
        bool back = file.existed ? !file.kept.empty() && ::rename(file.kept.c_str(), file.target.c_str()) == 0
                                 : ::unlink(file.target.c_str()) == 0;
        if (!back) lost += (lost.empty() ? "" : ", ") + file.target;
    }
    _renamed = 0;
    for (const Aside& aside : _asides) {
        if (::rename(aside.kept.c_str(), aside.path.c_str()) != 0) lost += (lost.empty() ? "" : ", ") + aside.path;
    }
    _asides.clear();
    if (!lost.empty()) tvLog("[WARNING] Files of the previous set replaced and not restored : ", lost, LOG_BASIC);
    dropKept();
}

void tvOutputSet::dropKept() {
    for (const Replaced& file : _replaced) {
        if (!file.kept.empty()) ::unlink(file.kept.c_str());
    }
    _replaced.clear();
    _order.clear();
}

void tvOutputSet::finishCommit() {
    dropKept();
    for (const Aside& aside : _asides) {
        if (::unlink(aside.kept.c_str()) == 0) {
            tvLog("Removed a file of the replaced set : ", aside.path, LOG_DETAILED);
        } else {
            // named as a temporary of this set: the next run removes it
            tvLog("Could not remove a file of the replaced set, moved aside : ", aside.kept, LOG_DETAILED);
        }
    }
    _asides.clear();
    int dirFd = ::open(_dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    // The renamed temporaries are the set's files now.
    for (TempFile& temp : _temps) unregisterPath(temp.slot);
    _temps.clear();
}

bool tvOutputSet::commit() {
    std::vector<tvOutputSet*> sets(1, this);
    return tvCommitOutputSets(sets);
}

bool tvCommitOutputSets(const std::vector<tvOutputSet*>& p_sets) {
    // A part of a table, written by a worker, is not put in place: the
    // parent merges the parts into the set it commits. A part is one set.
    if (p_sets.size() == 1 && p_sets[0]->_part) {
        p_sets[0]->_part = false;
        return true;
    }
    bool ok = true;
    for (tvOutputSet* set : p_sets) ok = ok && set->_lockFd >= 0 && set->syncTemporaries();
    {
        SignalHold hold;
        // A stop signal that came before the first rename wins: the previous
        // sets stay, as they do for a signal a moment earlier.
        sigset_t pending;
        if (ok && sigpending(&pending) == 0 &&
            (sigismember(&pending, SIGINT) == 1 || sigismember(&pending, SIGTERM) == 1 ||
             sigismember(&pending, SIGHUP) == 1 || sigismember(&pending, SIGPIPE) == 1)) {
            ok = false;
        }
        size_t prepared = 0;
        for (; ok && prepared < p_sets.size(); ++prepared) {
            if (!p_sets[prepared]->prepareCommit()) {
                p_sets[prepared]->rollBack();
                ok = false;
                break;
            }
        }
        for (size_t i = 0; ok && i < p_sets.size(); ++i) ok = p_sets[i]->renameTemporaries();
        // One set failing puts every set back, the last first.
        for (size_t i = prepared; i-- > 0;) {
            if (ok) {
                p_sets[i]->finishCommit();
            } else {
                p_sets[i]->rollBack();
            }
        }
    }
    for (tvOutputSet* set : p_sets) set->abandon();
    return ok;
}

void tvOutputSet::abandon() {
    _part = false;
    for (const TempFile& temp : _temps) {
        ::unlink(temp.path.c_str());
        unregisterPath(temp.slot);
    }
    _temps.clear();
    release();
}

void tvOutputSet::release() {
    if (_lockFd < 0) return;
    // Removed while still held: a process that opened it meanwhile sees
    // that its lock guards a removed file and takes a new one.
    ::unlink(_lockPath.c_str());
    unregisterPath(_lockSlot);
    _lockSlot = -1;
    ::close(_lockFd);
    _lockFd = -1;
}
