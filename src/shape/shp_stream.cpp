#include "shape/shp_stream.h"

#include <cctype>
#include <cstring>
#include <new>
#include <vector>

#include "shape/buffered_io.h"
#include "shape/gtype.h"

struct tvShpStream {
    SAFile shp = nullptr;
    SAFile shx = nullptr;
    int shapeType = SHPT_NULL;
    bool measured = false;  // every record carries M
    int records = 0;
    unsigned long long fileSize = 100;  // of the .shp
    unsigned long long limit = 0xffffffffULL;  // largest size of either file
    double boundsMin[4] = {0, 0, 0, 0};
    double boundsMax[4] = {0, 0, 0, 0};
    std::vector<unsigned char> record;  // reused from one record to the next
    bool ok = true;
};

namespace {

const SAHooks g_hooks = tvBufferedHooks();

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

bool isKnownType(int p_type) { return p_type == SHPT_NULL || isKnownShapeType(p_type); }

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
    return g_hooks.FWrite(const_cast<void*>(p_data), 1, p_len, p_file) == p_len;
}

// The bounds of one coordinate of a record as SHPComputeExtents sets them
// (the first value, then its MIN/MAX over every value); known when they may
// widen the file's bounds whole: for one value, or values all finite.
struct Range {
    bool known = false;
    double lo, hi;
};

// Writes p_count values from p_values at p_out and sets p_range from them in
// the same pass: the bounds as MIN/MAX chains, and a sum that stays finite
// only when every value is (a sum that overflows only says no).
void putFolded(unsigned char* p_out, const double* p_values, int p_count, Range& p_range) {
    if (p_count == 0) {  // no bounds: zero, as in a new object
        p_range.lo = p_range.hi = 0.0;
        return;
    }
    double lo = p_values[0], hi = p_values[0], sum = 0.0;
    for (int i = 0; i < p_count; ++i) {
        const double v = p_values[i];
        std::memcpy(p_out + static_cast<size_t>(i) * 8, &v, sizeof v);
        lo = lo < v ? lo : v;
        hi = hi > v ? hi : v;
        sum += v;
    }
    p_range.known = sum - sum == 0.0;
    p_range.lo = lo;
    p_range.hi = hi;
}

// putFolded of X and Y together, into the interleaved pairs of a record.
void putFoldedXY(unsigned char* p_out, const double* p_x, const double* p_y, int p_count, Range& p_rangeX,
                 Range& p_rangeY) {
    if (p_count == 0) {  // no bounds: zero, as in a new object
        p_rangeX.lo = p_rangeX.hi = p_rangeY.lo = p_rangeY.hi = 0.0;
        return;
    }
    double lx = p_x[0], hx = p_x[0], sx = 0.0, ly = p_y[0], hy = p_y[0], sy = 0.0;
    for (int i = 0; i < p_count; ++i) {
        const double x = p_x[i], y = p_y[i];
        std::memcpy(p_out + 16 * static_cast<size_t>(i), &x, sizeof x);
        std::memcpy(p_out + 16 * static_cast<size_t>(i) + 8, &y, sizeof y);
        lx = lx < x ? lx : x;
        hx = hx > x ? hx : x;
        ly = ly < y ? ly : y;
        hy = hy > y ? hy : y;
        sx += x;
        sy += y;
    }
    p_rangeX.known = sx - sx == 0.0;
    p_rangeX.lo = lx;
    p_rangeX.hi = hx;
    p_rangeY.known = sy - sy == 0.0;
    p_rangeY.lo = ly;
    p_rangeY.hi = hy;
}

// One value's bounds: the value, which may widen the file's bounds whatever
// it is (MIN/MAX of a bound and one value is the fold over that value).
void putSingle(unsigned char* p_out, double p_value, Range* p_range) {
    putDouble(p_out, p_value);
    if (p_range == nullptr) return;
    p_range->known = true;
    p_range->lo = p_range->hi = p_value;
}

