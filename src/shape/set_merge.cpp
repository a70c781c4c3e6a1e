#include "shape/set_merge.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "diag/log.h"

namespace {

// Bytes moved per read or write.
const size_t MERGE_CHUNK = 1 << 20;
// The .shp and .shx count their offsets and lengths in 16-bit words held
// in 32 bits, as the writer does; and at most this many records.
const unsigned long long SHP_MAX_BYTES = 0xffffffffULL;
const long long MAX_RECORDS = 0x7fffffff;
// .prj and .cpg are compared whole: larger ones are not the writer's.
const off_t SMALL_FILE_MAX = 1 << 20;

unsigned int getBE32(const unsigned char* p_in) {
    return (static_cast<unsigned int>(p_in[0]) << 24) | (static_cast<unsigned int>(p_in[1]) << 16) |
           (static_cast<unsigned int>(p_in[2]) << 8) | p_in[3];
}

unsigned int getLE32(const unsigned char* p_in) {
    return p_in[0] | (static_cast<unsigned int>(p_in[1]) << 8) | (static_cast<unsigned int>(p_in[2]) << 16) |
           (static_cast<unsigned int>(p_in[3]) << 24);
}

unsigned int getLE16(const unsigned char* p_in) { return p_in[0] | (static_cast<unsigned int>(p_in[1]) << 8); }

void putBE32(unsigned char* p_out, unsigned int p_value) {
    for (int i = 0; i < 4; ++i) p_out[i] = static_cast<unsigned char>(p_value >> (24 - 8 * i));
}

void putLE32(unsigned char* p_out, unsigned int p_value) {
    for (int i = 0; i < 4; ++i) p_out[i] = static_cast<unsigned char>(p_value >> (8 * i));
}

off_t sizeOf(int p_fd) {
    struct stat info;
    return p_fd >= 0 && ::fstat(p_fd, &info) == 0 ? info.st_size : 0;
}

bool readAt(int p_fd, void* p_out, size_t p_size, off_t p_offset) {
    char* out = static_cast<char*>(p_out);
    while (p_size > 0) {
        ssize_t got = ::pread(p_fd, out, p_size, p_offset);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            if (got == 0) errno = EIO;  // shorter than its header says
            return false;
        }
        out += got;
        p_size -= static_cast<size_t>(got);
        p_offset += got;
    }
    return true;
}

// A part's file read in order through one buffer.
class PartReader {
public:
    explicit PartReader(int p_fd, off_t p_offset) : _fd(p_fd), _offset(p_offset), _buffer(MERGE_CHUNK) {}
    // The next p_size bytes, at most MERGE_CHUNK; null at a read failure.
    const unsigned char* next(size_t p_size) {
        if (_end - _pos < p_size) {
            std::memmove(_buffer.data(), _buffer.data() + _pos, _end - _pos);
            _end -= _pos;
            _pos = 0;
            while (_end < p_size) {
                ssize_t got = ::pread(_fd, _buffer.data() + _end, _buffer.size() - _end, _offset);
                if (got < 0 && errno == EINTR) continue;
                if (got <= 0) {
                    if (got == 0) errno = EIO;
                    return nullptr;
                }
                _end += static_cast<size_t>(got);
                _offset += got;
            }
        }
        const unsigned char* data = _buffer.data() + _pos;
        _pos += p_size;
        return data;
    }

private:
    int _fd;
    off_t _offset;
    std::vector<unsigned char> _buffer;
    size_t _pos = 0;
    size_t _end = 0;
};

// A file of the merged set, written in order through one buffer.
class SetFile {
public:
    SetFile() : _buffer(MERGE_CHUNK) {}
    ~SetFile() {
        if (_fd >= 0) ::close(_fd);
    }
    SetFile(const SetFile&) = delete;
    SetFile& operator=(const SetFile&) = delete;

