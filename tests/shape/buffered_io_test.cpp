// The buffered shapelib file access: same bytes as shapelib's own stdio
// access, correct stream semantics over buffered data, and every I/O failure
// reported instead of lost.
#include "shape/buffered_io.h"

#include <gtest/gtest.h>
#include <shapefil.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "diag/log.h"

#include "shape/shape_test_util.h"
#include "shape/shp_stream.h"

namespace {

std::string makeTempDir() { return shapetest::makeTempDir("tarvex_bufio"); }

std::string readFile(const std::string& p_path) {
    std::ifstream in(p_path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

SAHooks defaultHooks() {
    SAHooks hooks;
    SASetupDefaultHooks(&hooks);
    return hooks;
}

void writeShape(SHPHandle p_shp, int p_id, int p_type, const std::vector<int>& p_parts, int p_n, double p_seed) {
    std::vector<double> x(p_n), y(p_n), z(p_n), m(p_n);
    for (int i = 0; i < p_n; ++i) {
        x[i] = p_seed + i * 0.5;
        y[i] = -p_seed + i * 0.25;
        z[i] = i * 1.5;
        m[i] = p_seed * i;
    }
    std::vector<int> types(p_parts.size(), SHPP_RING);
    SHPObject* obj = SHPCreateObject(p_type, -1, static_cast<int>(p_parts.size()),
                                     p_parts.empty() ? nullptr : p_parts.data(),
                                     types.empty() ? nullptr : types.data(), p_n, x.data(), y.data(), z.data(),
                                     m.data());
    ASSERT_NE(obj, nullptr);
    EXPECT_GE(SHPWriteObject(p_shp, p_id, obj), 0);
    SHPDestroyObject(obj);
}

void writeNull(SHPHandle p_shp) {
    SHPObject* obj = SHPCreateSimpleObject(SHPT_NULL, 0, nullptr, nullptr, nullptr);
    EXPECT_GE(SHPWriteObject(p_shp, -1, obj), 0);
    SHPDestroyObject(obj);
}

// Writes the same sequence of records through the given hooks: a point file,
// a PolygonZ file with multi-part shapes and nulls, and a DBF of every field
// type with NULLs, plus in-place rewrites of earlier records (which make
// shapelib read back what it wrote).
void writeSet(const std::string& p_base, SAHooks p_hooks, int p_rows) {
    SHPHandle pts = SHPCreateLL((p_base + "_pt").c_str(), SHPT_POINT, &p_hooks);
    ASSERT_NE(pts, nullptr);
    for (int i = 0; i < p_rows; ++i) {
        if (i % 17 == 5) {
            writeNull(pts);
        } else {
            writeShape(pts, -1, SHPT_POINT, {}, 1, i * 3.25);
        }
    }
    SHPClose(pts);

    SHPHandle pol = SHPCreateLL((p_base + "_pz").c_str(), SHPT_POLYGONZ, &p_hooks);
    ASSERT_NE(pol, nullptr);
    for (int i = 0; i < p_rows; ++i) {
        if (i % 7 == 3) {
            writeNull(pol);
        } else {
            int n = 4 + i % 23;
            std::vector<int> parts = {0};
            if (n > 8) parts.push_back(n / 2);
            if (n > 16) parts.push_back(n - 3);
            writeShape(pol, -1, SHPT_POLYGONZ, parts, n, i * 0.75);
        }
    }
    if (p_rows > 3) {
        // Same size in place, then bigger (moves to the end of the file).
        writeShape(pol, 1, SHPT_POLYGONZ, {0}, 5, 99.0);
        writeShape(pol, 2, SHPT_POLYGONZ, {0, 10}, 30, 77.0);
    }
    SHPClose(pol);

    DBFHandle dbf = DBFCreateLL((p_base + "_pt.dbf").c_str(), "LDID/87", &p_hooks);
    ASSERT_NE(dbf, nullptr);
    ASSERT_EQ(DBFAddField(dbf, "NAME", FTString, 20, 0), 0);
    ASSERT_EQ(DBFAddField(dbf, "COUNT", FTInteger, 10, 0), 1);
    ASSERT_EQ(DBFAddField(dbf, "VALUE", FTDouble, 19, 6), 2);
    ASSERT_EQ(DBFAddField(dbf, "DAY", FTDate, 8, 0), 3);
    for (int i = 0; i < p_rows; ++i) {
        if (i % 5 == 2) {
            DBFWriteNULLAttribute(dbf, i, 0);
        } else {
            DBFWriteStringAttribute(dbf, i, 0, ("name " + std::to_string(i)).c_str());
        }
        if (i % 9 == 4) {
            DBFWriteNULLAttribute(dbf, i, 1);
        } else {
            DBFWriteIntegerAttribute(dbf, i, 1, i * 37 - 500);
        }
        DBFWriteDoubleAttribute(dbf, i, 2, i / 3.0);
        if (i % 4 == 1) {
            DBFWriteNULLAttribute(dbf, i, 3);
        } else {
            DBFWriteIntegerAttribute(dbf, i, 3, 20240101 + i % 28);
        }
    }
    // Back to earlier records: shapelib loads them before changing a field.
    DBFWriteStringAttribute(dbf, 0, 0, "first again");
    if (p_rows > 3) DBFWriteIntegerAttribute(dbf, p_rows - 2, 1, 42);
    DBFWriteDoubleAttribute(dbf, p_rows, 2, 1.5);  // one more at the end
    DBFClose(dbf);
}

void expectSameSets(const std::string& p_a, const std::string& p_b) {
    for (const char* suffix : {"_pt.shp", "_pt.shx", "_pt.dbf", "_pz.shp", "_pz.shx"}) {
        std::string a = readFile(p_a + suffix);
        std::string b = readFile(p_b + suffix);
        EXPECT_FALSE(a.empty()) << suffix;
        EXPECT_TRUE(a == b) << suffix << ": " << a.size() << " vs " << b.size() << " bytes";
    }
}

class BufferedIOTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = makeTempDir();
        ASSERT_FALSE(dir_.empty());
        tvResetIOErrors();
        tvFailWritesAfter(-1);
        tvSetBufferedIOCapacity(0);
    }
    void TearDown() override {
        tvFailWritesAfter(-1);
        tvSetBufferedIOCapacity(0);
        tvResetIOErrors();
        std::string cmd = "rm -rf '" + dir_ + "'";
        EXPECT_EQ(std::system(cmd.c_str()), 0);
    }
    std::string dir_;
};

TEST_F(BufferedIOTest, OutputIsByteIdenticalToShapelibDefaultAccess) {
    // The default 1 MiB window, and tiny windows that force flushes, joins
    // and straddling reads everywhere.
    for (size_t capacity : {size_t(0), size_t(1), size_t(37), size_t(4096)}) {
        for (int rows : {0, 1, 3000}) {
            SCOPED_TRACE("capacity " + std::to_string(capacity) + ", rows " + std::to_string(rows));
            tvSetBufferedIOCapacity(capacity);
            std::string tag = std::to_string(capacity) + "_" + std::to_string(rows);
            writeSet(dir_ + "/ref" + tag, defaultHooks(), rows);
            writeSet(dir_ + "/buf" + tag, tvBufferedHooks(), rows);
            expectSameSets(dir_ + "/ref" + tag, dir_ + "/buf" + tag);
        }
    }
    EXPECT_FALSE(tvIOFailed()) << tvLastIOError();
}

// Random operations on one file through both kinds of hooks: every return
// value and the final content must agree with stdio.
TEST_F(BufferedIOTest, StreamSemanticsMatchStdio) {
    std::mt19937 rng(1234);
    for (size_t capacity : {size_t(16), size_t(100), size_t(0)}) {
        tvSetBufferedIOCapacity(capacity);
        SAHooks ref = defaultHooks();
        SAHooks buf = tvBufferedHooks();
        std::string refPath = dir_ + "/ref.bin", bufPath = dir_ + "/buf.bin";
        SAFile r = ref.FOpen(refPath.c_str(), "wb+");
        SAFile b = buf.FOpen(bufPath.c_str(), "wb+");
        ASSERT_NE(r, nullptr);
        ASSERT_NE(b, nullptr);
        for (int step = 0; step < 4000; ++step) {
            SCOPED_TRACE("capacity " + std::to_string(capacity) + ", step " + std::to_string(step));
            int op = static_cast<int>(rng() % 10);
            // stdio wants a positioning call between reads and writes.
            ASSERT_EQ(ref.FSeek(r, 0, SEEK_CUR), buf.FSeek(b, 0, SEEK_CUR));
            if (op < 4) {
                size_t n = 1 + rng() % (op == 0 ? 300 : 40);
                std::vector<char> data(n);
                for (char& c : data) c = static_cast<char>(rng());
                SAOffset size = (n % 4 == 0) ? 4 : 1;
                ASSERT_EQ(ref.FWrite(data.data(), size, n / size, r), buf.FWrite(data.data(), size, n / size, b));
            } else if (op < 7) {
                size_t n = 1 + rng() % 120;
                std::vector<char> x(n, 'x'), y(n, 'y');
                SAOffset got = ref.FRead(x.data(), 1, n, r);
                ASSERT_EQ(got, buf.FRead(y.data(), 1, n, b));
                ASSERT_EQ(std::string(x.data(), got), std::string(y.data(), got));
            } else if (op < 9) {
                int whence = static_cast<int>(rng() % 3);
                long offset = static_cast<long>(rng() % 600) - (whence == SEEK_SET ? 0 : 300);
                SAOffset end = buf.FTell(b);
                if (whence == SEEK_CUR && static_cast<long>(end) + offset < 0) offset = 0;
                if (whence == SEEK_END && offset < -200) offset = 0;  // may be before 0 otherwise
                ASSERT_EQ(ref.FSeek(r, static_cast<SAOffset>(offset), whence),
                          buf.FSeek(b, static_cast<SAOffset>(offset), whence));
            } else {
                ASSERT_EQ(ref.FFlush(r), buf.FFlush(b));
            }
            ASSERT_EQ(ref.FTell(r), buf.FTell(b));
        }
        ASSERT_EQ(ref.FClose(r), 0);
        ASSERT_EQ(buf.FClose(b), 0);
        EXPECT_TRUE(readFile(refPath) == readFile(bufPath));
    }
    EXPECT_FALSE(tvIOFailed()) << tvLastIOError();
}

TEST_F(BufferedIOTest, FullDiskFailsLoudlyWithoutAbort) {
    // Every system write fails as on a full disk.
    tvFailWritesAfter(0);
    SAHooks hooks = tvBufferedHooks();
    SHPHandle shp = SHPCreateLL((dir_ + "/full").c_str(), SHPT_POINT, &hooks);
    if (shp != nullptr) {
        writeShape(shp, -1, SHPT_POINT, {}, 1, 1.0);
        SHPClose(shp);
    }
    EXPECT_TRUE(tvIOFailed());
    EXPECT_NE(tvLastIOError().find("No space left on device"), std::string::npos) << tvLastIOError();
    EXPECT_NE(tvLastIOError().find("full.shp"), std::string::npos) << tvLastIOError();
    EXPECT_NE(getLastError().find("full.shp"), std::string::npos) << "logged at LOG_ERROR";
    tvFailWritesAfter(-1);

    tvResetIOErrors();
    EXPECT_FALSE(tvIOFailed());
    EXPECT_EQ(tvLastIOError(), "");
}

TEST_F(BufferedIOTest, FailureInTheMiddleOfAnExportIsReportedAndSticky) {
    tvSetBufferedIOCapacity(256);
    SAHooks hooks = tvBufferedHooks();
    std::string base = dir_ + "/mid";
    SHPHandle shp = SHPCreateLL(base.c_str(), SHPT_POINT, &hooks);
    DBFHandle dbf = DBFCreateLL((base + ".dbf").c_str(), "LDID/87", &hooks);
    ASSERT_NE(shp, nullptr);
    ASSERT_NE(dbf, nullptr);
    ASSERT_EQ(DBFAddField(dbf, "N", FTInteger, 10, 0), 0);
    ASSERT_FALSE(tvIOFailed());
    tvFailWritesAfter(20);
    int refused = 0;
    for (int i = 0; i < 500; ++i) {
        double x = i, y = -i;
        SHPObject* obj = SHPCreateSimpleObject(SHPT_POINT, 1, &x, &y, nullptr);
        if (SHPWriteObject(shp, -1, obj) < 0) ++refused;
        SHPDestroyObject(obj);
        if (!DBFWriteIntegerAttribute(dbf, i, 0, i)) ++refused;
    }
    SHPClose(shp);
    DBFClose(dbf);
    tvFailWritesAfter(-1);
    EXPECT_TRUE(tvIOFailed());
    EXPECT_GT(refused, 0) << "writes after a lost block are refused, so shapelib sees them fail";
    EXPECT_EQ(tvLastIOError().rfind("Cannot write to file : ", 0), 0u) << tvLastIOError();
    EXPECT_NE(tvLastIOError().find("No space left on device"), std::string::npos);
}

TEST_F(BufferedIOTest, OpenFailuresAndShapelibMessagesAreRecorded) {
    SAHooks hooks = tvBufferedHooks();
    // A directory under a regular file can never exist.
    std::ofstream(dir_ + "/plain") << "x";
    EXPECT_EQ(SHPCreateLL((dir_ + "/plain/x").c_str(), SHPT_POINT, &hooks), nullptr);
    EXPECT_TRUE(tvIOFailed());
    EXPECT_NE(tvLastIOError().find(dir_ + "/plain/x.shp"), std::string::npos) << tvLastIOError();
    EXPECT_NE(tvLastIOError().find("Not a directory"), std::string::npos) << tvLastIOError();

    // A refusal inside shapelib comes through the Error hook.
    tvResetIOErrors();
    DBFHandle dbf = DBFCreateLL((dir_ + "/wide.dbf").c_str(), "LDID/87", &hooks);
    ASSERT_NE(dbf, nullptr);
    EXPECT_FALSE(tvIOFailed()) << tvLastIOError() << " (a missing .cpg is not a failure)";
    int added = 0;
    for (int i = 0; i < 300 && DBFAddField(dbf, ("F" + std::to_string(i)).c_str(), FTString, 255, 0) >= 0; ++i) {
        ++added;
    }
    DBFClose(dbf);
    EXPECT_LT(added, 300);
    EXPECT_TRUE(tvIOFailed());
    EXPECT_EQ(tvLastIOError().rfind("Shapefile library error : Cannot add field", 0), 0u) << tvLastIOError();

    // Closing or writing nothing is harmless.
    EXPECT_NE(hooks.FClose(nullptr), 0);
    EXPECT_EQ(hooks.FWrite(nullptr, 1, 1, nullptr), 0u);
    EXPECT_EQ(hooks.Atof("2.5e3"), 2500.0);
}

}  // namespace