// Encodes one record (8-byte header included) the way SHPWriteObject does;
// returns its size, 0 when the object cannot be encoded. With p_ranges, the
// record's bounds are computed from its vertices, as SHPComputeExtents sets
// them, while they are encoded (the object's own are not read), and given
// back for X, Y, and Z and M where the record holds them.
size_t encodeRecord(std::vector<unsigned char>& p_buf, const SHPObject* p_object, int p_recordNumber,
                    Range* p_ranges = nullptr) {
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

    // With p_ranges, the bounds are folded while the values are written.
    const bool compute = p_ranges != nullptr;
    auto putRange = [&](double p_min, double p_max, const double* p_values, int p_dimension) {
        const size_t at = size;
        size += 16;
        if (compute) {
            Range& range = p_ranges[p_dimension];
            putFolded(rec + size, p_values, n, range);
            p_min = range.lo;
            p_max = range.hi;
        } else if (n > 0) {
            std::memcpy(rec + size, p_values, static_cast<size_t>(n) * sizeof(double));
        }
        putDouble(rec + at, p_min);
        putDouble(rec + at + 8, p_max);
        size += static_cast<size_t>(n) * sizeof(double);
    };
    auto putXY = [&]() {
        if (compute) {
            putFoldedXY(rec + size, p_object->padfX, p_object->padfY, n, p_ranges[0], p_ranges[1]);
            size += 16 * static_cast<size_t>(n);
            return;
        }
        for (int i = 0; i < n; ++i) {
            putDouble(rec + size, p_object->padfX[i]);
            putDouble(rec + size + 8, p_object->padfY[i]);
            size += 16;
        }
    };
    auto putBox = [&]() {
        putDouble(rec + 12, compute ? p_ranges[0].lo : p_object->dfXMin);
        putDouble(rec + 20, compute ? p_ranges[1].lo : p_object->dfYMin);
        putDouble(rec + 28, compute ? p_ranges[0].hi : p_object->dfXMax);
        putDouble(rec + 36, compute ? p_ranges[1].hi : p_object->dfYMax);
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
            putLE32(rec + 44, parts);
            putLE32(rec + 48, n);
            size = 52;
            for (int i = 0; i < parts; ++i, size += 4) putLE32(rec + size, p_object->panPartStart[i]);
            if (type == SHPT_MULTIPATCH) {
                for (int i = 0; i < parts; ++i, size += 4) putLE32(rec + size, p_object->panPartType[i]);
            }
            putXY();
            putBox();
            if (hasZ) putRange(p_object->dfZMin, p_object->dfZMax, p_object->padfZ, 2);
            if (hasM) putRange(p_object->dfMMin, p_object->dfMMax, p_object->padfM, 3);
            break;
        case SHPT_MULTIPOINT: case SHPT_MULTIPOINTZ: case SHPT_MULTIPOINTM:
            putLE32(rec + 44, n);
            size = 48;
            putXY();
            putBox();
            if (hasZ) putRange(p_object->dfZMin, p_object->dfZMax, p_object->padfZ, 2);
            if (hasM) putRange(p_object->dfMMin, p_object->dfMMax, p_object->padfM, 3);
            break;
        case SHPT_POINT: case SHPT_POINTZ: case SHPT_POINTM:
            if (n < 1) return 0;  // shapelib would read a vertex that is not there
            putSingle(rec + 12, p_object->padfX[0], p_ranges != nullptr ? &p_ranges[0] : nullptr);
            putSingle(rec + 20, p_object->padfY[0], p_ranges != nullptr ? &p_ranges[1] : nullptr);
            size = 28;
            if (hasZ) {
                putSingle(rec + size, p_object->padfZ[0], p_ranges != nullptr ? &p_ranges[2] : nullptr);
                size += 8;
            }
            if (hasM) {
                putSingle(rec + size, p_object->padfM[0], p_ranges != nullptr ? &p_ranges[3] : nullptr);
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

// Widens the file bounds by one record, as shapelib keeps them: while the
// X/Y bounds are all zero (no record yet, only empty ones, or a first shape
// at the origin) a record sets them (all zero for a null or empty shape);
// later records widen them.
//
// With p_ranges from encodeRecord, a coordinate whose record bounds are known
// widens them by those bounds alone: without a NaN, MIN/MAX over
// the file's bound and then every value keeps the last value that reaches
// the extreme, and MIN/MAX of the file's bound and the record's, whose fold
// keeps the last such value of the record, keeps the same one.
void widenBounds(tvShpStream* p_stream, const SHPObject* p_object, const Range* p_ranges = nullptr) {
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
    if (p_ranges != nullptr) {
        bool rest = false;  // coordinates still to fold value by value
        for (int d = 0; d < 4; ++d) {
            if (values[d] == nullptr) continue;
            if (!p_ranges[d].known) {
                rest = true;
                continue;
            }
            lo[d] = lo[d] < p_ranges[d].lo ? lo[d] : p_ranges[d].lo;
            hi[d] = hi[d] > p_ranges[d].hi ? hi[d] : p_ranges[d].hi;
            values[d] = nullptr;
        }
        if (!rest) return;
    }
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
}

}  // namespace

tvShpStream* tvShpCreate(const std::string& p_filename, int p_shapeType) {
    if (!isKnownType(p_shapeType)) {
        tvRecordIOFailure("Cannot create shapefile, unknown shape type : ", std::to_string(p_shapeType));
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
    stream->measured = isMType(p_shapeType);
    // Read back when the records are rewritten in another shape type.
    stream->shp = g_hooks.FOpen((base + ".shp").c_str(), "w+b");
    if (stream->shp != nullptr) stream->shx = g_hooks.FOpen((base + ".shx").c_str(), "w+b");
    if (stream->shx == nullptr) {
        if (stream->shp != nullptr) g_hooks.FClose(stream->shp);
        delete stream;
        return nullptr;
    }
    unsigned char header[100];
    makeHeader(header, stream, 100);
    stream->ok = writeAll(stream->shp, header, 100) && writeAll(stream->shx, header, 100);
    return stream;
}

namespace {

// tvShpWriteObject, and with p_computeBounds tvShpWriteShape.
int writeObject(tvShpStream* p_stream, const SHPObject* p_object, bool p_computeBounds) {
    if (p_stream == nullptr || p_object == nullptr || !p_stream->ok) return -1;
    if (p_object->nSHPType != p_stream->shapeType && p_object->nSHPType != SHPT_NULL) return -1;
    Range ranges[4];
    size_t size = encodeRecord(p_stream->record, p_object, p_stream->records + 1,
                               p_computeBounds ? ranges : nullptr);
    if (size == 0) return -1;
    // Offsets and lengths are counted in 16-bit words of 32 bits; the limit
    // is at most that.
    if (p_stream->fileSize + size > p_stream->limit || 100 + 8ULL * (p_stream->records + 1ULL) > p_stream->limit ||
        p_stream->records == 0x7fffffff) {
        return TV_SHP_FULL;
    }
    unsigned char index[8];
    putBE32(index, static_cast<unsigned int>(p_stream->fileSize / 2));
    putBE32(index + 4, static_cast<unsigned int>((size - 8) / 2));
    if (!writeAll(p_stream->shp, p_stream->record.data(), size) || !writeAll(p_stream->shx, index, 8)) {
        p_stream->ok = false;
        return -1;
    }

    widenBounds(p_stream, p_object, p_computeBounds ? ranges : nullptr);
    p_stream->fileSize += size;
    return p_stream->records++;
}

}  // namespace

int tvShpWriteObject(tvShpStream* p_stream, const SHPObject* p_object) {
    return writeObject(p_stream, p_object, false);
}

int tvShpWriteShape(tvShpStream* p_stream, const SHPObject* p_object) {
    return writeObject(p_stream, p_object, true);
}

void tvComputeExtents(SHPObject* p_object) {
    const int n = p_object->nVertices;
    if (n <= 0) return;
    const double* x = p_object->padfX;
    const double* y = p_object->padfY;
    const double* z = p_object->padfZ;
    const double* m = p_object->padfM;
    double lx = x[0], ly = y[0], lz = z[0], lm = m[0];
    double hx = lx, hy = ly, hz = lz, hm = lm;
    for (int i = 0; i < n; ++i) {
        lx = lx < x[i] ? lx : x[i];
        hx = hx > x[i] ? hx : x[i];
        ly = ly < y[i] ? ly : y[i];
        hy = hy > y[i] ? hy : y[i];
        lz = lz < z[i] ? lz : z[i];
        hz = hz > z[i] ? hz : z[i];
        lm = lm < m[i] ? lm : m[i];
        hm = hm > m[i] ? hm : m[i];
    }
    p_object->dfXMin = lx, p_object->dfXMax = hx;
    p_object->dfYMin = ly, p_object->dfYMax = hy;
    p_object->dfZMin = lz, p_object->dfZMax = hz;
    p_object->dfMMin = lm, p_object->dfMMax = hm;
}

int tvShpShapeType(const tvShpStream* p_stream) { return p_stream == nullptr ? SHPT_NULL : p_stream->shapeType; }

void tvShpSetLimit(tvShpStream* p_stream, unsigned long long p_bytes) {
    if (p_stream != nullptr) p_stream->limit = p_bytes < 0xffffffffULL ? p_bytes : 0xffffffffULL;
}

unsigned long long tvShpFileSize(const tvShpStream* p_stream) { return p_stream == nullptr ? 0 : p_stream->fileSize; }

bool tvShpMeasured(const tvShpStream* p_stream) { return p_stream != nullptr && p_stream->measured; }

int tvShpRecordCount(const tvShpStream* p_stream) { return p_stream == nullptr ? 0 : p_stream->records; }

bool tvShpClose(tvShpStream* p_stream) {
    if (p_stream == nullptr) return false;
    bool ok = p_stream->ok;
    unsigned char header[100];
    makeHeader(header, p_stream, p_stream->fileSize);
    ok = g_hooks.FSeek(p_stream->shp, 0, SEEK_SET) == 0 && writeAll(p_stream->shp, header, 100) && ok;
    makeHeader(header, p_stream, 100 + 8ULL * static_cast<unsigned long long>(p_stream->records));
    ok = g_hooks.FSeek(p_stream->shx, 0, SEEK_SET) == 0 && writeAll(p_stream->shx, header, 100) && ok;
    ok = g_hooks.FClose(p_stream->shp) == 0 && ok;
    ok = g_hooks.FClose(p_stream->shx) == 0 && ok;
    delete p_stream;
    return ok;
}

namespace {

unsigned int getBE32(const unsigned char* p_in) {
    return (static_cast<unsigned int>(p_in[0]) << 24) | (static_cast<unsigned int>(p_in[1]) << 16) |
           (static_cast<unsigned int>(p_in[2]) << 8) | static_cast<unsigned int>(p_in[3]);
}

int getLE32(const unsigned char* p_in) {
    unsigned int v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | p_in[i];
    return static_cast<int>(v);
}

double getDouble(const unsigned char* p_in) {
    double value;
    std::memcpy(&value, p_in, sizeof value);
    return value;
}

// One record read back from the file, in arrays reused from one record to
// the next.
struct Decoded {
    SHPObject object;
    std::vector<int> partStart, partType;
    std::vector<double> x, y, z, m;
};

// Decodes a record that encodeRecord wrote (p_size bytes, header included).
bool decodeRecord(const unsigned char* p_rec, size_t p_size, Decoded& p_out) {
    if (p_size < 12) return false;
    SHPObject& object = p_out.object;
    std::memset(&object, 0, sizeof object);
    object.nShapeId = -1;
    object.nSHPType = getLE32(p_rec + 8);
    const int type = object.nSHPType;
    size_t at = 12;
    int n = 0;
    int parts = 0;
    if (type == SHPT_NULL) return true;
    const bool point = type == SHPT_POINT || type == SHPT_POINTZ || type == SHPT_POINTM;
    const bool multipoint = type == SHPT_MULTIPOINT || type == SHPT_MULTIPOINTZ || type == SHPT_MULTIPOINTM;
    if (point) {
        n = 1;
    } else {
        if (p_size < 48) return false;
        at = 44;
        if (!multipoint) {
            if (p_size < 52) return false;
            parts = getLE32(p_rec + at);
            at += 4;
        }
        n = getLE32(p_rec + at);
        at += 4;
    }
    if (n < 0 || parts < 0 || static_cast<size_t>(n) > p_size / 16 || static_cast<size_t>(parts) > p_size / 4) {
        return false;
    }
    const size_t count = static_cast<size_t>(n);
    p_out.partStart.resize(static_cast<size_t>(parts));
    p_out.partType.assign(static_cast<size_t>(parts), SHPP_RING);
    p_out.x.resize(count + 1);
    p_out.y.resize(count + 1);
    p_out.z.assign(count + 1, 0.0);
    p_out.m.assign(count + 1, 0.0);
    const size_t partBytes = static_cast<size_t>(parts) * (type == SHPT_MULTIPATCH ? 8 : 4);
    if (at + partBytes + 16 * count > p_size) return false;
    for (int i = 0; i < parts; ++i, at += 4) p_out.partStart[static_cast<size_t>(i)] = getLE32(p_rec + at);
    if (type == SHPT_MULTIPATCH) {
        for (int i = 0; i < parts; ++i, at += 4) p_out.partType[static_cast<size_t>(i)] = getLE32(p_rec + at);
    }
    for (size_t i = 0; i < count; ++i, at += 16) {
        p_out.x[i] = getDouble(p_rec + at);
        p_out.y[i] = getDouble(p_rec + at + 8);
    }
    // Z and M: a range (not for a point) and one value per vertex; M is
    // there only when the record is long enough to hold it.
    const size_t block = (point ? 0 : 16) + 8 * count;
    if (isZType(type)) {
        if (at + block > p_size) return false;
        for (size_t i = 0; i < count; ++i) p_out.z[i] = getDouble(p_rec + at + (point ? 0 : 16) + 8 * i);
        at += block;
    }
    if ((isZType(type) || isMType(type)) && at + block <= p_size && count > 0) {
        for (size_t i = 0; i < count; ++i) p_out.m[i] = getDouble(p_rec + at + (point ? 0 : 16) + 8 * i);
        object.bMeasureIsUsed = 1;
    }
    object.nParts = parts;
    object.nVertices = n;
    object.panPartStart = p_out.partStart.data();
    object.panPartType = p_out.partType.data();
    object.padfX = p_out.x.data();
    object.padfY = p_out.y.data();
    object.padfZ = p_out.z.data();
    object.padfM = p_out.m.data();
    return true;
}

// The record in p_type: a point becomes a multipoint of one point, and the
// ordinates the record lacks get p_nullVertex (an M where the type always
// stores one, or where p_measured asks for one).
void raiseRecord(Decoded& p_record, int p_type, bool p_measured, double p_nullVertex) {
    SHPObject& object = p_record.object;
    if (object.nSHPType == SHPT_NULL) return;
    const size_t n = static_cast<size_t>(object.nVertices);
    if (isZType(p_type) && !isZType(object.nSHPType)) {
        for (size_t i = 0; i < n; ++i) p_record.z[i] = p_nullVertex;
    }
    if ((isMType(p_type) || (p_measured && p_type != SHPT_MULTIPATCH)) && !object.bMeasureIsUsed) {
        for (size_t i = 0; i < n; ++i) p_record.m[i] = p_nullVertex;
        object.bMeasureIsUsed = 1;
    }
    object.nSHPType = p_type;
    tvComputeExtents(&object);
}

bool readAt(SAFile p_file, unsigned long long p_offset, void* p_data, size_t p_len) {
    return g_hooks.FSeek(p_file, static_cast<SAOffset>(p_offset), SEEK_SET) == 0 &&
           g_hooks.FRead(p_data, 1, p_len, p_file) == p_len;
}

bool writeAt(SAFile p_file, unsigned long long p_offset, const void* p_data, size_t p_len) {
    return g_hooks.FSeek(p_file, static_cast<SAOffset>(p_offset), SEEK_SET) == 0 && writeAll(p_file, p_data, p_len);
}

// Record p_index read back and raised to p_type, encoded in p_stream->record;
// its old offset in p_offset. 0 when it cannot be read.
size_t raisedRecord(tvShpStream* p_stream, int p_index, int p_type, bool p_measured, double p_nullVertex,
                    Decoded& p_record, std::vector<unsigned char>& p_old) {
    unsigned char index[8];
    if (!readAt(p_stream->shx, 100 + 8ULL * static_cast<unsigned long long>(p_index), index, 8)) return 0;
    const unsigned long long offset = 2ULL * getBE32(index);
    const size_t size = 8 + 2 * static_cast<size_t>(getBE32(index + 4));
    p_old.resize(size);
    if (!readAt(p_stream->shp, offset, p_old.data(), size) || !decodeRecord(p_old.data(), size, p_record)) return 0;
    raiseRecord(p_record, p_type, p_measured, p_nullVertex);
    return encodeRecord(p_stream->record, &p_record.object, p_index + 1);
}

}  // namespace

unsigned long long tvShpRaisedSize(tvShpStream* p_stream, int p_type, bool p_measured, double p_nullVertex) {
    if (p_stream == nullptr || !p_stream->ok || !isKnownShapeType(p_type)) return 0;
    Decoded record;
    std::vector<unsigned char> old;
    unsigned long long total = 100;
    for (int i = 0; i < p_stream->records; ++i) {
        const size_t size = raisedRecord(p_stream, i, p_type, p_measured, p_nullVertex, record, old);
        if (size == 0) return 0;
        total += size;
    }
    return total;
}

unsigned long long tvShpRecordSize(tvShpStream* p_stream, const SHPObject* p_object) {
    if (p_stream == nullptr || p_object == nullptr) return 0;
    return encodeRecord(p_stream->record, p_object, p_stream->records + 1);
}

bool tvShpRaiseType(tvShpStream* p_stream, int p_type, bool p_measured, double p_nullVertex) {
    if (p_stream == nullptr || !p_stream->ok) return false;
    if (!isKnownShapeType(p_type)) return false;
    Decoded record;
    std::vector<unsigned char> old;
    // First pass: the new size of the file, and its bounds as they would be
    // had the records been written in the new type from the start.
    unsigned long long total = 100;
    tvShpStream bounds;  // the new bounds, kept apart until the rewrite
    for (int i = 0; i < p_stream->records; ++i) {
        const size_t size = raisedRecord(p_stream, i, p_type, p_measured, p_nullVertex, record, old);
        if (size == 0) {
            p_stream->ok = false;
            tvRecordIOFailure("Cannot read back shape record : ", std::to_string(i));
            return false;
        }
        widenBounds(&bounds, &record.object);
        total += size;
    }
    if (total > p_stream->limit) return false;  // nothing changed: the file is full
    for (int i = 0; i < 4; ++i) {
        p_stream->boundsMin[i] = bounds.boundsMin[i];
        p_stream->boundsMax[i] = bounds.boundsMax[i];
    }
    // Second pass, from the last record to the first: records only grow, so
    // each one's new place lies at or after its old one and after every
    // record still to be read; writing it clobbers no unread record.
    unsigned long long end = total;
    for (int i = p_stream->records - 1; i >= 0; --i) {
        const size_t size = raisedRecord(p_stream, i, p_type, p_measured, p_nullVertex, record, old);
        if (size == 0 || size > end - 100) {
            p_stream->ok = false;
            tvRecordIOFailure("Cannot read back shape record : ", std::to_string(i));
            return false;
        }
        end -= size;
        unsigned char index[8];
        putBE32(index, static_cast<unsigned int>(end / 2));
        putBE32(index + 4, static_cast<unsigned int>((size - 8) / 2));
        if (!writeAt(p_stream->shp, end, p_stream->record.data(), size) ||
            !writeAt(p_stream->shx, 100 + 8ULL * static_cast<unsigned long long>(i), index, 8)) {
            p_stream->ok = false;
            return false;
        }
    }
    p_stream->shapeType = p_type;
    p_stream->measured = p_measured || isMType(p_type);
    p_stream->fileSize = total;
    // Appends continue at the ends of both files.
    p_stream->ok = g_hooks.FSeek(p_stream->shp, static_cast<SAOffset>(total), SEEK_SET) == 0 &&
                   g_hooks.FSeek(p_stream->shx, 100 + 8 * static_cast<SAOffset>(p_stream->records), SEEK_SET) == 0;
    return p_stream->ok;
}