    // p_keep > 0: the set's temporary is an adopted file whose first
    // p_keep bytes stay; writing goes on after them.
    bool open(const std::string& p_path, off_t p_keep = 0) {
        _path = p_path;
        tvOutputSet* set = tvActiveOutputSet();
        _fd = set == nullptr ? -1 : set->open(p_path, p_keep > 0 ? O_WRONLY : O_WRONLY | O_CREAT | O_TRUNC);
        if (_fd < 0) fail(set == nullptr ? EINVAL : errno);
        if (_fd >= 0 && p_keep > 0 && (::ftruncate(_fd, p_keep) != 0 || ::lseek(_fd, p_keep, SEEK_SET) != p_keep))
            fail(errno);
        return _ok;
    }
    void write(const void* p_data, size_t p_size) {
        if (_used + p_size <= MERGE_CHUNK) {  // the usual case: a record's bytes
            std::memcpy(_buffer.data() + _used, p_data, p_size);
            _used += p_size;
            return;
        }
        const char* data = static_cast<const char*>(p_data);
        while (_ok && p_size > 0) {
            if (_used == MERGE_CHUNK) flush();
            const size_t take = p_size < MERGE_CHUNK - _used ? p_size : MERGE_CHUNK - _used;
            std::memcpy(_buffer.data() + _used, data, take);
            _used += take;
            data += take;
            p_size -= take;
        }
    }
    // Rewrites p_size bytes at p_offset (a header), after what is buffered.
    void writeAt(off_t p_offset, const void* p_data, size_t p_size) {
        flush();
        if (_ok && ::pwrite(_fd, p_data, p_size, p_offset) != static_cast<ssize_t>(p_size)) fail(errno);
    }
    bool close() {
        flush();
        if (_fd >= 0 && ::close(_fd) != 0 && _ok) fail(errno);
        _fd = -1;
        return _ok;
    }

private:
    void flush() {
        size_t done = 0;
        while (_ok && done < _used) {
            ssize_t put = ::write(_fd, _buffer.data() + done, _used - done);
            if (put < 0 && errno == EINTR) continue;
            if (put <= 0) fail(put == 0 ? EIO : errno);
            else done += static_cast<size_t>(put);
        }
        _used = 0;
    }
    void fail(int p_errno) {
        if (_ok) tvLog("Cannot write to file : ", _path + " (" + std::strerror(p_errno) + ")", LOG_ERROR);
        _ok = false;
    }

    std::string _path;
    int _fd = -1;
    bool _ok = true;
    std::vector<char> _buffer;
    size_t _used = 0;
};

// What one part holds, from its headers.
struct PartInfo {
    unsigned char shpHeader[100];
    off_t shpSize = 0;
    long long records = 0;
    std::vector<unsigned char> dbfHeader;
    unsigned int dbfRecordBytes = 0;
    std::string prj, cpg;
    bool drawn = false;  // holds a record that is not a null shape
    bool dbfMark = false;  // the .dbf ends with the end-of-file mark
};

bool readSmall(int p_fd, std::string& p_text) {
    const off_t size = sizeOf(p_fd);
    if (size > SMALL_FILE_MAX) return false;
    p_text.assign(static_cast<size_t>(size), '\0');
    return size == 0 || readAt(p_fd, &p_text[0], static_cast<size_t>(size), 0);
}

// The headers of part p_index; false, with one LOG_ERROR line, when they
// are not a writer's.
bool readPart(const tvPartFiles& p_files, size_t p_index, PartInfo& p_info) {
    const std::string part = " of part " + std::to_string(p_index + 1);
    auto refuse = [&](const std::string& p_what) {
        tvLog("Cannot merge the parts of the export, " + p_what + part + " : ", std::strerror(errno), LOG_ERROR);
        return false;
    };
    errno = EINVAL;
    p_info.shpSize = sizeOf(p_files[TV_PART_SHP]);
    if (p_info.shpSize < 100 || !readAt(p_files[TV_PART_SHP], p_info.shpHeader, 100, 0)) return refuse("the .shp");
    errno = EINVAL;
    if (getBE32(p_info.shpHeader) != 9994 || static_cast<off_t>(getBE32(p_info.shpHeader + 24)) * 2 != p_info.shpSize)
        return refuse("the .shp header");

    const off_t dbfSize = sizeOf(p_files[TV_PART_DBF]);
    unsigned char head[32];
    if (dbfSize < 32 || !readAt(p_files[TV_PART_DBF], head, 32, 0)) return refuse("the .dbf");
    const unsigned int headerBytes = getLE16(head + 8);
    p_info.dbfRecordBytes = getLE16(head + 10);
    p_info.records = getLE32(head + 4);
    const off_t data = headerBytes + static_cast<off_t>(p_info.records) * p_info.dbfRecordBytes;
    errno = EINVAL;
    if (headerBytes < 33 || p_info.dbfRecordBytes == 0 || (dbfSize != data && dbfSize != data + 1))
        return refuse("the .dbf header");
    p_info.dbfMark = dbfSize == data + 1;
    p_info.dbfHeader.resize(headerBytes);
    if (!readAt(p_files[TV_PART_DBF], p_info.dbfHeader.data(), headerBytes, 0)) return refuse("the .dbf header");
    if (!readSmall(p_files[TV_PART_PRJ], p_info.prj)) return refuse("the .prj");
    if (!readSmall(p_files[TV_PART_CPG], p_info.cpg)) return refuse("the .cpg");
    return true;
}

