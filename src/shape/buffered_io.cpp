#include "shape/buffered_io.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "diag/log.h"
#include "shape/output_set.h"

namespace {

// One open file. shapelib only sees it as an opaque SAFile pointer.
//
// Dirty data lives in one contiguous window [_bufStart, _bufStart + _bufLen)
// of at most kCapacity bytes; everything outside the window is up to date on
// disk. Writes that continue or overlap the window go into it; any other
// write first flushes it. Reads entirely inside the window are served from
// memory, reads outside it go to the disk, and a read that straddles its
// edge flushes it first.
struct tvBufferedFile {
    int fd = -1;
    std::string name;
    bool append = false;         // "a" modes: every write goes to the end
    unsigned long long pos = 0;  // logical position
    unsigned long long diskSize = 0;  // bytes on disk, as far as we know
    char* buf = nullptr;
    size_t capacity = 0;
    unsigned long long bufStart = 0;
    size_t bufLen = 0;
    bool failed = false;  // a write of this file was lost: refuse more
    int failedErrno = 0;
    unsigned long long unsynced = 0;  // bytes written since writeback was last started

    unsigned long long size() const {
        unsigned long long end = bufStart + bufLen;
        return (bufLen > 0 && end > diskSize) ? end : diskSize;
    }
};

size_t g_capacity = tvBufferedIOCapacityDefault;
long g_failAfterWrites = -1;  // test hook: system writes left before ENOSPC

bool g_io_failed = false;
std::string g_io_error;

tvBufferedFile* asFile(SAFile p_file) { return reinterpret_cast<tvBufferedFile*>(p_file); }

// Records a failure; the first one since the last reset is logged.
void recordFailure(const std::string& p_text, const std::string& p_value) {
    if (!g_io_failed) {
        g_io_failed = true;
        g_io_error = p_text + p_value;
        tvLog(p_text, p_value, LOG_ERROR);
    }
}

std::string errnoText(const tvBufferedFile* p_file, int p_errno) {
    return p_file->name + " (" + std::strerror(p_errno) + ")";
}

// Every file is synced before its set is committed. Starting the writeback
// of large files while rows are still being converted lets the disk work
// alongside the conversion, so that the final sync has little left to wait
// for. Only a hint: it neither waits nor fails the write.
const unsigned long long WRITEBACK_STEP = 8ULL << 20;

void startWriteback(tvBufferedFile* p_file) {
#ifdef __linux__
    if (p_file->unsynced < WRITEBACK_STEP) return;
    p_file->unsynced = 0;
    ::sync_file_range(p_file->fd, 0, 0, SYNC_FILE_RANGE_WRITE);
#else
    (void)p_file;
#endif
}

// Writes all of [p_data, p_data + p_len) at p_offset, resuming after short
// writes and interrupted calls.
bool writeAt(tvBufferedFile* p_file, const char* p_data, size_t p_len, unsigned long long p_offset) {
    while (p_len > 0) {
        ssize_t written;
        if (g_failAfterWrites == 0) {
            errno = ENOSPC;
            written = -1;
        } else {
            if (g_failAfterWrites > 0) --g_failAfterWrites;
            written = p_file->append ? ::write(p_file->fd, p_data, p_len)
                                     : ::pwrite(p_file->fd, p_data, p_len, static_cast<off_t>(p_offset));
        }
        if (written < 0) {
            if (errno == EINTR) continue;
            int err = errno;
            p_file->failed = true;
            p_file->failedErrno = err;
            recordFailure("Cannot write to file : ", errnoText(p_file, err));
            errno = err;
            return false;
        }
        if (written == 0) {  // no progress and no error: treat as a full disk
            p_file->failed = true;
            p_file->failedErrno = ENOSPC;
            recordFailure("Cannot write to file : ", errnoText(p_file, ENOSPC));
            return false;
        }
        p_data += written;
        p_len -= static_cast<size_t>(written);
        p_offset += static_cast<unsigned long long>(written);
        if (p_offset > p_file->diskSize) p_file->diskSize = p_offset;
        p_file->unsynced += static_cast<unsigned long long>(written);
    }
    startWriteback(p_file);
    return true;
}

// Writes the dirty window out and empties it. Data that could not be written
// is dropped: the file is marked failed and every later write is refused.
bool flushBuffer(tvBufferedFile* p_file) {
    if (p_file->bufLen == 0) return !p_file->failed;
    bool ok = writeAt(p_file, p_file->buf, p_file->bufLen, p_file->bufStart);
    p_file->bufLen = 0;
    return ok && !p_file->failed;
}

// Reads up to p_len bytes at p_offset from the disk; returns the count read.
size_t readAt(tvBufferedFile* p_file, char* p_data, size_t p_len, unsigned long long p_offset) {
    size_t total = 0;
    while (total < p_len) {
        ssize_t got = ::pread(p_file->fd, p_data + total, p_len - total,
                              static_cast<off_t>(p_offset + total));
        if (got < 0) {
            if (errno == EINTR) continue;
            recordFailure("Cannot read from file : ", errnoText(p_file, errno));
            break;
        }
        if (got == 0) break;
        total += static_cast<size_t>(got);
    }
    return total;
}

SAFile bufferedOpen(const char* p_filename, const char* p_access) {
    if (p_filename == nullptr || p_access == nullptr) return nullptr;
    bool plus = std::strchr(p_access, '+') != nullptr;
    int flags;
    switch (p_access[0]) {
        case 'r': flags = plus ? O_RDWR : O_RDONLY; break;
        case 'w': flags = (plus ? O_RDWR : O_WRONLY) | O_CREAT | O_TRUNC; break;
        case 'a': flags = (plus ? O_RDWR : O_WRONLY) | O_CREAT | O_APPEND; break;
        default:
            recordFailure("Cannot open file, bad access mode : ", std::string(p_filename) + " " + p_access);
            return nullptr;
    }
    // Files of the set being written go to its temporaries; any other file
    // is opened as named, but never through a symbolic link.
    tvOutputSet* set = tvOutputSetFor(p_filename);
    int fd = set != nullptr
                 ? set->open(p_filename, flags)
                 : ::open(p_filename, flags | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
        int err = errno;
        recordFailure("Cannot open file : ", std::string(p_filename) + " (" + std::strerror(err) + ")");
        return nullptr;
    }
    tvBufferedFile* file = new (std::nothrow) tvBufferedFile();
    if (file == nullptr) {
        ::close(fd);
        recordFailure("Cannot open file, out of memory : ", p_filename);
        return nullptr;
    }
    file->fd = fd;
    file->name = p_filename;
    file->append = p_access[0] == 'a';
    file->capacity = g_capacity;
    struct stat st;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        file->diskSize = static_cast<unsigned long long>(st.st_size);
    }
    if (file->append) file->pos = file->diskSize;
    return reinterpret_cast<SAFile>(file);
}