namespace {

// Random objects of one file's type, with null shapes mixed in.
SHPObject* randomObject(std::mt19937& p_rng, int p_type) {
    int kind = static_cast<int>(p_rng() % 10);
    if (kind == 0) return SHPCreateSimpleObject(SHPT_NULL, 0, nullptr, nullptr, nullptr);
    bool point = p_type == SHPT_POINT || p_type == SHPT_POINTZ || p_type == SHPT_POINTM;
    int n = point ? 1 : static_cast<int>(p_rng() % 40);
    int parts = (point || p_type == SHPT_MULTIPOINT || p_type == SHPT_MULTIPOINTZ || p_type == SHPT_MULTIPOINTM)
                    ? 0
                    : (n == 0 ? static_cast<int>(p_rng() % 2) : 1 + static_cast<int>(p_rng() % 3));
    std::vector<double> x(n), y(n), z(n), m(n);
    for (int i = 0; i < n; ++i) {
        x[i] = static_cast<double>(static_cast<int>(p_rng() % 20001) - 10000) / 7.0;
        if (p_rng() % 500 == 0) x[i] = std::nan("");  // shapelib's bounds take it in
        y[i] = static_cast<double>(static_cast<int>(p_rng() % 20001) - 10000) / 3.0;
        z[i] = static_cast<double>(p_rng() % 1000) - 500.0;
        if (p_rng() % 300 == 0) z[i] = std::nan("");
        m[i] = static_cast<double>(p_rng() % 100) * 0.5;
        // Either zero may be the bound kept: the last one reaching it.
        if (p_rng() % 8 == 0) y[i] = m[i] = p_rng() % 2 == 0 ? 0.0 : -0.0;
    }
    std::vector<int> starts(parts), types(parts);
    for (int i = 0; i < parts; ++i) {
        starts[i] = n == 0 ? 0 : (i * n) / parts;
        types[i] = static_cast<int>(p_rng() % 6);
    }
    bool withM = kind % 2 == 0;  // Z types: measures used or not
    return SHPCreateObject(p_type, -1, parts, parts ? starts.data() : nullptr, parts ? types.data() : nullptr, n,
                           n ? x.data() : nullptr, n ? y.data() : nullptr, n ? z.data() : nullptr,
                           (withM && n) ? m.data() : nullptr);
}

TEST_F(BufferedIOTest, ShapeStreamWritesWhatShapelibWrites) {
    const int types[] = {SHPT_POINT,  SHPT_ARC,      SHPT_POLYGON,     SHPT_MULTIPOINT, SHPT_POINTZ,
                         SHPT_ARCZ,   SHPT_POLYGONZ, SHPT_MULTIPOINTZ, SHPT_POINTM,     SHPT_ARCM,
                         SHPT_POLYGONM, SHPT_MULTIPOINTM, SHPT_MULTIPATCH};
    std::mt19937 rng(99);
    for (int type : types) {
        for (int records : {0, 1, 2, 700}) {
            SCOPED_TRACE("type " + std::to_string(type) + ", records " + std::to_string(records));
            std::string ref = dir_ + "/ref_" + std::to_string(type) + "_" + std::to_string(records);
            std::string str = dir_ + "/str_" + std::to_string(type) + "_" + std::to_string(records);
            // tvShpWriteShape computes the bounds the objects carry.
            std::string computed = dir_ + "/cmp_" + std::to_string(type) + "_" + std::to_string(records);
            SAHooks hooks = defaultHooks();
            SHPHandle shp = SHPCreateLL(ref.c_str(), type, &hooks);
            tvShpStream* stream = tvShpCreate(str + ".shp", type);
            tvShpStream* shapes = tvShpCreate(computed + ".shp", type);
            ASSERT_NE(shp, nullptr);
            ASSERT_NE(stream, nullptr);
            ASSERT_NE(shapes, nullptr);
            EXPECT_EQ(tvShpShapeType(stream), type);
            for (int i = 0; i < records; ++i) {
                // Two records: a null shape, or a shape at the origin, first;
                // shapelib then takes the second one's bounds as the first.
                SHPObject* obj = randomObject(rng, type);
                if (records == 2 && i == 0) {
                    for (int v = 0; v < obj->nVertices; ++v) obj->padfX[v] = obj->padfY[v] = 0.0;
                    SHPComputeExtents(obj);
                    if (type % 2 == 1) {
                        SHPDestroyObject(obj);
                        obj = SHPCreateSimpleObject(SHPT_NULL, 0, nullptr, nullptr, nullptr);
                    }
                }
                ASSERT_EQ(SHPWriteObject(shp, -1, obj), tvShpWriteObject(stream, obj));
                obj->dfXMin = obj->dfYMax = obj->dfZMin = obj->dfMMax = 12345.0;  // not read
                ASSERT_EQ(tvShpWriteShape(shapes, obj), i);
                SHPDestroyObject(obj);
            }
            EXPECT_EQ(tvShpRecordCount(stream), records);
            SHPClose(shp);
            EXPECT_TRUE(tvShpClose(stream));
            EXPECT_TRUE(tvShpClose(shapes));
            for (const char* ext : {".shp", ".shx"}) {
                std::string a = readFile(ref + ext), b = readFile(str + ext), c = readFile(computed + ext);
                EXPECT_FALSE(a.empty());
                EXPECT_TRUE(a == b) << ext << ": " << a.size() << " vs " << b.size() << " bytes";
                EXPECT_TRUE(a == c) << ext << " (computed bounds): " << a.size() << " vs " << c.size() << " bytes";
            }
        }
    }
    EXPECT_FALSE(tvIOFailed()) << tvLastIOError();
}

// The file's bounds from records whose own bounds were computed as they were
// encoded: shapelib's to the bit, with zeros of either sign at the extremes
// (the last one reaching it is kept), NaNs and infinities among the values.
TEST_F(BufferedIOTest, ComputedBoundsWidenTheFilesAsShapelibs) {
    const double nan = std::nan(""), inf = HUGE_VAL;
    const std::vector<std::vector<double>> cases[] = {
        {{1, 0.0}, {2, -0.0}},          {{1, -0.0}, {2, 0.0, -0.0}, {3, 0.0}}, {{-0.0, 1}, {0.0}, {2}},
        {{1, nan, 2}, {nan, 5}, {0.5}}, {{1, 2}, {3, nan}},                    {{1, 2}, {3, nan}, {-0.0, 4}},
        {{1, inf}, {-inf, 0.0}},        {{1e308, 1e308, -0.0}, {0.0, 2}}};
    for (size_t c = 0; c < sizeof cases / sizeof cases[0]; ++c) {
        const std::string ref = dir_ + "/ref" + std::to_string(c), ours = dir_ + "/ours" + std::to_string(c);
        SAHooks hooks = defaultHooks();
        SHPHandle shp = SHPCreateLL(ref.c_str(), SHPT_ARCZ, &hooks);
        tvShpStream* stream = tvShpCreate(ours, SHPT_ARCZ);
        ASSERT_NE(shp, nullptr);
        ASSERT_NE(stream, nullptr);
        for (std::vector<double> v : cases[c]) {  // the values of X, Y, Z and M alike
            const int n = static_cast<int>(v.size());
            SHPObject* obj = SHPCreateSimpleObject(SHPT_ARCZ, n, v.data(), v.data(), v.data());
            std::memcpy(obj->padfM, v.data(), v.size() * sizeof(double));
            obj->bMeasureIsUsed = 1;
            SHPComputeExtents(obj);
            SHPWriteObject(shp, -1, obj);
            tvShpWriteShape(stream, obj);
            SHPDestroyObject(obj);
        }
        SHPClose(shp);
        EXPECT_TRUE(tvShpClose(stream));
        EXPECT_EQ(readFile(ref + ".shp"), readFile(ours + ".shp")) << "case " << c;
    }
}

TEST_F(BufferedIOTest, ShapeStreamRefusesWhatShapelibWouldAbortOn) {
    tvShpStream* stream = tvShpCreate(dir_ + "/refuse", SHPT_POLYGON);
    ASSERT_NE(stream, nullptr);
    double x[] = {0, 1, 1, 0}, y[] = {0, 0, 1, 0};
    SHPObject* line = SHPCreateSimpleObject(SHPT_ARC, 4, x, y, nullptr);
    EXPECT_EQ(tvShpWriteObject(stream, line), -1) << "another type than the file's";
    SHPDestroyObject(line);
    SHPObject* ring = SHPCreateSimpleObject(SHPT_POLYGON, 4, x, y, nullptr);
    EXPECT_EQ(tvShpWriteObject(stream, ring), 0);
    SHPDestroyObject(ring);
    EXPECT_EQ(tvShpRecordCount(stream), 1);
    EXPECT_TRUE(tvShpClose(stream));

    stream = tvShpCreate(dir_ + "/emptypoint.shp", SHPT_POINT);
    ASSERT_NE(stream, nullptr);
    SHPObject* empty = SHPCreateSimpleObject(SHPT_POINT, 0, nullptr, nullptr, nullptr);
    EXPECT_EQ(tvShpWriteObject(stream, empty), -1) << "a point without its vertex";
    SHPDestroyObject(empty);
    EXPECT_TRUE(tvShpClose(stream));
    EXPECT_EQ(readFile(dir_ + "/emptypoint.shp").size(), 100u);

    EXPECT_EQ(tvShpCreate(dir_ + "/badtype", 2), nullptr);
    EXPECT_EQ(tvShpCreate(dir_ + "/no/dir/x", SHPT_POINT), nullptr);
    EXPECT_TRUE(tvIOFailed());
}

TEST_F(BufferedIOTest, ShapeStreamReportsAFullDisk) {
    // The two headers fit in the write buffers; the first write of the
    // .shx to the disk fails.
    tvFailWritesAfter(1);
    tvShpStream* stream = tvShpCreate(dir_ + "/full", SHPT_POINT);
    ASSERT_NE(stream, nullptr);  // the first bytes are still in memory
    double x = 1, y = 2;
    SHPObject* obj = SHPCreateSimpleObject(SHPT_POINT, 1, &x, &y, nullptr);
    tvShpWriteObject(stream, obj);
    SHPDestroyObject(obj);
    EXPECT_FALSE(tvShpClose(stream));
    EXPECT_TRUE(tvIOFailed());
    EXPECT_NE(tvLastIOError().find("(No space left on device)"), std::string::npos) << tvLastIOError();
    tvFailWritesAfter(-1);
}

TEST_F(BufferedIOTest, SymbolicLinksAreNeverWrittenThrough) {
    // A link at the name, dangling or not, refuses the open; its target
    // keeps its bytes and no file appears where a dangling link points.
    const std::string victim = dir_ + "/victim.txt";
    {
        std::ofstream out(victim);
        out << "keep";
    }
    ASSERT_EQ(symlink(victim.c_str(), (dir_ + "/linked.dbf").c_str()), 0);
    ASSERT_EQ(symlink((dir_ + "/nowhere").c_str(), (dir_ + "/dangling.dbf").c_str()), 0);
    SAHooks hooks = tvBufferedHooks();
    for (const char* mode : {"wb", "rb+", "ab"}) {
        EXPECT_EQ(hooks.FOpen((dir_ + "/linked.dbf").c_str(), mode), nullptr) << mode;
        EXPECT_EQ(hooks.FOpen((dir_ + "/dangling.dbf").c_str(), mode), nullptr) << mode;
    }
    EXPECT_TRUE(tvIOFailed());
    EXPECT_EQ(readFile(victim), "keep");
    EXPECT_NE(access((dir_ + "/nowhere").c_str(), F_OK), 0);
}

}  // namespace