// Whether two parts describe one set: shape type, .dbf fields (the header
// but for its date and record count), .prj and .cpg.
bool sameSet(const PartInfo& p_a, const PartInfo& p_b) {
    if (getLE32(p_a.shpHeader + 32) != getLE32(p_b.shpHeader + 32)) return false;
    if (p_a.dbfHeader.size() != p_b.dbfHeader.size() || p_a.dbfHeader[0] != p_b.dbfHeader[0]) return false;
    if (std::memcmp(p_a.dbfHeader.data() + 8, p_b.dbfHeader.data() + 8, p_a.dbfHeader.size() - 8) != 0) return false;
    return p_a.prj == p_b.prj && p_a.cpg == p_b.cpg;
}

// The bounds of the set as the writer keeps them: while the X/Y bounds are
// all zero a part's bounds replace them, later ones widen them.
void combineBounds(double p_set[8], const unsigned char* p_header) {
    double part[8];
    std::memcpy(part, p_header + 36, sizeof part);  // little-endian host
    if (p_set[0] == 0.0 && p_set[1] == 0.0 && p_set[2] == 0.0 && p_set[3] == 0.0) {
        std::memcpy(p_set, part, sizeof part);
        return;
    }
    // x min, y min, x max, y max, z min, z max, m min, m max
    const bool isMin[8] = {true, true, false, false, true, false, true, false};
    for (int i = 0; i < 8; ++i) {
        p_set[i] = isMin[i] ? (p_set[i] < part[i] ? p_set[i] : part[i]) : (p_set[i] > part[i] ? p_set[i] : part[i]);
    }
}

// The .shp records of one part after the others: renumbered, indexed.
bool copyShapes(int p_fd, PartInfo& p_info, size_t p_index, long long& p_number, unsigned long long& p_offset,
                SetFile& p_shp, SetFile& p_shx) {
    PartReader reader(p_fd, 100);
    off_t left = p_info.shpSize - 100;
    for (long long i = 0; i < p_info.records; ++i) {
        const unsigned char* header = left >= 12 ? reader.next(8) : nullptr;
        const unsigned long long bytes = header == nullptr ? 0 : 2ULL * getBE32(header + 4);
        if (header == nullptr || bytes < 4 || static_cast<off_t>(bytes) > left - 8) {
            if (header != nullptr || errno == 0) errno = EINVAL;
            tvLog("Cannot merge the parts of the export, a .shp record of part " + std::to_string(p_index + 1) +
                      " : ", std::to_string(i + 1) + " (" + std::strerror(errno) + ")", LOG_ERROR);
            return false;
        }
        unsigned char out[8];
        putBE32(out, static_cast<unsigned int>(++p_number));
        std::memcpy(out + 4, header + 4, 4);
        p_shp.write(out, 8);
        putBE32(out, static_cast<unsigned int>(p_offset / 2));
        p_shx.write(out, 8);
        unsigned long long rest = bytes;
        bool first = true;
        while (rest > 0) {
            const size_t take = rest < MERGE_CHUNK ? static_cast<size_t>(rest) : MERGE_CHUNK;
            const unsigned char* content = reader.next(take);
            if (content == nullptr) {
                tvLog("Cannot merge the parts of the export, a .shp record of part " + std::to_string(p_index + 1) +
                          " : ", std::to_string(i + 1) + " (" + std::strerror(errno) + ")", LOG_ERROR);
                return false;
            }
            if (first && getLE32(content) != 0) p_info.drawn = true;
            first = false;
            p_shp.write(content, take);
            rest -= take;
        }
        p_offset += 8 + bytes;
        left -= static_cast<off_t>(8 + bytes);
    }
    if (left != 0) {
        tvLog("Cannot merge the parts of the export, the .shp and .dbf record counts differ in part : ",
              static_cast<int>(p_index + 1), LOG_ERROR);
        return false;
    }
    return true;
}

