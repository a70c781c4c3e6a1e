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
    }
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
    int fd = ::open(p_filename, flags | O_CLOEXEC, 0666);
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

int bufferedRemove(const char* p_filename) { return ::unlink(p_filename); }

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

// ---------------------------------------------------------------- .shp/.shx

struct tvShpStream {
    SAFile shp = nullptr;
    SAFile shx = nullptr;
    int shapeType = SHPT_NULL;
    int records = 0;
    unsigned long long fileSize = 100;  // of the .shp
    double boundsMin[4] = {0, 0, 0, 0};
    double boundsMax[4] = {0, 0, 0, 0};
    std::vector<unsigned char> record;  // reused from one record to the next
    bool ok = true;
};

namespace {

void putBE32(unsigned char* p_out, unsigned int p_value) {
    p_out[0] = static_cast<unsigned char>(p_value >> 24);
    p_out[1] = static_cast<unsigned char>(p_value >> 16);
    p_out[2] = static_cast<unsigned char>(p_value >> 8);
    p_out[3] = static_cast<unsigned char>(p_value);
}

void putLE32(unsigned char* p_out, int p_value) {
    unsigned int v = static_cast<unsigned int>(p_value);
    for (int i = 0; i < 4; ++i) p_out[i] = static_cast<unsigned char>(v >> (8 * i));
}

void putDouble(unsigned char* p_out, double p_value) {  // little-endian host
    std::memcpy(p_out, &p_value, sizeof p_value);
}

bool isZType(int p_type) {
    return p_type == SHPT_POINTZ || p_type == SHPT_ARCZ || p_type == SHPT_POLYGONZ ||
           p_type == SHPT_MULTIPOINTZ || p_type == SHPT_MULTIPATCH;
}

bool isMType(int p_type) {
    return p_type == SHPT_POINTM || p_type == SHPT_ARCM || p_type == SHPT_POLYGONM || p_type == SHPT_MULTIPOINTM;
}

bool isKnownType(int p_type) {
    switch (p_type) {
        case SHPT_NULL: case SHPT_POINT: case SHPT_ARC: case SHPT_POLYGON: case SHPT_MULTIPOINT:
        case SHPT_POINTZ: case SHPT_ARCZ: case SHPT_POLYGONZ: case SHPT_MULTIPOINTZ:
        case SHPT_POINTM: case SHPT_ARCM: case SHPT_POLYGONM: case SHPT_MULTIPOINTM:
        case SHPT_MULTIPATCH:
            return true;
        default:
            return false;
    }
}

// The 100-byte header shared by .shp and .shx.
void makeHeader(unsigned char* p_out, const tvShpStream* p_stream, unsigned long long p_fileSize) {
    std::memset(p_out, 0, 100);
    putBE32(p_out, 9994);
    putBE32(p_out + 24, static_cast<unsigned int>(p_fileSize / 2));
    putLE32(p_out + 28, 1000);
    putLE32(p_out + 32, p_stream->shapeType);
    putDouble(p_out + 36, p_stream->boundsMin[0]);
    putDouble(p_out + 44, p_stream->boundsMin[1]);
    putDouble(p_out + 52, p_stream->boundsMax[0]);
    putDouble(p_out + 60, p_stream->boundsMax[1]);
    putDouble(p_out + 68, p_stream->boundsMin[2]);
    putDouble(p_out + 76, p_stream->boundsMax[2]);
    putDouble(p_out + 84, p_stream->boundsMin[3]);
    putDouble(p_out + 92, p_stream->boundsMax[3]);
}

bool writeAll(SAFile p_file, const void* p_data, size_t p_len) {
    return bufferedWrite(const_cast<void*>(p_data), 1, p_len, p_file) == p_len;
}

// Encodes one record (8-byte header included) the way SHPWriteObject does;
// returns its size, 0 when the object cannot be encoded.
size_t encodeRecord(std::vector<unsigned char>& p_buf, const SHPObject* p_object, int p_recordNumber) {
    const int type = p_object->nSHPType;
    const int n = p_object->nVertices;
    const int parts = p_object->nParts;
    if (n < 0 || parts < 0) return 0;
    const bool hasZ = isZType(type);
    // shapelib writes measures only when they are used, and never for a
    // multipatch.
    const bool hasM = (isMType(type) || (hasZ && type != SHPT_MULTIPATCH)) && p_object->bMeasureIsUsed;
    size_t need = 128 + static_cast<size_t>(n) * 4 * sizeof(double) + static_cast<size_t>(parts) * 8;
    if (p_buf.size() < need) {
        try {
            p_buf.resize(need);
        } catch (const std::bad_alloc&) {
            return 0;
        }
    }
    unsigned char* rec = p_buf.data();
    size_t size = 12;
    putLE32(rec + 8, type);

    auto putArray = [&](const double* p_values) {
        if (n > 0) std::memcpy(rec + size, p_values, static_cast<size_t>(n) * sizeof(double));
        size += static_cast<size_t>(n) * sizeof(double);
    };
    auto putRange = [&](double p_min, double p_max, const double* p_values) {
        putDouble(rec + size, p_min);
        putDouble(rec + size + 8, p_max);
        size += 16;
        putArray(p_values);
    };
    auto putXY = [&]() {
        for (int i = 0; i < n; ++i) {
            putDouble(rec + size, p_object->padfX[i]);
            putDouble(rec + size + 8, p_object->padfY[i]);
            size += 16;
        }
    };
    auto putBox = [&]() {
        putDouble(rec + 12, p_object->dfXMin);
        putDouble(rec + 20, p_object->dfYMin);
        putDouble(rec + 28, p_object->dfXMax);
        putDouble(rec + 36, p_object->dfYMax);
    };
    if (n > 0 && (p_object->padfX == nullptr || p_object->padfY == nullptr ||
                  (hasZ && p_object->padfZ == nullptr) || (hasM && p_object->padfM == nullptr))) {
        return 0;
    }

    switch (type) {
        case SHPT_POLYGON: case SHPT_POLYGONZ: case SHPT_POLYGONM:
        case SHPT_ARC: case SHPT_ARCZ: case SHPT_ARCM:
        case SHPT_MULTIPATCH:
            if (parts > 0 && (p_object->panPartStart == nullptr ||
                              (type == SHPT_MULTIPATCH && p_object->panPartType == nullptr))) {
                return 0;
            }
            putBox();
            putLE32(rec + 44, parts);
            putLE32(rec + 48, n);
            size = 52;
            for (int i = 0; i < parts; ++i, size += 4) putLE32(rec + size, p_object->panPartStart[i]);
            if (type == SHPT_MULTIPATCH) {
                for (int i = 0; i < parts; ++i, size += 4) putLE32(rec + size, p_object->panPartType[i]);
            }
            putXY();
            if (hasZ) putRange(p_object->dfZMin, p_object->dfZMax, p_object->padfZ);
            if (hasM) putRange(p_object->dfMMin, p_object->dfMMax, p_object->padfM);
            break;
        case SHPT_MULTIPOINT: case SHPT_MULTIPOINTZ: case SHPT_MULTIPOINTM:
            putBox();
            putLE32(rec + 44, n);
            size = 48;
            putXY();
            if (hasZ) putRange(p_object->dfZMin, p_object->dfZMax, p_object->padfZ);
            if (hasM) putRange(p_object->dfMMin, p_object->dfMMax, p_object->padfM);
            break;
        case SHPT_POINT: case SHPT_POINTZ: case SHPT_POINTM:
            if (n < 1) return 0;  // shapelib would read a vertex that is not there
            putDouble(rec + 12, p_object->padfX[0]);
            putDouble(rec + 20, p_object->padfY[0]);
            size = 28;
            if (hasZ) {
                putDouble(rec + size, p_object->padfZ[0]);
                size += 8;
            }
            if (hasM) {
                putDouble(rec + size, p_object->padfM[0]);
                size += 8;
            }
            break;
        case SHPT_NULL:
            break;
        default:
            return 0;
    }
    putBE32(rec, static_cast<unsigned int>(p_recordNumber));
    putBE32(rec + 4, static_cast<unsigned int>((size - 8) / 2));
    return size;
}

}  // namespace