// The bounds of a record are shapelib's to the bit, NaN vertices included
// (its MIN/MAX let a NaN replace a bound and the next vertex replace it).
TEST(ShapeExtents, SameAsShapelibsToTheBit) {
    std::mt19937 random(7);
    std::uniform_real_distribution<double> coordinate(-1e6, 1e6);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (int round = 0; round < 200; ++round) {
        const int n = 1 + static_cast<int>(random() % 40);
        std::vector<double> c[4];
        for (std::vector<double>& v : c) {
            for (int i = 0; i < n; ++i) v.push_back(random() % 7 == 0 ? nan : coordinate(random));
        }
        SHPObject ours;
        std::memset(&ours, 0, sizeof ours);
        ours.nVertices = n;
        ours.padfX = c[0].data();
        ours.padfY = c[1].data();
        ours.padfZ = c[2].data();
        ours.padfM = c[3].data();
        SHPObject theirs = ours;
        tvComputeExtents(&ours);
        SHPComputeExtents(&theirs);
        const double* a[8] = {&ours.dfXMin, &ours.dfYMin, &ours.dfZMin, &ours.dfMMin,
                              &ours.dfXMax, &ours.dfYMax, &ours.dfZMax, &ours.dfMMax};
        const double* b[8] = {&theirs.dfXMin, &theirs.dfYMin, &theirs.dfZMin, &theirs.dfMMin,
                              &theirs.dfXMax, &theirs.dfYMax, &theirs.dfZMax, &theirs.dfMMax};
        for (int k = 0; k < 8; ++k) {
            ASSERT_EQ(std::memcmp(a[k], b[k], sizeof(double)), 0) << "round " << round << " bound " << k;
        }
    }
}
