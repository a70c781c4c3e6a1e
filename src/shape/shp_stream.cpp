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
    int records = 0;
    unsigned long long fileSize = 100;  // of the .shp
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
    stream->shp = g_hooks.FOpen((base + ".shp").c_str(), "wb");
    if (stream->shp != nullptr) stream->shx = g_hooks.FOpen((base + ".shx").c_str(), "wb");
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

int tvShpWriteObject(tvShpStream* p_stream, const SHPObject* p_object) {
    if (p_stream == nullptr || p_object == nullptr || !p_stream->ok) return -1;
    if (p_object->nSHPType != p_stream->shapeType && p_object->nSHPType != SHPT_NULL) return -1;
    size_t size = encodeRecord(p_stream->record, p_object, p_stream->records + 1);
    if (size == 0) return -1;
    // Offsets and lengths are counted in 16-bit words of 32 bits.
    if (p_stream->fileSize + size > 0xffffffffULL || p_stream->records == 0x7fffffff) {
        tvRecordIOFailure("Cannot write shape record, the .shp file would exceed 4 GB : ",
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
    ok = g_hooks.FSeek(p_stream->shp, 0, SEEK_SET) == 0 && writeAll(p_stream->shp, header, 100) && ok;
    makeHeader(header, p_stream, 100 + 8ULL * static_cast<unsigned long long>(p_stream->records));
    ok = g_hooks.FSeek(p_stream->shx, 0, SEEK_SET) == 0 && writeAll(p_stream->shx, header, 100) && ok;
    ok = g_hooks.FClose(p_stream->shp) == 0 && ok;
    ok = g_hooks.FClose(p_stream->shx) == 0 && ok;
    delete p_stream;
    return ok;
}