// The .dbf records of one part; with p_field (offset and width of the
// record-number field) their numbers continue those of the parts before.
bool copyRecords(int p_fd, const PartInfo& p_info, size_t p_index, long long p_first, int p_fieldWidth,
                 SetFile& p_dbf) {
    PartReader reader(p_fd, static_cast<off_t>(p_info.dbfHeader.size()));
    const size_t recordBytes = p_info.dbfRecordBytes;
    if (p_fieldWidth <= 0) {
        // The records as they are, a chunk at a time.
        unsigned long long rest = static_cast<unsigned long long>(p_info.records) * recordBytes;
        while (rest > 0) {
            const size_t take = rest < MERGE_CHUNK ? static_cast<size_t>(rest) : MERGE_CHUNK;
            const unsigned char* data = reader.next(take);
            if (data == nullptr) {
                tvLog("Cannot merge the parts of the export, the .dbf of part " + std::to_string(p_index + 1) +
                          " : ", std::strerror(errno), LOG_ERROR);
                return false;
            }
            p_dbf.write(data, take);
            rest -= take;
        }
        return true;
    }
    std::vector<char> record(recordBytes);
    for (long long i = 0; i < p_info.records; ++i) {
        const unsigned char* data = reader.next(recordBytes);
        if (data == nullptr) {
            tvLog("Cannot merge the parts of the export, the .dbf of part " + std::to_string(p_index + 1) + " : ",
                  std::strerror(errno), LOG_ERROR);
            return false;
        }
        std::memcpy(record.data(), data, recordBytes);
        char text[32];
        std::snprintf(text, sizeof text, "%*lld", p_fieldWidth, p_first + i);
        std::memcpy(record.data() + 1, text, static_cast<size_t>(p_fieldWidth));
        p_dbf.write(record.data(), recordBytes);
    }
    return true;
}

// Makes the .shp, .shx and .dbf of p_part the set's temporaries (see
// tvOutputSet::adopt); false, with none of them adopted, when one cannot
// be (a file that has no name left, on a file system without O_TMPFILE).
bool adoptFirst(const tvPartFiles& p_part, const PartInfo& p_info, const std::string& p_base) {
    tvOutputSet* set = tvActiveOutputSet();
    if (set == nullptr || sizeOf(p_part[TV_PART_SHX]) != 100 + 8 * p_info.records) return false;
    const int files[3] = {TV_PART_SHP, TV_PART_SHX, TV_PART_DBF};
    for (int i = 0; i < 3; ++i) {
        if (set->adopt(p_base + tvPartExtension(files[i]), p_part[static_cast<size_t>(files[i])]) != 0) {
            for (int j = 0; j < i; ++j) set->remove(p_base + tvPartExtension(files[j]));
            return false;
        }
    }
    return true;
}

}  // namespace