tvShpStream* tvShpCreate(const std::string& p_filename, int p_shapeType) {
    if (!isKnownType(p_shapeType)) {
        recordFailure("Cannot create shapefile, unknown shape type : ", std::to_string(p_shapeType));
        return nullptr;
    }
    std::string base = p_filename;
    if (base.size() > 4) {
        std::string ext = base.substr(base.size() - 4);
        for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (ext == ".shp" || ext == ".shx") base.resize(base.size() - 4);
    }
    tvShpStream* stream = new tvShpStream();
    stream->shapeType = p_shapeType;
    stream->shp = bufferedOpen((base + ".shp").c_str(), "wb");
    if (stream->shp != nullptr) stream->shx = bufferedOpen((base + ".shx").c_str(), "wb");
    if (stream->shx == nullptr) {
        if (stream->shp != nullptr) bufferedClose(stream->shp);
        delete stream;
        return nullptr;
    }
    unsigned char header[100];
    makeHeader(header, stream, 100);
    stream->ok = writeAll(stream->shp, header, 100) && writeAll(stream->shx, header, 100);
    return stream;
}

int tvShpWriteObject(tvShpStream* p_stream, const SHPObject* p_object) {
    if (p_stream == nullptr || p_object == nullptr || !p_stream->ok) return -1;
    if (p_object->nSHPType != p_stream->shapeType && p_object->nSHPType != SHPT_NULL) return -1;
    size_t size = encodeRecord(p_stream->record, p_object, p_stream->records + 1);
    if (size == 0) return -1;
    // Offsets and lengths are counted in 16-bit words of 32 bits.
    if (p_stream->fileSize + size > 0xffffffffULL || p_stream->records == 0x7fffffff) {
        recordFailure("Cannot write shape record, the .shp file would exceed 4 GB : ",
                      std::to_string(p_stream->records));
        return -1;
    }
    unsigned char index[8];
    putBE32(index, static_cast<unsigned int>(p_stream->fileSize / 2));
    putBE32(index + 4, static_cast<unsigned int>((size - 8) / 2));
    if (!writeAll(p_stream->shp, p_stream->record.data(), size) || !writeAll(p_stream->shx, index, 8)) {
        p_stream->ok = false;
        return -1;
    }

    // File bounds as shapelib keeps them: while the X/Y bounds are all zero
    // (no record yet, only empty ones, or a first shape at the origin) a
    // record sets them (all zero for a null or empty shape); later records
    // widen them.
    const int n = p_object->nVertices;
    if (p_stream->boundsMin[0] == 0.0 && p_stream->boundsMax[0] == 0.0 && p_stream->boundsMin[1] == 0.0 &&
        p_stream->boundsMax[1] == 0.0) {
        bool empty = p_object->nSHPType == SHPT_NULL || n == 0;
        p_stream->boundsMin[0] = p_stream->boundsMax[0] = empty ? 0.0 : p_object->padfX[0];
        p_stream->boundsMin[1] = p_stream->boundsMax[1] = empty ? 0.0 : p_object->padfY[0];
        p_stream->boundsMin[2] = p_stream->boundsMax[2] = (empty || !p_object->padfZ) ? 0.0 : p_object->padfZ[0];
        p_stream->boundsMin[3] = p_stream->boundsMax[3] = (empty || !p_object->padfM) ? 0.0 : p_object->padfM[0];
    }
    // shapelib's MIN/MAX: a NaN vertex replaces the bound, and the next
    // vertex replaces the NaN. One pass over the four coordinates when all
    // are there (eight independent chains), else one pass per coordinate.
    const double* values[4] = {p_object->padfX, p_object->padfY, p_object->padfZ, p_object->padfM};
    double* lo = p_stream->boundsMin;
    double* hi = p_stream->boundsMax;
    if (values[0] && values[1] && values[2] && values[3]) {
        double lx = lo[0], ly = lo[1], lz = lo[2], lm = lo[3], hx = hi[0], hy = hi[1], hz = hi[2], hm = hi[3];
        for (int i = 0; i < n; ++i) {
            const double x = values[0][i], y = values[1][i], z = values[2][i], m = values[3][i];
            lx = lx < x ? lx : x;
            hx = hx > x ? hx : x;
            ly = ly < y ? ly : y;
            hy = hy > y ? hy : y;
            lz = lz < z ? lz : z;
            hz = hz > z ? hz : z;
            lm = lm < m ? lm : m;
            hm = hm > m ? hm : m;
        }
        lo[0] = lx, lo[1] = ly, lo[2] = lz, lo[3] = lm;
        hi[0] = hx, hi[1] = hy, hi[2] = hz, hi[3] = hm;
    } else {
        for (int d = 0; d < 4; ++d) {
            const double* v = values[d];
            if (v == nullptr) continue;
            double l = lo[d], h = hi[d];
            for (int i = 0; i < n; ++i) {
                l = l < v[i] ? l : v[i];
                h = h > v[i] ? h : v[i];
            }
            lo[d] = l;
            hi[d] = h;
        }
    }
    p_stream->fileSize += size;
    return p_stream->records++;
}

int tvShpShapeType(const tvShpStream* p_stream) { return p_stream == nullptr ? SHPT_NULL : p_stream->shapeType; }

int tvShpRecordCount(const tvShpStream* p_stream) { return p_stream == nullptr ? 0 : p_stream->records; }

bool tvShpClose(tvShpStream* p_stream) {
    if (p_stream == nullptr) return false;
    bool ok = p_stream->ok;
    unsigned char header[100];
    makeHeader(header, p_stream, p_stream->fileSize);
    ok = bufferedSeek(p_stream->shp, 0, SEEK_SET) == 0 && writeAll(p_stream->shp, header, 100) && ok;
    makeHeader(header, p_stream, 100 + 8ULL * static_cast<unsigned long long>(p_stream->records));
    ok = bufferedSeek(p_stream->shx, 0, SEEK_SET) == 0 && writeAll(p_stream->shx, header, 100) && ok;
    ok = bufferedClose(p_stream->shp) == 0 && ok;
    ok = bufferedClose(p_stream->shx) == 0 && ok;
    delete p_stream;
    return ok;
}