SAOffset bufferedRead(void* p_data, SAOffset p_size, SAOffset p_count, SAFile p_handle) {
    tvBufferedFile* file = asFile(p_handle);
    if (file == nullptr || p_size == 0 || p_count == 0) return 0;
    if (p_count > static_cast<SAOffset>(-1) / p_size) return 0;
    unsigned long long want = static_cast<unsigned long long>(p_size) * p_count;
    unsigned long long end = file->size();
    if (file->pos >= end) return 0;
    if (want > end - file->pos) want = end - file->pos;
    size_t len = static_cast<size_t>(want);
    char* out = static_cast<char*>(p_data);
    unsigned long long bufEnd = file->bufStart + file->bufLen;
    size_t got;
    if (file->bufLen > 0 && file->pos >= file->bufStart && file->pos + len <= bufEnd) {
        std::memcpy(out, file->buf + (file->pos - file->bufStart), len);
        got = len;
    } else {
        // Straddling the window, or reaching past the data on disk (into a
        // gap before the window): write the window out first.
        if (file->bufLen > 0 &&
            ((file->pos < bufEnd && file->pos + len > file->bufStart) || file->pos + len > file->diskSize)) {
            flushBuffer(file);
        }
        got = readAt(file, out, len, file->pos);
    }
    file->pos += got;
    return got / p_size;
}

SAOffset bufferedWrite(void* p_data, SAOffset p_size, SAOffset p_count, SAFile p_handle) {
    tvBufferedFile* file = asFile(p_handle);
    if (file == nullptr) return 0;
    if (file->failed) {
        errno = file->failedErrno;  // for shapelib's message
        return 0;
    }
    if (p_size == 0 || p_count == 0) return 0;
    if (p_count > static_cast<SAOffset>(-1) / p_size) return 0;
    size_t len = static_cast<size_t>(p_size) * p_count;
    const char* in = static_cast<const char*>(p_data);
    if (file->append) file->pos = file->size();

    if (file->buf == nullptr && len < file->capacity) {
        // Without memory for the window, writes simply go straight through.
        file->buf = static_cast<char*>(std::malloc(file->capacity));
    }
    unsigned long long bufEnd = file->bufStart + file->bufLen;
    bool joins = file->bufLen > 0 && file->pos >= file->bufStart && file->pos <= bufEnd;
    if (joins && file->pos + len - file->bufStart <= file->capacity) {
        std::memcpy(file->buf + (file->pos - file->bufStart), in, len);
        unsigned long long newEnd = file->pos + len;
        if (newEnd > bufEnd) file->bufLen = static_cast<size_t>(newEnd - file->bufStart);
    } else {
        if (!flushBuffer(file)) return 0;
        if (len >= file->capacity || file->buf == nullptr) {
            if (!writeAt(file, in, len, file->pos)) return 0;
        } else {
            std::memcpy(file->buf, in, len);
            file->bufStart = file->pos;
            file->bufLen = len;
        }
    }
    file->pos += len;
    return p_count;
}