tvMergeResult tvMergeParts(const std::vector<tvPartFiles>& p_parts, const std::string& p_base,
                           bool p_recordNumbers, long long& p_records) {
    p_records = 0;
    if (p_parts.empty()) return TV_MERGE_MISMATCH;
    std::vector<PartInfo> infos(p_parts.size());
    unsigned long long shpBytes = 100;
    for (size_t i = 0; i < p_parts.size(); ++i) {
        if (!readPart(p_parts[i], i, infos[i])) return TV_MERGE_FAILED;
        if (!sameSet(infos[0], infos[i])) return TV_MERGE_MISMATCH;
        p_records += infos[i].records;
        shpBytes += static_cast<unsigned long long>(infos[i].shpSize) - 100;
    }
    if (shpBytes > SHP_MAX_BYTES || p_records > MAX_RECORDS) {
        tvLog("Cannot merge the parts of the export, the .shp file would exceed 4 GB : ", p_base + ".shp",
              LOG_ERROR);
        return TV_MERGE_FAILED;
    }
    // The record-number field: the only field, numeric, named FID.
    const std::vector<unsigned char>& dbfHeader = infos[0].dbfHeader;
    int fieldWidth = 0;
    if (p_recordNumbers) {
        if (dbfHeader.size() != 65 || std::strncmp(reinterpret_cast<const char*>(dbfHeader.data()) + 32, "FID", 11) ||
            dbfHeader[32 + 11] != 'N' || dbfHeader[32 + 16] + 1 != static_cast<int>(infos[0].dbfRecordBytes))
            return TV_MERGE_MISMATCH;
        fieldWidth = dbfHeader[32 + 16];
    }

    // The first part's files hold the set's first records as they must
    // be: they become the set's files, and the other parts are appended.
    const off_t dbfRecords = static_cast<off_t>(dbfHeader.size()) + infos[0].records * infos[0].dbfRecordBytes;
    const bool adopted = adoptFirst(p_parts[0], infos[0], p_base);
    SetFile shp, shx, dbf;
    if (!shp.open(p_base + ".shp", adopted ? infos[0].shpSize : 0) ||
        !shx.open(p_base + ".shx", adopted ? 100 + 8 * infos[0].records : 0) ||
        !dbf.open(p_base + ".dbf", adopted ? dbfRecords : 0))
        return TV_MERGE_FAILED;
    unsigned char header[100];
    std::memcpy(header, infos[0].shpHeader, 100);
    std::vector<unsigned char> dbfHead(dbfHeader);
    putLE32(dbfHead.data() + 4, static_cast<unsigned int>(p_records));
    if (!adopted) {
        shp.write(header, 100);
        shx.write(header, 100);
        dbf.write(dbfHead.data(), dbfHead.size());
    }

    long long number = adopted ? infos[0].records : 0;
    unsigned long long offset = adopted ? static_cast<unsigned long long>(infos[0].shpSize) : 100;
    double bounds[8] = {0, 0, 0, 0, 0, 0, 0, 0};
    if (adopted && infos[0].records > 0) infos[0].drawn = true;  // its header's bounds are its records'
    for (size_t i = 0; i < p_parts.size(); ++i) {
        if ((i > 0 || !adopted) &&
            (!copyShapes(p_parts[i][TV_PART_SHP], infos[i], i, number, offset, shp, shx) ||
             !copyRecords(p_parts[i][TV_PART_DBF], infos[i], i, number - infos[i].records, fieldWidth, dbf)))
            return TV_MERGE_FAILED;
        if (infos[i].drawn) combineBounds(bounds, infos[i].shpHeader);
    }
    // The end-of-file mark, as the first part had it.
    if (infos[0].dbfMark) {
        const char mark = 0x1A;
        dbf.write(&mark, 1);
    }

    std::memcpy(header + 36, bounds, sizeof bounds);
    putBE32(header + 24, static_cast<unsigned int>(offset / 2));
    if (adopted) dbf.writeAt(0, dbfHead.data(), dbfHead.size());
    shp.writeAt(0, header, 100);
    putBE32(header + 24, static_cast<unsigned int>((100 + 8ULL * static_cast<unsigned long long>(p_records)) / 2));
    shx.writeAt(0, header, 100);
    bool ok = shp.close();
    ok = shx.close() && ok;
    ok = dbf.close() && ok;
    for (int extra : {TV_PART_PRJ, TV_PART_CPG}) {
        const std::string& text = extra == TV_PART_PRJ ? infos[0].prj : infos[0].cpg;
        if (!ok || text.empty()) continue;
        SetFile file;
        ok = file.open(p_base + tvPartExtension(extra));
        if (ok) file.write(text.data(), text.size());
        ok = ok && file.close();
    }
    return ok ? TV_MERGE_DONE : TV_MERGE_FAILED;
}
