// Fuzzes the conversion of one SDO_GEOMETRY into one shape record: any
// gtype (all five families, their unused codes and outright bad ones), any
// element information and ordinates, NULLs anywhere, written into a
// shapefile whose type may or may not match the geometry, with or without a
// forced type and curve conversion at several arc limits. A geometry that
// cannot be converted must be refused (or written as a null shape with
// "ignore"), never crash, never trip shapelib's assertions; every record
// written reads back and holds only finite coordinates.
#include <occi.h>
#include <shapefil.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "diag/log.h"
#include "oracle/sdo.h"
#include "settings/settings.h"
#include "shape/gtype.h"
#include "shape/shape_writer.h"

using oracle::occi::Number;

namespace {

// Reads the fuzz input front to back; past its end everything is zero.
class Input {
public:
    Input(const uint8_t* p_data, size_t p_size) : data_(p_data), size_(p_size) {}
    uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    uint16_t u16() { return static_cast<uint16_t>(byte() | (byte() << 8)); }
    double f64() {
        uint64_t bits = 0;
        for (int i = 0; i < 8; ++i) bits |= static_cast<uint64_t>(byte()) << (8 * i);
        double d;
        std::memcpy(&d, &bits, sizeof d);
        return d;
    }
    bool more() const { return pos_ < size_; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

const int kShapeTypes[] = {SHPT_POINT,   SHPT_ARC,        SHPT_POLYGON,  SHPT_MULTIPOINT, SHPT_POINTZ,
                           SHPT_ARCZ,    SHPT_POLYGONZ,   SHPT_MULTIPOINTZ, SHPT_POINTM, SHPT_ARCM,
                           SHPT_POLYGONM, SHPT_MULTIPOINTM, SHPT_MULTIPATCH};
const int kShapeTypeCount = sizeof kShapeTypes / sizeof kShapeTypes[0];

// Every family's codes 0..9 (7 is collection; 8, 9 unused) and a few codes
// outside every family.
unsigned short pickGType(Input& p_in) {
    static const unsigned short kFamilies[] = {2000, 3300, 3000, 4400, 4000, 3100, 4300, 2200};
    static const unsigned short kOdd[] = {0, 1, 7, 1999, 2010, 3308, 4408, 5001, 9999, 65535};
    uint8_t b = p_in.byte();
    if (b < 224) return static_cast<unsigned short>(kFamilies[(b >> 3) % 8] + b % 10);
    return kOdd[b % 10];
}

// Element-info values: mostly the meaningful ones, sometimes anything.
Number pickElemInfo(Input& p_in) {
    static const int kUseful[] = {0, 1, 1, 1, 2, 3, 4, 5, 1003, 2003, 1005, 2005, 1006, 2006, 1007, 1, 2, 3, 4, 5, 6, 7,
                                  9, 11, 13, 2, 4};
    uint8_t b = p_in.byte();
    if (b < 200) return Number(kUseful[b % (sizeof kUseful / sizeof kUseful[0])]);
    if (b < 215) return Number(static_cast<int>(p_in.u16()) - 1000);
    if (b < 225) {
        Number n;
        n.setNull();
        return n;
    }
    if (b < 240) return Number(p_in.f64());
    return Number(static_cast<int>(static_cast<uint32_t>(p_in.u16()) << 16 | p_in.u16()));
}

Number pickOrdinate(Input& p_in) {
    uint8_t b = p_in.byte();
    if (b < 150) return Number(static_cast<double>(static_cast<int8_t>(p_in.byte())) / 4.0);
    if (b < 160) {
        Number n;
        n.setNull();
        return n;
    }
    if (b < 170) return Number(std::numeric_limits<double>::quiet_NaN());
    if (b < 175) return Number(std::numeric_limits<double>::infinity());
    if (b < 180) return Number(-std::numeric_limits<double>::infinity());
    return Number(p_in.f64());
}

Number pickNumber(Input& p_in, double p_value) {
    Number n(p_value);
    if (p_in.byte() % 5 == 0) n.setNull();
    return n;
}

std::string g_dir;

// Whatever was written must read back: every record of a closed file is
// one shapelib can read, of the file's type or null. A row that needs more
// raises the file's type (more dimensions, or a multipoint in a point
// file), so the type read back may be another than the one created.
void checkReadable(const std::string& p_name) {
    SHPHandle shp = SHPOpen(p_name.c_str(), "rb");
    if (shp == nullptr) std::abort();
    int records = 0, type = 0;
    SHPGetInfo(shp, &records, &type, nullptr, nullptr);
    if (!isKnownShapeType(type)) std::abort();
    for (int i = 0; i < records; ++i) {
        SHPObject* object = SHPReadObject(shp, i);
        if (object == nullptr) std::abort();
        if (object->nSHPType != type && object->nSHPType != SHPT_NULL) std::abort();
        for (int v = 0; v < object->nVertices; ++v) {
            if (!std::isfinite(object->padfX[v]) || !std::isfinite(object->padfY[v]) ||
                !std::isfinite(object->padfZ[v])) {
                std::abort();
            }
        }
        SHPDestroyObject(object);
    }
    SHPClose(shp);
}

// One writer per file type and setting ("ignore", forced type, arc limit),
// renewed now and then so that the files stay small and get read back.
struct OpenWriter {
    std::unique_ptr<tvShapeWriter> writer;
    std::string name;
    bool usable = false;
    int uses = 0;
};
std::map<int, OpenWriter> g_writers;

void closeWriter(OpenWriter& p_open) {
    if (!p_open.writer) return;
    bool closed = p_open.writer->closeShapeFile();
    p_open.writer.reset();
    if (closed && p_open.usable) checkReadable(p_open.name);
}

const char* const kArcLimits[] = {"", "1", "10", "45", "90"};

tvShapeWriter* writerFor(int p_shapeType, bool p_ignore, bool p_forced, int p_arcs) {
    int key = ((p_shapeType * 2 + (p_ignore ? 1 : 0)) * 2 + (p_forced ? 1 : 0)) * 5 + p_arcs;
    OpenWriter& open = g_writers[key];
    if (open.writer && ++open.uses > 500) closeWriter(open);
    if (!open.writer) {
        open.writer.reset(new tvShapeWriter());
        open.uses = 0;
        open.name = g_dir + "/t" + std::to_string(key);
        g_args["ignore"] = p_ignore ? "yes" : "";
        g_args["forcetype"] = p_forced ? std::to_string(p_shapeType) : std::string();
        g_args["arcs"] = kArcLimits[p_arcs];
        open.usable = open.writer->createShapeFile(open.name, static_cast<unsigned short>(p_shapeType),
                                                   std::vector<oracle::occi::MetaData>(), "GEOM", 0);
    }
    return open.usable ? open.writer.get() : nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // TARVEX_LOG_LEVEL=debug shows what the writer makes of an input.
    setLogLevel();
    if (std::getenv("TARVEX_LOG_LEVEL") == nullptr) g_log_level = LOG_SILENT;
    char pattern[] = "/tmp/tarvex_fuzz_geometry_XXXXXX";
    const char* dir = mkdtemp(pattern);
    if (dir == nullptr) std::abort();
    g_dir = dir;
    std::atexit([] {
        for (auto& entry : g_writers) closeWriter(entry.second);
        g_writers.clear();
        std::string cmd = "rm -rf '" + g_dir + "'";
        if (std::system(cmd.c_str()) != 0) {
        }
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* p_data, size_t p_size) {
    Input in(p_data, p_size);
    uint8_t setup = in.byte();
    uint8_t typeByte = in.byte();
    int shapeType = kShapeTypes[typeByte % kShapeTypeCount];
    bool ignore = (setup & 1) != 0;
    // Sometimes a forced shape type; sometimes curves converted.
    bool forced = (setup & 6) == 6;
    int arcs = (setup & 128) ? 1 + (typeByte / kShapeTypeCount) % 4 : 0;
    g_shp_null_vertex = (setup & 8) ? -9999.0 : 1e-306;
    tvShapeWriter* writer = writerFor(shapeType, ignore, forced, arcs);
    if (writer == nullptr) return 0;

    SDOGeometry* geometry = new SDOGeometry();
    unsigned short gtype = pickGType(in);
    geometry->setSdo_gtype((setup & 16) && (setup & 32) ? Number() : Number(static_cast<int>(gtype)));
    geometry->setSdo_srid(pickNumber(in, 8307));
    if (setup & 64) {
        SDOPointType* point = new SDOPointType();
        point->setX(pickNumber(in, static_cast<double>(static_cast<int8_t>(in.byte()))));
        point->setY(pickNumber(in, static_cast<double>(static_cast<int8_t>(in.byte()))));
        point->setZ(pickNumber(in, static_cast<double>(static_cast<int8_t>(in.byte()))));
        geometry->setSdo_point(point);
    }
    std::vector<Number> elemInfo(in.byte() % 24);
    for (Number& n : elemInfo) n = pickElemInfo(in);
    geometry->setSdo_elem_info(elemInfo);
    std::vector<Number> ordinates;
    while (in.more() && ordinates.size() < 4096) ordinates.push_back(pickOrdinate(in));
    geometry->setSdo_ordinates(ordinates);

    writer->writeShapeGeometry(geometry);
    delete geometry;
    return 0;
}