SAOffset bufferedSeek(SAFile p_handle, SAOffset p_offset, int p_whence) {
    tvBufferedFile* file = asFile(p_handle);
    if (file == nullptr) return static_cast<SAOffset>(-1);
    // The offset travels as an unsigned number; a relative move backwards
    // arrives as its two's complement.
    const long long kMax = 0x7fffffffffffffffLL;
    long long delta = static_cast<long long>(p_offset);
    long long base = 0;
    bool ok = true;
    switch (p_whence) {
        case SEEK_SET: ok = delta >= 0; break;
        case SEEK_CUR: base = static_cast<long long>(file->pos); break;
        case SEEK_END: base = static_cast<long long>(file->size()); break;
        default: ok = false; break;
    }
    ok = ok && (delta >= 0 ? base <= kMax - delta : base + delta >= 0);
    if (!ok) {
        recordFailure("Cannot seek in file : ", file->name);
        errno = EINVAL;
        return static_cast<SAOffset>(-1);
    }
    file->pos = static_cast<unsigned long long>(base + delta);
    return 0;
}

SAOffset bufferedTell(SAFile p_handle) {
    tvBufferedFile* file = asFile(p_handle);
    return file == nullptr ? static_cast<SAOffset>(-1) : static_cast<SAOffset>(file->pos);
}

int bufferedFlush(SAFile p_handle) {
    tvBufferedFile* file = asFile(p_handle);
    if (file == nullptr) return EOF;
    return flushBuffer(file) ? 0 : EOF;
}

int bufferedClose(SAFile p_handle) {
    tvBufferedFile* file = asFile(p_handle);
    if (file == nullptr) return EOF;
    bool ok = flushBuffer(file);
    if (::close(file->fd) != 0 && errno != EINTR) {
        int err = errno;
        recordFailure("Cannot close file : ", errnoText(file, err));
        ok = false;
    }
    std::free(file->buf);
    delete file;
    return ok ? 0 : EOF;
}

int bufferedRemove(const char* p_filename) {
    if (p_filename == nullptr) return -1;
    // A file of the set being written is left out of it: the final file, if
    // any, goes when the set is committed.
    tvOutputSet* set = tvOutputSetFor(p_filename);
    if (set != nullptr) return set->remove(p_filename);
    return ::unlink(p_filename);
}

void bufferedError(const char* p_message) {
    std::string message = p_message == nullptr ? std::string() : std::string(p_message);
    // The first problem is the failure; what shapelib reports after it (one
    // message per refused record, typically) is a consequence of it and
    // only shown at the debug level.
    if (g_io_failed) {
        tvLog("Shapefile library error : ", message, LOG_DEBUG);
    } else {
        recordFailure("Shapefile library error : ", message);
    }
}

double bufferedAtof(const char* p_text) { return std::atof(p_text); }

}  // namespace

SAHooks tvBufferedHooks() {
    SAHooks hooks;
    hooks.FOpen = bufferedOpen;
    hooks.FRead = bufferedRead;
    hooks.FWrite = bufferedWrite;
    hooks.FSeek = bufferedSeek;
    hooks.FTell = bufferedTell;
    hooks.FFlush = bufferedFlush;
    hooks.FClose = bufferedClose;
    hooks.Remove = bufferedRemove;
    hooks.Error = bufferedError;
    hooks.Atof = bufferedAtof;
    return hooks;
}

void tvResetIOErrors() {
    g_io_failed = false;
    g_io_error.clear();
}

bool tvIOFailed() { return g_io_failed; }

std::string tvLastIOError() { return g_io_error; }

void tvSetBufferedIOCapacity(size_t p_bytes) {
    g_capacity = p_bytes == 0 ? tvBufferedIOCapacityDefault : p_bytes;
}

void tvFailWritesAfter(long p_writes) { g_failAfterWrites = p_writes; }

void tvRecordIOFailure(const std::string& p_text, const std::string& p_value) {
    recordFailure(p_text, p_value);
}
