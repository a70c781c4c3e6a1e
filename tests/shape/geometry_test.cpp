// Conversion of geometries into shape records, read back with shapelib and,
// for polygons, checked with GDAL.
#include <gtest/gtest.h>
#include <shapefil.h>

#include <cmath>
#include <limits>
#include <random>
#include <sstream>

#include "diag/log.h"
#include "shape/buffered_io.h"
#include "shape/shape_test_util.h"
#include "shape/shape_writer.h"

using namespace shapetest;

namespace {

// A writer on a fresh file set of one shape type, with no attribute fields.
class ShapeFile {
public:
    explicit ShapeFile(int p_type, const std::string& p_name = "shapes") {
        _base = makeTempDir() + "/" + p_name;
        _ok = _writer.createShapeFile(_base, static_cast<unsigned short>(p_type), {}, "GEOM", -1);
    }
    ~ShapeFile() { closeRead(); }

    bool ok() const { return _ok; }
    const std::string& base() const { return _base; }
    tvShapeWriter& writer() { return _writer; }
    bool write(SDOGeometry* p_geometry) { return _writer.writeShapeGeometry(p_geometry); }
    // The whole row: shape and attribute record.
    bool record(SDOGeometry* p_geometry) { return _writer.writeShapeRecord(p_geometry, &_rows); }

    // Closes the writer and opens the .shp for reading.
    SHPHandle read() {
        if (_read == nullptr) {
            EXPECT_TRUE(_writer.closeShapeFile());
            _read = SHPOpen((_base + ".shp").c_str(), "rb");
        }
        return _read;
    }
    int count() {
        int entities = 0;
        SHPGetInfo(read(), &entities, nullptr, nullptr, nullptr);
        return entities;
    }
    // Record p_index, destroyed with the file.
    SHPObject* object(int p_index) {
        SHPObject* shape = SHPReadObject(read(), p_index);
        if (shape != nullptr) _objects.emplace_back(shape, SHPDestroyObject);
        return shape;
    }

private:
    void closeRead() {
        _objects.clear();
        if (_read != nullptr) SHPClose(_read);
        _read = nullptr;
    }
    std::string _base;
    tvShapeWriter _writer;
    bool _ok = false;
    SHPHandle _read = nullptr;
    ScriptedResultSet _rows{{}};
    std::vector<std::unique_ptr<SHPObject, void (*)(SHPObject*)>> _objects;
};

std::vector<double> xs(const SHPObject* p_shape) {
    return std::vector<double>(p_shape->padfX, p_shape->padfX + p_shape->nVertices);
}
std::vector<double> ys(const SHPObject* p_shape) {
    return std::vector<double>(p_shape->padfY, p_shape->padfY + p_shape->nVertices);
}
std::vector<double> zs(const SHPObject* p_shape) {
    return std::vector<double>(p_shape->padfZ, p_shape->padfZ + p_shape->nVertices);
}
std::vector<double> ms(const SHPObject* p_shape) {
    return std::vector<double>(p_shape->padfM, p_shape->padfM + p_shape->nVertices);
}
std::vector<int> partStarts(const SHPObject* p_shape) {
    return std::vector<int>(p_shape->panPartStart, p_shape->panPartStart + p_shape->nParts);
}
std::vector<int> partTypes(const SHPObject* p_shape) {
    return std::vector<int>(p_shape->panPartType, p_shape->panPartType + p_shape->nParts);
}

// Oracle's orientation: exterior counter-clockwise, hole clockwise.
const std::vector<double> SQUARE_CCW = {0, 0, 10, 0, 10, 10, 0, 10, 0, 0};
const std::vector<double> HOLE_CW = {2, 2, 2, 4, 4, 4, 4, 2, 2, 2};

std::vector<double> concat(std::initializer_list<std::vector<double>> p_parts) {
    std::vector<double> out;
    for (const std::vector<double>& part : p_parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

std::vector<double> shifted(const std::vector<double>& p_ring, double p_dx) {
    std::vector<double> out = p_ring;
    for (size_t i = 0; i < out.size(); i += 2) out[i] += p_dx;
    return out;
}

// Twice the signed area of part p_part (positive: counter-clockwise).
double partArea(const SHPObject* p_shape, int p_part) {
    int begin = p_shape->panPartStart[p_part];
    int end = p_part + 1 < p_shape->nParts ? p_shape->panPartStart[p_part + 1] : p_shape->nVertices;
    double area = 0;
    for (int i = begin; i + 1 < end; ++i) {
        area += p_shape->padfX[i] * p_shape->padfY[i + 1] - p_shape->padfX[i + 1] * p_shape->padfY[i];
    }
    return area;
}

}  // namespace

TEST(GeometryConversion, NullShapeAndPointPaths) {
    SettingsGuard settings;
    ShapeFile file(SHPT_POINT);
    ASSERT_TRUE(file.ok());
    g_log_level = LOG_DETAILED;
    testing::internal::CaptureStdout();
    EXPECT_TRUE(file.write(nullptr));
    std::string out = testing::internal::GetCapturedStdout();
    g_log_level = LOG_BASIC;
    EXPECT_NE(out.find("[DETAILED] Written shape id of : 0\n"), std::string::npos) << out;

    GeometryHolder fromPoint = pointGeometry(2001, 10, 20, NUL);
    EXPECT_TRUE(file.write(fromPoint.get()));
    // SDO_POINT unusable (NULL Y): the ordinates give the point.
    GeometryHolder fromOrdinates = geometry(2001, {1, 1, 1}, {5, 6});
    SDOPointType* partial = newPoint();
    partial->setX(num(1));
    fromOrdinates->setSdo_point(partial);
    EXPECT_TRUE(file.write(fromOrdinates.get()));

    ASSERT_EQ(file.count(), 3);
    EXPECT_EQ(file.object(0)->nSHPType, SHPT_NULL);
    SHPObject* p = file.object(1);
    EXPECT_EQ(p->nSHPType, SHPT_POINT);
    EXPECT_EQ(xs(p), std::vector<double>({10}));
    EXPECT_EQ(ys(p), std::vector<double>({20}));
    EXPECT_EQ(xs(file.object(2)), std::vector<double>({5}));
    EXPECT_EQ(ys(file.object(2)), std::vector<double>({6}));

    ShapeFile pointZ(SHPT_POINTZ);
    GeometryHolder p3 = pointGeometry(3001, 1, 2, 3);
    EXPECT_TRUE(pointZ.write(p3.get()));
    EXPECT_EQ(pointZ.object(0)->nSHPType, SHPT_POINTZ);
    EXPECT_EQ(zs(pointZ.object(0)), std::vector<double>({3}));

    // A NULL measure becomes the M-null value.
    g_shp_null_vertex = -9999;
    ShapeFile pointM(SHPT_POINTM);
    GeometryHolder measured = geometry(3301, {1, 1, 1}, {1, 2, NUL});
    GeometryHolder measured2 = geometry(3301, {1, 1, 1}, {4, 5, 6.5});
    EXPECT_TRUE(pointM.write(measured.get()));
    EXPECT_TRUE(pointM.write(measured2.get()));
    EXPECT_EQ(pointM.object(0)->nSHPType, SHPT_POINTM);
    EXPECT_EQ(ms(pointM.object(0)), std::vector<double>({-9999}));
    EXPECT_EQ(ms(pointM.object(1)), std::vector<double>({6.5}));
}

TEST(GeometryConversion, ClustersAndLines) {
    SettingsGuard settings;
    ShapeFile multi(SHPT_MULTIPOINT);
    GeometryHolder cluster = geometry(2005, {1, 1, 3}, {1, 2, 3, 4, 5, 6});
    // 2DM cluster into the plain multipoint type: the measures are dropped.
    GeometryHolder clusterM = geometry(3305, {1, 1, 2}, {1, 2, 9, 3, 4, 9});
    // A multipoint stored as single-point elements keeps all of its points.
    GeometryHolder separate = geometry(2005, {1, 1, 1, 3, 1, 1, 5, 1, 1}, {7, 8, 9, 10, 11, 12});
    EXPECT_TRUE(multi.write(cluster.get()));
    EXPECT_TRUE(multi.write(clusterM.get()));
    EXPECT_TRUE(multi.write(separate.get()));
    EXPECT_EQ(xs(multi.object(0)), std::vector<double>({1, 3, 5}));
    EXPECT_EQ(ys(multi.object(0)), std::vector<double>({2, 4, 6}));
    EXPECT_EQ(xs(multi.object(1)), std::vector<double>({1, 3}));
    EXPECT_EQ(ys(multi.object(1)), std::vector<double>({2, 4}));
    EXPECT_EQ(xs(multi.object(2)), std::vector<double>({7, 9, 11}));

    ShapeFile line(SHPT_ARC);
    GeometryHolder twoParts =
        geometry(2006, {1, 2, 1, 7, 2, 1}, {0, 0, 1, 1, 2, 2, 10, 10, 11, 11, 12, 12});
    g_log_level = LOG_DEBUG;
    testing::internal::CaptureStdout();
    EXPECT_TRUE(line.write(twoParts.get()));
    std::string out = testing::internal::GetCapturedStdout();
    g_log_level = LOG_BASIC;
    EXPECT_NE(out.find("Number of parts to line 2\n"), std::string::npos) << out;
    EXPECT_NE(out.find("Number of segments in entire line 6\n"), std::string::npos) << out;
    // A later arc element refuses the whole line.
    GeometryHolder laterArc = geometry(2006, {1, 2, 1, 5, 2, 2}, {0, 0, 1, 1, 2, 2, 3, 3, 4, 4});
    testing::internal::CaptureStdout();
    EXPECT_FALSE(line.write(laterArc.get()));
    out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("[ERROR] Unsupported interpretation for line type : 2\n"), std::string::npos) << out;
    SHPObject* arc = line.object(0);
    EXPECT_EQ(arc->nSHPType, SHPT_ARC);
    EXPECT_EQ(partStarts(arc), std::vector<int>({0, 3}));
    EXPECT_EQ(xs(arc), std::vector<double>({0, 1, 2, 10, 11, 12}));

    ShapeFile lineZM(SHPT_ARCZ);
    GeometryHolder zm = geometry(4402, {1, 2, 1}, {0, 0, 5, 100, 3, 4, 6, NUL});
    g_shp_null_vertex = -1;
    EXPECT_TRUE(lineZM.write(zm.get()));
    SHPObject* arcZ = lineZM.object(0);
    EXPECT_EQ(arcZ->nSHPType, SHPT_ARCZ);
    EXPECT_EQ(zs(arcZ), std::vector<double>({5, 6}));
    EXPECT_EQ(ms(arcZ), std::vector<double>({100, -1}));
}

TEST(GeometryConversion, PolygonRingsAreWrittenClockwiseWithCounterClockwiseHoles) {
    SettingsGuard settings;
    ShapeFile file(SHPT_POLYGON, "polys");
    GeometryHolder withHole =
        geometry(2003, {1, 1003, 1, 11, 2003, 1}, concat({SQUARE_CCW, HOLE_CW}));
    // Two polygons with holes, stored clockwise / counter-clockwise the other
    // way round: the orientation is fixed whatever the database holds.
    std::vector<double> exteriorCW = {0, 0, 0, 10, 10, 10, 10, 0, 0, 0};
    std::vector<double> holeCCW = {2, 2, 4, 2, 4, 4, 2, 4, 2, 2};
    GeometryHolder multi = geometry(
        2007, {1, 1003, 1, 11, 2003, 1, 21, 1003, 1, 31, 2003, 1},
        concat({SQUARE_CCW, HOLE_CW, shifted(exteriorCW, 20), shifted(holeCCW, 20)}));
    // Rings of element type 3: the roles come from nesting.
    GeometryHolder etype3 =
        geometry(2003, {1, 3, 1, 11, 3, 1}, concat({exteriorCW, holeCCW}));
    ASSERT_TRUE(file.record(withHole.get()));
    ASSERT_TRUE(file.record(multi.get()));
    ASSERT_TRUE(file.record(etype3.get()));

    SHPObject* first = file.object(0);
    EXPECT_EQ(partStarts(first), std::vector<int>({0, 5}));
    EXPECT_LT(partArea(first, 0), 0);
    EXPECT_GT(partArea(first, 1), 0);
    SHPObject* second = file.object(1);
    ASSERT_EQ(second->nParts, 4);
    for (int part = 0; part < 4; ++part) {
        EXPECT_EQ(partArea(second, part) < 0, part % 2 == 0) << part;
    }
    SHPObject* third = file.object(2);
    EXPECT_LT(partArea(third, 0), 0);
    EXPECT_GT(partArea(third, 1), 0);
    file.read();

    if (!gdalAvailable()) GTEST_SKIP() << "GDAL's Python bindings are not available";
    std::string out = runPython(
        "from osgeo import ogr\n"
        "ds = ogr.Open('" + file.base() + ".shp')\n"
        "for f in ds.GetLayer(0):\n"
        "    g = f.GetGeometryRef()\n"
        "    print(g.GetGeometryName(), g.GetGeometryCount(), g.IsValid(), round(g.GetArea(), 6))\n");
    EXPECT_EQ(out,
              "POLYGON 2 True 96.0\n"
              "MULTIPOLYGON 2 True 192.0\n"
              "POLYGON 2 True 96.0\n");
}

TEST(GeometryConversion, MultipatchKeepsPartTypesAndCarriesZM) {
    SettingsGuard settings;
    ShapeFile file(SHPT_MULTIPATCH);
    std::vector<double> ordinates = concat({SQUARE_CCW, HOLE_CW});
    GeometryHolder withHole = geometry(2003, {1, 1003, 1, 11, 2003, 1}, ordinates);
    GeometryHolder multi = geometry(
        2007, {1, 1003, 1, 11, 2003, 1, 21, 1003, 1, 31, 2003, 1},
        concat({SQUARE_CCW, HOLE_CW, shifted(SQUARE_CCW, 20), shifted(HOLE_CW, 20)}));
    EXPECT_TRUE(file.write(withHole.get()));
    EXPECT_TRUE(file.write(multi.get()));
    SHPObject* patch = file.object(0);
    EXPECT_EQ(patch->nSHPType, SHPT_MULTIPATCH);
    EXPECT_EQ(partStarts(patch), std::vector<int>({0, 5}));
    EXPECT_EQ(partTypes(patch), std::vector<int>({SHPP_OUTERRING, SHPP_INNERRING}));
    // Every exterior ring starts its own polygon.
    EXPECT_EQ(partTypes(file.object(1)),
              std::vector<int>({SHPP_OUTERRING, SHPP_INNERRING, SHPP_OUTERRING, SHPP_INNERRING}));

    // Z and M travel with their vertices when a ring is turned round.
    ShapeFile zm(SHPT_POLYGONZ);
    GeometryHolder ring =
        geometry(4403, {1, 1003, 1}, {0, 0, 1, 10, 10, 0, 2, 20, 10, 10, 3, 30, 0, 10, 4, 40, 0, 0, 1, 10});
    EXPECT_TRUE(zm.write(ring.get()));
    SHPObject* reversed = zm.object(0);
    EXPECT_EQ(xs(reversed), std::vector<double>({0, 0, 10, 10, 0}));
    EXPECT_EQ(ys(reversed), std::vector<double>({0, 10, 10, 0, 0}));
    EXPECT_EQ(zs(reversed), std::vector<double>({1, 4, 3, 2, 1}));
    EXPECT_EQ(ms(reversed), std::vector<double>({10, 40, 30, 20, 10}));
}

TEST(GeometryConversion, UnsupportedElementsFollowTheIgnoreSetting) {
    SettingsGuard settings;
    struct Case {
        std::vector<double> elem;
        const char* message;
    };
    const Case cases[] = {
        {{1, 2, 2}, "Unsupported interpretation for line type : 2"},
        {{1, 1003, 3}, "Unsupported interpretation for polygon type : 3"},
        {{1, 4, 2}, "Unsupported ETYPE within element info : 4"},
        {{1, 1005, 2}, "Unsupported ETYPE within element info : 1005"},
    };
    for (const char* ignore : {"", "yes"}) {
        settings.set("ignore", ignore);
        ShapeFile file(SHPT_POLYGON);
        for (const Case& c : cases) {
            GeometryHolder g = geometry(2003, c.elem, {0, 0, 1, 0, 1, 1, 0, 0});
            testing::internal::CaptureStdout();
            EXPECT_EQ(file.write(g.get()), *ignore != '\0') << c.message;
            std::string out = testing::internal::GetCapturedStdout();
            EXPECT_NE(out.find(std::string("[ERROR] ") + c.message + "\n"), std::string::npos) << out;
        }
        // Elements after the first are held to the same rules.
        GeometryHolder laterArc = geometry(2003, {1, 1003, 1, 11, 2003, 2}, concat({SQUARE_CCW, HOLE_CW}));
        GeometryHolder laterRectangle =
            geometry(2003, {1, 1003, 1, 11, 2003, 3}, concat({SQUARE_CCW, {2, 2, 4, 4}}));
        GeometryHolder laterCompound = geometry(2007, {1, 1003, 1, 11, 1005, 2, 11, 2, 1, 15, 2, 2},
                                                concat({SQUARE_CCW, {20, 0, 30, 0, 30, 10, 25, 15, 20, 10, 20, 0}}));
        GeometryHolder lineInPolygon = geometry(2007, {1, 1003, 1, 11, 2, 1}, concat({SQUARE_CCW, {20, 0, 30, 0}}));
        testing::internal::CaptureStdout();
        EXPECT_EQ(file.write(laterArc.get()), *ignore != '\0');
        EXPECT_EQ(file.write(laterRectangle.get()), *ignore != '\0');
        EXPECT_EQ(file.write(laterCompound.get()), *ignore != '\0');
        EXPECT_EQ(file.write(lineInPolygon.get()), *ignore != '\0');
        std::string out = testing::internal::GetCapturedStdout();
        EXPECT_NE(out.find("[ERROR] Unsupported interpretation for polygon type : 2\n"
                           "[ERROR] Unsupported interpretation for polygon type : 3\n"
                           "[ERROR] Unsupported ETYPE within element info : 1005\n"
                           "[ERROR] Unsupported ETYPE within element info : 2\n"),
                  std::string::npos)
            << out;
        GeometryHolder good = geometry(2003, {1, 1003, 1, 11, 2003, 1}, concat({SQUARE_CCW, HOLE_CW}));
        EXPECT_TRUE(file.write(good.get()));
        testing::internal::CaptureStdout();
        int records = file.count();  // closes the set
        out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(records, *ignore != '\0' ? 9 : 1);
        for (int i = 0; i + 1 < records; ++i) EXPECT_EQ(file.object(i)->nSHPType, SHPT_NULL);
        EXPECT_EQ(file.object(records - 1)->nParts, 2);
        // Each replaced geometry is counted, in one line at the end.
        EXPECT_EQ(out, *ignore != '\0'
                           ? "[WARNING] Geometries that cannot be written replaced by null shapes (-i) : 8\n"
                           : "");
    }
}

TEST(GeometryConversion, OtherDimensionsAreConvertedToTheFileType) {
    SettingsGuard settings;
    g_shp_null_vertex = -5;
    // 2D point into a point-Z file: Z and M the null value.
    ShapeFile pointZ(SHPT_POINTZ);
    GeometryHolder p2 = pointGeometry(2001, 1, 2, NUL);
    EXPECT_TRUE(pointZ.write(p2.get()));
    EXPECT_EQ(pointZ.object(0)->nSHPType, SHPT_POINTZ);
    EXPECT_EQ(zs(pointZ.object(0)), std::vector<double>({-5}));

    // 3D line into a plain line file: the file becomes a Z file, the line
    // before it gets the null value for its Z.
    ShapeFile arc(SHPT_ARC);
    GeometryHolder l2 = geometry(2002, {1, 2, 1}, {5, 5, 6, 6});
    GeometryHolder l3 = geometry(3002, {1, 2, 1}, {0, 0, 7, 1, 1, 8});
    EXPECT_TRUE(arc.write(l2.get()));
    EXPECT_TRUE(arc.write(l3.get()));
    EXPECT_EQ(arc.object(1)->nSHPType, SHPT_ARCZ);
    EXPECT_EQ(xs(arc.object(1)), std::vector<double>({0, 1}));
    EXPECT_EQ(zs(arc.object(1)), std::vector<double>({7, 8}));
    EXPECT_EQ(xs(arc.object(0)), std::vector<double>({5, 6}));
    EXPECT_EQ(zs(arc.object(0)), std::vector<double>({-5, -5}));

    // Measured line into a Z file: M kept, Z the null value.
    ShapeFile arcZ(SHPT_ARCZ);
    GeometryHolder lm = geometry(3302, {1, 2, 1}, {0, 0, 7, 1, 1, 8});
    EXPECT_TRUE(arcZ.write(lm.get()));
    EXPECT_EQ(zs(arcZ.object(0)), std::vector<double>({-5, -5}));
    EXPECT_EQ(ms(arcZ.object(0)), std::vector<double>({7, 8}));

    // 2D polygon into a polygon-M file: M the M-null value.
    ShapeFile polyM(SHPT_POLYGONM);
    GeometryHolder poly = geometry(2003, {1, 1003, 1}, SQUARE_CCW);
    EXPECT_TRUE(polyM.write(poly.get()));
    EXPECT_EQ(polyM.object(0)->nSHPType, SHPT_POLYGONM);
    EXPECT_EQ(ms(polyM.object(0)), std::vector<double>(5, -5));

    // A single point into a multipoint file.
    ShapeFile multi(SHPT_MULTIPOINTZ);
    GeometryHolder single = geometry(2001, {1, 1, 1}, {3, 4});
    EXPECT_TRUE(multi.write(single.get()));
    EXPECT_EQ(multi.object(0)->nSHPType, SHPT_MULTIPOINTZ);
    EXPECT_EQ(xs(multi.object(0)), std::vector<double>({3}));
}

TEST(GeometryConversion, RowsThatNeedMoreRaiseTheFileTypeAndEarlierRecordsFollow) {
    SettingsGuard settings;
    g_shp_null_vertex = -5;
    GeometryHolder plain = pointGeometry(2001, 1, 2, NUL);
    GeometryHolder measured = pointGeometry(3301, 3, 4, 5);
    GeometryHolder raised = pointGeometry(3001, 6, 7, 8);
    GeometryHolder cluster = geometry(2005, {1, 1, 2}, {9, 9, 10, 10});
    ShapeFile file(SHPT_POINT);
    // type after each row: M, then Z, then a multipoint file
    const struct {
        SDOGeometry* geometry;
        int type;
    } rows[] = {{plain.get(), SHPT_POINT},      {nullptr, SHPT_POINT},
                {measured.get(), SHPT_POINTM},  {raised.get(), SHPT_POINTZ},
                {cluster.get(), SHPT_MULTIPOINTZ}};
    for (const auto& row : rows) EXPECT_TRUE(file.write(row.geometry));
    ASSERT_EQ(file.count(), 5);
    int type = 0;
    double low[4], high[4];
    SHPGetInfo(file.read(), nullptr, &type, low, high);
    EXPECT_EQ(type, SHPT_MULTIPOINTZ);
    EXPECT_EQ(std::vector<double>(low, low + 3), std::vector<double>({1, 2, -5}));
    EXPECT_EQ(std::vector<double>(high, high + 3), std::vector<double>({10, 10, 8}));
    // once a row had M, every record carries it
    const struct {
        std::vector<double> x, z, m;
    } expected[] = {{{1}, {-5}, {-5}}, {{}, {}, {}}, {{3}, {-5}, {5}}, {{6}, {8}, {-5}}, {{9, 10}, {-5, -5}, {-5, -5}}};
    for (int i = 0; i < 5; ++i) {
        SHPObject* shape = file.object(i);
        ASSERT_NE(shape, nullptr);
        EXPECT_EQ(shape->nSHPType, i == 1 ? SHPT_NULL : SHPT_MULTIPOINTZ) << i;
        EXPECT_EQ(xs(shape), expected[i].x) << i;
        EXPECT_EQ(zs(shape), expected[i].z) << i;
        EXPECT_EQ(ms(shape), expected[i].m) << i;
    }

    // Many records, rewritten through a small write buffer: each in place,
    // found through the .shx.
    tvSetBufferedIOCapacity(4096);
    ShapeFile many(SHPT_POINT);
    for (int i = 0; i < 3000; ++i) {
        GeometryHolder point = pointGeometry(2001, i, -i, NUL);
        ASSERT_TRUE(many.write(point.get()));
    }
    EXPECT_TRUE(many.write(raised.get()));
    tvSetBufferedIOCapacity(0);
    ASSERT_EQ(many.count(), 3001);
    for (int i = 0; i < 3000; i += 7) {
        SHPObject* shape = many.object(i);
        ASSERT_NE(shape, nullptr);
        EXPECT_EQ(shape->nSHPType, SHPT_POINTZ);
        EXPECT_EQ(xs(shape), std::vector<double>({static_cast<double>(i)}));
        EXPECT_EQ(ys(shape), std::vector<double>({static_cast<double>(-i)}));
        EXPECT_EQ(zs(shape), std::vector<double>({-5}));
    }
    EXPECT_EQ(zs(many.object(3000)), std::vector<double>({8}));
}

TEST(GeometryConversion, OtherKindsAreRefusedByTheIgnoreRule) {
    SettingsGuard settings;
    GeometryHolder line = geometry(2002, {1, 2, 1}, {0, 0, 1, 1});
    GeometryHolder point = pointGeometry(2001, 1, 1, NUL);
    GeometryHolder polygon = geometry(2003, {1, 1003, 1}, SQUARE_CCW);
    struct Case {
        int fileType;
        SDOGeometry* geometry;
        const char* message;
    };
    const Case cases[] = {
        {SHPT_POLYGON, line.get(), "3 (Arc) into 5 (Polygon)"},
        {SHPT_MULTIPATCH, line.get(), "3 (Arc) into 31 (MultiPatch)"},
        {SHPT_MULTIPATCH, point.get(), "1 (Point) into 31 (MultiPatch)"},
        {SHPT_MULTIPOINT, line.get(), "3 (Arc) into 8 (MultiPoint)"},
        {SHPT_ARCZ, polygon.get(), "5 (Polygon) into 13 (ArcZ)"},
    };
    for (const Case& c : cases) {
        for (const char* ignore : {"", "yes"}) {
            settings.set("ignore", ignore);
            ShapeFile file(c.fileType);
            testing::internal::CaptureStdout();
            EXPECT_EQ(file.write(c.geometry), *ignore != '\0') << c.message;
            std::string out = testing::internal::GetCapturedStdout();
            EXPECT_NE(out.find(std::string("[ERROR] Geometry does not match the shapefile's shape type : ") +
                               c.message + "\n"),
                      std::string::npos)
                << out;
            EXPECT_EQ(file.count(), *ignore != '\0' ? 1 : 0);
        }
    }

    // "forcetype" gives the file's type; the rows follow it.
    settings.set("forcetype", "15");
    settings.set("ignore", "");
    ShapeFile forced(SHPT_POLYGONZ);
    EXPECT_TRUE(forced.write(polygon.get()));
    testing::internal::CaptureStdout();
    EXPECT_FALSE(forced.write(line.get()));
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(forced.object(0)->nSHPType, SHPT_POLYGONZ);
}

TEST(GeometryConversion, MalformedGeometriesAreRefusedAndEmptyOnesAreNullShapes) {
    SettingsGuard settings;
    struct Case {
        double gtype;
        std::vector<double> elem;
        std::vector<double> ordinates;
        const char* message;
    };
    const Case cases[] = {
        {2002, {1, 2}, {0, 0, 1, 1}, "element info shorter than a triplet : 2"},
        {2002, {}, {0, 0, 1, 1}, "element info shorter than a triplet : 0"},
        {2002, {9, 2, 1}, {0, 0, 1, 1}, "element offset outside the ordinates : 9"},
        {2002, {0, 2, 1}, {0, 0, 1, 1}, "element offset outside the ordinates : 0"},
        {2002, {NUL, 2, 1}, {0, 0, 1, 1}, "element offset outside the ordinates : 0"},
        {2006, {1, 2, 1, 1, 2, 1}, {0, 0, 1, 1}, "element offsets out of order : 1"},
        {2006, {3, 2, 1, 1, 2, 1}, {0, 0, 1, 1}, "element offsets out of order : 1"},
        {2002, {1, 2, 1}, {0}, "fewer ordinates than one vertex : 1"},
        {2003, {1, 1003, 1}, {5}, "fewer ordinates than one vertex : 1"},
        {2001, {1, 1, 1}, {7}, "fewer ordinates than one vertex : 1"},
        {2005, {1, 1, 3}, {0, 0, 1, 1}, "point count beyond the ordinates : 3"},
        {2005, {1, 1, 0}, {0, 0, 1, 1}, "invalid point count : 0"},
        {2005, {1, 1, -2}, {0, 0, 1, 1}, "invalid point count : -2"},
        {2002, {1, 2, 1}, {0, 0, NUL, 1}, "NULL X or Y ordinate at vertex : 1"},
        {2003, {1, 1003, 1}, {0, NUL, 1, 0, 1, 1, 0, 0}, "NULL X or Y ordinate at vertex : 0"},
        {2001, {1, 1, 1}, {NUL, 1}, "NULL X or Y ordinate at vertex : 0"},
        {2002, {1e12, 2, 1}, {0, 0, 1, 1}, "element offset outside the ordinates : 2147483647"},
        // damaged element information: read as it stands, it would take
        // ordinates of the wrong vertex or drop some
        {2002, {2, 2, 1}, {0, 0, 1, 1, 2, 2}, "element offset not on the first ordinate of a vertex : 2"},
        {2003, {1, 1003, 1}, {0, 0, 1, 0, 1, 1, 0}, "ordinate count not a multiple of the dimension count : 7"},
        {2002, {1, 2, 1, 5}, {0, 0, 1, 1}, "element info not a whole number of triplets : 4"},
        {2006, {1, 2, 1, 5, 2, 1}, {0, 0, 1, 1}, "element offset outside the ordinates : 5"},
        {2005, {3, 1, 1, 1, 1, 1}, {0, 0, 1, 1}, "element offsets out of order : 1"},
    };
    for (const char* ignore : {"", "yes"}) {
        settings.set("ignore", ignore);
        ShapeFile lines(SHPT_ARC);
        ShapeFile polygons(SHPT_POLYGON);
        ShapeFile points(SHPT_MULTIPOINT);
        for (const Case& c : cases) {
            GeometryHolder g = geometry(c.gtype, c.elem, c.ordinates);
            ShapeFile& file = c.gtype == 2003 ? polygons : (c.gtype == 2001 || c.gtype == 2005) ? points : lines;
            testing::internal::CaptureStdout();
            EXPECT_EQ(file.write(g.get()), *ignore != '\0') << c.message;
            std::string out = testing::internal::GetCapturedStdout();
            EXPECT_NE(out.find(std::string("[ERROR] Malformed geometry, ") + c.message + "\n"),
                      std::string::npos)
                << out;
        }
        for (ShapeFile* file : {&lines, &polygons, &points}) {
            for (int i = 0; i < file->count(); ++i) EXPECT_EQ(file->object(i)->nSHPType, SHPT_NULL);
        }
    }

    // No vertices at all: a null shape, never an empty point.
    settings.set("ignore", "");
    ShapeFile points(SHPT_POINT);
    GeometryHolder empty = geometry(2001, {}, {});
    GeometryHolder emptyWithElements = geometry(2001, {1, 1, 1}, {});
    GeometryHolder nullPoint = pointGeometry(2001, NUL, NUL, NUL);
    EXPECT_TRUE(points.write(empty.get()));
    EXPECT_TRUE(points.write(emptyWithElements.get()));
    EXPECT_TRUE(points.write(nullPoint.get()));
    ASSERT_EQ(points.count(), 3);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(points.object(i)->nSHPType, SHPT_NULL);

    // A point that is the whole geometry but lacks its X is refused.
    ShapeFile morePoints(SHPT_POINT);
    GeometryHolder halfPoint = pointGeometry(2001, NUL, 1, NUL);
    testing::internal::CaptureStdout();
    EXPECT_FALSE(morePoints.write(halfPoint.get()));
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("[ERROR] Malformed geometry, NULL X or Y ordinate at vertex : 0"),
              std::string::npos)
        << out;
    EXPECT_EQ(morePoints.count(), 0);
}

TEST(GeometryConversion, BuildersFollowTheirOwnShapeTypes) {
    SettingsGuard settings;
    GeometryHolder p3 = pointGeometry(3001, 1, 2, 3);
    SHPObject* point = createShapePointFromSdoPoint(p3->getSdo_point(), 3001);
    ASSERT_NE(point, nullptr);
    EXPECT_EQ(point->nSHPType, SHPT_POINTZ);
    EXPECT_EQ(point->padfZ[0], 3);
    SHPDestroyObject(point);

    GeometryHolder cluster = geometry(3305, {1, 1, 2}, {1, 2, 9, 3, 4, 9});
    SHPObject* multi = createMultiShapePointFromOrdinates(cluster.get());
    ASSERT_NE(multi, nullptr);
    EXPECT_EQ(multi->nSHPType, SHPT_MULTIPOINT);
    EXPECT_EQ(multi->nVertices, 2);
    SHPDestroyObject(multi);

    GeometryHolder line = geometry(4402, {1, 2, 1}, {0, 0, 5, 100, 3, 4, 6, 200});
    SHPObject* arc = createLineFromOrdinates(line.get());
    ASSERT_NE(arc, nullptr);
    EXPECT_EQ(arc->nSHPType, SHPT_ARCZ);
    EXPECT_EQ(arc->padfM[1], 200);
    SHPDestroyObject(arc);

    // The polygon builder takes the file's type.
    GeometryHolder poly = geometry(2003, {1, 1003, 1, 11, 2003, 1}, concat({SQUARE_CCW, HOLE_CW}));
    SHPHandle patchFile = SHPCreate((makeTempDir() + "/patch").c_str(), SHPT_MULTIPATCH);
    ASSERT_NE(patchFile, nullptr);
    SHPObject* patch = createPolygonFromOrdinates(poly.get(), patchFile);
    ASSERT_NE(patch, nullptr);
    EXPECT_EQ(patch->nSHPType, SHPT_MULTIPATCH);
    EXPECT_EQ(partTypes(patch), std::vector<int>({SHPP_OUTERRING, SHPP_INNERRING}));
    SHPDestroyObject(patch);
    SHPClose(patchFile);

    GeometryHolder bad = geometry(2002, {1, 2, 1}, {0});
    testing::internal::CaptureStdout();
    EXPECT_EQ(createLineFromOrdinates(bad.get()), nullptr);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("[ERROR] Failed to create point using createLineFromOrdinates\n"), std::string::npos)
        << out;
}

// Random element information and ordinates (infinite and NaN ones too), with
// and without curve conversion: every outcome is a written record or a
// refusal, never a crash or an out-of-bounds read (run under the sanitizer
// build), and every file reads back with shapelib and GDAL, with finite
// coordinates only.
TEST(GeometryConversion, RandomGeometriesNeverCrash) {
    SettingsGuard settings;
    std::mt19937 random(20240611);
    const double gtypes[] = {2001, 2002, 2003, 2005, 2006, 2007, 3001, 3002, 3003, 3005, 3301,
                             3302, 3303, 3305, 4001, 4402, 4403, 4405, 4407, 2004, 0, NUL, -1, 70000};
    const double etypes[] = {0, 1, 2, 3, 4, 1003, 2003, 1005, 2005, NUL, -7};
    const int fileTypes[] = {SHPT_POINT,      SHPT_POINTZ,      SHPT_POINTM, SHPT_ARC,
                             SHPT_ARCZ,       SHPT_ARCM,        SHPT_POLYGON, SHPT_POLYGONZ,
                             SHPT_POLYGONM,   SHPT_MULTIPOINT,  SHPT_MULTIPOINTZ, SHPT_MULTIPOINTM,
                             SHPT_MULTIPATCH, SHPT_NULL};
    auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
    int written = 0;
    std::string bases;
    for (int fileIndex = 0; fileIndex < 14; ++fileIndex) {
        settings.set("ignore", fileIndex % 2 == 0 ? "yes" : "");
        settings.set("arcs", fileIndex % 3 == 0 ? "" : fileIndex % 3 == 1 ? "10" : "45");
        ShapeFile file(fileTypes[fileIndex]);
        ASSERT_TRUE(file.ok());
        testing::internal::CaptureStdout();
        for (int iteration = 0; iteration < 300; ++iteration) {
            std::vector<double> ordinates(static_cast<size_t>(pick(24)));
            for (double& value : ordinates) value = pick(10) == 0 ? NUL : pick(200) - 100;
            std::vector<double> elem(static_cast<size_t>(pick(11)));
            for (size_t i = 0; i < elem.size(); ++i) {
                switch (i % 3) {
                    case 0: elem[i] = pick(8) == 0 ? NUL : pick(30) - 3; break;
                    case 1: elem[i] = etypes[pick(11)]; break;
                    default: elem[i] = pick(6) - 1; break;
                }
            }
            GeometryHolder g = geometry(gtypes[pick(24)], elem, ordinates);
            std::vector<oracle::occi::Number> values = g->getSdo_ordinates();
            for (oracle::occi::Number& value : values) {
                const int odd = pick(40);
                if (odd == 0) value = oracle::occi::Number(std::numeric_limits<double>::infinity());
                if (odd == 1) value = oracle::occi::Number(std::numeric_limits<double>::quiet_NaN());
            }
            g->setSdo_ordinates(values);
            if (pick(4) == 0) {
                SDOPointType* point = newPoint();
                point->setX(num(pick(5) == 0 ? NUL : 1.5));
                point->setY(num(2.5));
                point->setZ(num(pick(2) == 0 ? NUL : 3.5));
                g->setSdo_point(point);
            }
            if (file.record(g.get())) ++written;
        }
        testing::internal::GetCapturedStdout();
        if (fileIndex % 2 == 0) {
            EXPECT_EQ(file.count(), 300);  // "ignore": a record for every row
        }
        // Every record reads back as the file's type (raised by the rows, or
        // not) or as a null shape.
        int finalType = SHPT_NULL;
        SHPGetInfo(file.read(), nullptr, &finalType, nullptr, nullptr);
        for (int i = 0; i < file.count(); ++i) {
            SHPObject* shape = file.object(i);
            ASSERT_NE(shape, nullptr);
            EXPECT_TRUE(shape->nSHPType == SHPT_NULL || shape->nSHPType == finalType);
            for (int v = 0; v < shape->nVertices; ++v) {
                ASSERT_TRUE(std::isfinite(shape->padfX[v]) && std::isfinite(shape->padfY[v]) &&
                            std::isfinite(shape->padfZ[v]));
            }
        }
        if (fileTypes[fileIndex] != SHPT_NULL) bases += "'" + file.base() + ".shp', ";
    }
    EXPECT_GT(written, 0);

    if (!gdalAvailable()) GTEST_SKIP() << "GDAL's Python bindings are not available";
    std::string out = runPython(
        "import math\n"
        "from osgeo import ogr\n"
        "for name in [" + bases + "]:\n"
        "    ds = ogr.Open(name)\n"
        "    for f in ds.GetLayer(0):\n"
        "        g = f.GetGeometryRef()\n"
        "        if g is not None and not all(math.isfinite(v) for v in g.GetEnvelope()):\n"
        "            print('not finite', name, f.GetFID())\n"
        "print('read')\n");
    EXPECT_EQ(out, "read\n");
}

namespace {

// Numbers as given, NaN and infinities included (num() reads NaN as NULL).
std::vector<oracle::occi::Number> raw(const std::vector<double>& p_values) {
    std::vector<oracle::occi::Number> out;
    for (double value : p_values) out.push_back(oracle::occi::Number(value));
    return out;
}

bool hasVertex(const SHPObject* p_shape, double p_x, double p_y) {
    for (int i = 0; i < p_shape->nVertices; ++i) {
        if (p_shape->padfX[i] == p_x && p_shape->padfY[i] == p_y) return true;
    }
    return false;
}

int countVertex(const SHPObject* p_shape, double p_x, double p_y) {
    int count = 0;
    for (int i = 0; i < p_shape->nVertices; ++i) {
        if (p_shape->padfX[i] == p_x && p_shape->padfY[i] == p_y) ++count;
    }
    return count;
}

const double PI = 3.14159265358979323846;

}  // namespace

TEST(GeometryConversion, CurvesAreStrokedOnRequest) {
    SettingsGuard settings;
    settings.set("arcs", "10");
    ShapeFile lines(SHPT_ARCZ, "curved_lines");
    // Half circle; an arc string of two arcs with Z; a compound line; a
    // multiline of an arc and a straight element.
    GeometryHolder halfCircle = geometry(2002, {1, 2, 2}, {0, 0, 5, 5, 10, 0});
    GeometryHolder arcString =
        geometry(3002, {1, 2, 2}, {0, 0, 0, 5, 5, 10, 10, 0, 20, 15, -5, 30, 20, 0, 40});
    GeometryHolder compound = geometry(2002, {1, 4, 2, 1, 2, 1, 3, 2, 2}, {-5, 0, 0, 0, 5, 5, 10, 0});
    GeometryHolder multi = geometry(2006, {1, 2, 2, 7, 2, 1}, {0, 0, 5, 5, 10, 0, 20, 0, 30, 0});
    ASSERT_TRUE(lines.write(halfCircle.get()));
    ASSERT_TRUE(lines.write(arcString.get()));
    ASSERT_TRUE(lines.write(compound.get()));
    ASSERT_TRUE(lines.write(multi.get()));

    SHPObject* half = lines.object(0);
    EXPECT_EQ(half->nParts, 1);
    EXPECT_EQ(half->nVertices, 19);  // 180 degrees in 10-degree steps
    EXPECT_EQ(xs(half).front(), 0);
    EXPECT_EQ(xs(half).back(), 10);
    EXPECT_TRUE(hasVertex(half, 5, 5));
    for (int i = 0; i < half->nVertices; ++i) {
        EXPECT_NEAR(std::hypot(half->padfX[i] - 5, half->padfY[i]), 5, 1e-9);
    }

    SHPObject* string = lines.object(1);
    for (double x : {0.0, 5.0, 10.0, 15.0, 20.0}) EXPECT_EQ(countVertex(string, x, x == 5 ? 5 : x == 15 ? -5 : 0), 1) << x;
    std::vector<double> z = zs(string);
    for (size_t i = 1; i < z.size(); ++i) EXPECT_GE(z[i], z[i - 1]);  // stored Z rise along the line
    EXPECT_EQ(z.back(), 40);

    SHPObject* joined = lines.object(2);
    EXPECT_EQ(joined->nParts, 1);
    EXPECT_EQ(countVertex(joined, 0, 0), 1);  // the shared vertex once
    EXPECT_EQ(xs(joined).front(), -5);
    EXPECT_EQ(xs(joined).back(), 10);

    SHPObject* parts = lines.object(3);
    EXPECT_EQ(parts->nParts, 2);
    EXPECT_EQ(parts->panPartStart[1], 19);
    EXPECT_EQ(parts->nVertices, 21);

    ShapeFile polygons(SHPT_POLYGON, "curved_polygons");
    GeometryHolder circle = geometry(2003, {1, 1003, 4}, {0, -5, 5, 0, 0, 5});
    GeometryHolder rectangles = geometry(2003, {1, 1003, 3, 5, 2003, 3}, {0, 0, 10, 10, 2, 2, 4, 4});
    // Straight edge, arc, two straight edges; a rectangular hole.
    GeometryHolder compoundRing = geometry(2003, {1, 1005, 3, 1, 2, 1, 3, 2, 2, 7, 2, 1, 13, 2003, 3},
                                           {0, 0, 10, 0, 15, 5, 10, 10, 0, 10, 0, 0, 2, 2, 4, 4});
    GeometryHolder arcPolygon =
        geometry(2007, {1, 1003, 2, 11, 1003, 1}, {0, 0, 5, -5, 10, 0, 5, 5, 0, 0, 20, 0, 30, 0, 30, 10, 20, 0});
    ASSERT_TRUE(polygons.record(circle.get()));
    ASSERT_TRUE(polygons.record(rectangles.get()));
    ASSERT_TRUE(polygons.record(compoundRing.get()));
    ASSERT_TRUE(polygons.record(arcPolygon.get()));
    SHPObject* ring = polygons.object(0);
    EXPECT_EQ(xs(ring).front(), xs(ring).back());
    EXPECT_EQ(ys(ring).front(), ys(ring).back());
    EXPECT_LT(partArea(ring, 0), 0);
    EXPECT_EQ(ring->nVertices, 37);
    SHPObject* box = polygons.object(1);
    EXPECT_EQ(partStarts(box), std::vector<int>({0, 5}));
    EXPECT_EQ(box->nVertices, 10);
    EXPECT_DOUBLE_EQ(partArea(box, 0), -200);
    EXPECT_DOUBLE_EQ(partArea(box, 1), 8);
    polygons.read();

    if (!gdalAvailable()) GTEST_SKIP() << "GDAL's Python bindings are not available";
    std::string out = runPython(
        "from osgeo import ogr\n"
        "ds = ogr.Open('" + polygons.base() + ".shp')\n"
        "for f in ds.GetLayer(0):\n"
        "    g = f.GetGeometryRef()\n"
        "    print(g.GetGeometryName(), g.IsValid(), round(g.GetArea(), 1))\n");
    // Circle of radius 5 in 10-degree steps: 36 * 12.5 * sin(10 degrees).
    std::ostringstream expected;
    expected.setf(std::ios::fixed);
    expected.precision(1);
    expected << "POLYGON True " << 36 * 12.5 * std::sin(PI / 18) << "\n"
             << "POLYGON True 96.0\n"
             << "POLYGON True " << 100 - 4 + 18 * 12.5 * std::sin(PI / 18) << "\n"
             << "MULTIPOLYGON True " << 36 * 12.5 * std::sin(PI / 18) + 50 << "\n";
    EXPECT_EQ(out, expected.str());
}

TEST(GeometryConversion, MalformedCurvesAndUnknownInterpretations) {
    SettingsGuard settings;
    settings.set("arcs", "5");
    struct Case {
        double gtype;
        std::vector<double> elem;
        std::vector<double> ordinates;
        const char* message;
    };
    const Case cases[] = {
        {2002, {1, 2, 2}, {0, 0, 1, 1, 2, 0, 3, 3}, "Malformed geometry, arc string without an odd number of at least three vertices at offset : 1"},
        {2002, {1, 2, 2}, {0, 0, 1, 1, 0, 0}, "Malformed geometry, coincident points in the curve at offset : 1"},
        {2002, {1, 2, 2}, {0, 0, 3, 3, 2, 2}, "Malformed geometry, arc with its middle point outside its ends at offset : 1"},
        {2003, {1, 1003, 4}, {0, 0, 1, 1, 2, 2}, "Malformed geometry, circle through collinear points at offset : 1"},
        {2003, {1, 1003, 4}, {0, 0, 1, 1, 2, 0, 1, -1}, "Malformed geometry, circle not given by three points at offset : 1"},
        {2003, {1, 1003, 3}, {0, 0, 1, 1, 2, 2}, "Malformed geometry, rectangle not given by two corners at offset : 1"},
        {2003, {1, 1003, 3}, {0, 0, 0, 5}, "Malformed geometry, fewer than three distinct vertices in the ring at offset : 1"},
        {2003, {1, 1003, 5}, {0, 0, 1, 1, 2, 0}, "Unsupported interpretation for polygon type : 5"},
        {2003, {1, 1005, 3, 1, 2, 1}, {0, 0, 1, 1, 2, 0}, "Malformed geometry, compound element with more subelements than the element info holds : 3"},
        {2003, {1, 1005, 1, 1, 3, 1}, {0, 0, 1, 1, 2, 0}, "Unsupported ETYPE within element info : 3"},
        {2003, {1, 1005, 2, 3, 2, 1, 1, 2, 1}, {0, 0, 1, 1, 2, 0}, "Malformed geometry, element offsets out of order : 1"},
        {2002, {1, 2, 3}, {0, 0, 1, 1}, "Unsupported interpretation for line type : 3"},
        {2002, {1, 4, 2, 1, 2, 1, 3, 2, 4}, {0, 0, 1, 1, 2, 0}, "Unsupported interpretation for line type : 4"},
        {2002, {1, 5, 1}, {0, 0, 1, 1}, "Unsupported ETYPE within element info : 5"},
        {2002, {1, 1005, 1, 1, 2, 1}, {0, 0, 1, 1, 2, 0, 0, 0},
         "Geometry does not match the shapefile's shape type : 5 (Polygon) into 3 (Arc)"},
        {2002, {1, 2, 2}, {0, 0, 1, 1e-9, 2, 0}, ""},  // a flat arc is converted
    };
    for (const Case& c : cases) {
        ShapeFile file(c.gtype == 2003 ? SHPT_POLYGON : SHPT_ARC);
        GeometryHolder g = geometry(c.gtype, c.elem, c.ordinates);
        testing::internal::CaptureStdout();
        EXPECT_EQ(file.write(g.get()), *c.message == '\0') << c.message;
        std::string out = testing::internal::GetCapturedStdout();
        if (*c.message != '\0') {
            EXPECT_NE(out.find(std::string("[ERROR] ") + c.message + "\n"), std::string::npos) << out;
        }
    }
    // A limit too fine for the vertex budget refuses the geometry.
    settings.set("arcs", "0.0000001");
    ShapeFile fine(SHPT_POLYGON);
    GeometryHolder circle = geometry(2003, {1, 1003, 4}, {0, -5, 5, 0, 0, 5});
    testing::internal::CaptureStdout();
    EXPECT_FALSE(fine.write(circle.get()));
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("[ERROR] Too many vertices once the curves are stroked, use a larger arc limit : "),
              std::string::npos)
        << out;
}

TEST(GeometryConversion, DamagedValuesAreRefusedAndOpenRingsClosed) {
    SettingsGuard settings;
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        double gtype;
        std::vector<double> elem;
        std::vector<double> ordinates;  // as given, NaN included
        const char* message;
    };
    const Case cases[] = {
        {2002, {1, 2, 1}, {0, 0, inf, -inf, 5, 5}, "infinite or NaN ordinate at vertex : 1"},
        {2002, {1, 2, 1}, {0, 0, nan, 1, 5, 5}, "infinite or NaN ordinate at vertex : 1"},
        {3002, {1, 2, 1}, {0, 0, 0, 1, 1, inf}, "infinite or NaN ordinate at vertex : 1"},
        {3302, {1, 2, 1}, {0, 0, nan, 1, 1, 1}, "infinite or NaN ordinate at vertex : 0"},
        {2003, {1, 1003, 1}, {0, 0, 1, 0, 1, inf, 0, 0}, "infinite or NaN ordinate at vertex : 2"},
        {2005, {1, 1, 2}, {0, 0, 1, nan}, "infinite or NaN ordinate at vertex : 1"},
        {2002, {1, 2, 1}, {0, 0}, "fewer than two vertices in the line element at offset : 1"},
        {2006, {1, 2, 1, 5, 2, 1}, {0, 0, 1, 1, 2, 2}, "fewer than two vertices in the line element at offset : 5"},
        {2003, {1, 1003, 1}, {0, 0, 1, 1, 0, 0}, "fewer than three distinct vertices in the ring at offset : 1"},
        {2003, {1, 1003, 1}, {0, 0, 1, 1, 1, 1, 0, 0, 1, 1}, "fewer than three distinct vertices in the ring at offset : 1"},
        {2002, {1.9, 2, 1}, {0, 0, 1, 1}, "element info value not a whole number : 1.9"},
        {2003, {1, 1003, 1.5}, {0, 0, 1, 0, 1, 1, 0, 0}, "element info value not a whole number : 1.5"},
        {2002, {1, 2, nan}, {0, 0, 1, 1}, "element info value not a whole number : nan"},
    };
    for (const Case& c : cases) {
        const int type = c.gtype == 2003 ? SHPT_POLYGON : c.gtype == 2005 ? SHPT_MULTIPOINT : SHPT_ARCZ;
        ShapeFile file(type);
        GeometryHolder g = geometry(c.gtype, c.elem, {});
        g->setSdo_elem_info(raw(c.elem));
        g->setSdo_ordinates(raw(c.ordinates));
        testing::internal::CaptureStdout();
        EXPECT_FALSE(file.write(g.get())) << c.message;
        std::string out = testing::internal::GetCapturedStdout();
        EXPECT_NE(out.find(std::string("[ERROR] Malformed geometry, ") + c.message + "\n"), std::string::npos)
            << out;
    }
    // SDO_POINT values.
    ShapeFile points(SHPT_POINTZ);
    GeometryHolder infinite = pointGeometry(3001, 1, 2, inf);
    GeometryHolder notANumber = pointGeometry(2001, 1, 2, NUL);
    notANumber->getSdo_point()->setX(oracle::occi::Number(nan));
    testing::internal::CaptureStdout();
    EXPECT_FALSE(points.write(infinite.get()));
    EXPECT_FALSE(points.write(notANumber.get()));
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("[ERROR] Malformed geometry, infinite or NaN ordinate at vertex : 0\n"
                       "[ERROR] Malformed geometry, infinite or NaN ordinate at vertex : 0\n"),
              std::string::npos)
        << out;
    EXPECT_EQ(points.count(), 0);

    // Open rings are closed, and counted once at the end.
    ShapeFile polygons(SHPT_POLYGON);
    GeometryHolder open = geometry(2003, {1, 1003, 1}, {0, 0, 10, 0, 10, 10, 0, 10});
    GeometryHolder dropped = geometry(2003, {1, 1003, 1}, {0, 0, 10, 0, 10, 10, 0, 0});  // closed as stored
    GeometryHolder twoOpen = geometry(2007, {1, 1003, 1, 7, 1003, 1}, {0, 0, 1, 0, 1, 1, 5, 5, 6, 5, 6, 6});
    testing::internal::CaptureStdout();
    EXPECT_TRUE(polygons.write(open.get()));
    EXPECT_TRUE(polygons.write(dropped.get()));
    EXPECT_TRUE(polygons.write(twoOpen.get()));
    EXPECT_TRUE(polygons.writer().closeShapeFile());
    out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "[WARNING] Rings closed by repeating their first vertex : 3\n");
    SHPObject* closed = polygons.object(0);
    EXPECT_EQ(closed->nVertices, 5);
    EXPECT_EQ(xs(closed).front(), xs(closed).back());
    EXPECT_EQ(ys(closed).front(), ys(closed).back());
    EXPECT_EQ(polygons.object(1)->nVertices, 4);
    EXPECT_EQ(partStarts(polygons.object(2)), std::vector<int>({0, 4}));
    EXPECT_EQ(polygons.object(2)->nVertices, 8);
}

TEST(GeometryConversion, RowsOfOtherSizesShareTheBuffersCleanly) {
    SettingsGuard settings;
    // A Z that a 2D file drops is still checked.
    ShapeFile flat(SHPT_ARC);
    GeometryHolder badZ = geometry(3002, {1, 2, 1}, {});
    badZ->setSdo_ordinates(raw({0, 0, 0, 1, 1, std::numeric_limits<double>::infinity()}));
    testing::internal::CaptureStdout();
    EXPECT_FALSE(flat.write(badZ.get()));
    EXPECT_NE(testing::internal::GetCapturedStdout().find("infinite or NaN ordinate at vertex : 1\n"), std::string::npos);
    // A refused row between a longer and a shorter one leaves nothing behind.
    ShapeFile lines(SHPT_ARCZ);
    GeometryHolder longer = geometry(3002, {1, 2, 1}, {0, 0, NUL, 1, 1, 1, 2, 2, 2});
    GeometryHolder refused = geometry(3002, {1, 2, 1}, {5, 5, 5, NUL, 6, 6});
    GeometryHolder shorter = geometry(3002, {1, 2, 1}, {7, 7, 7, 8, 8, NUL});
    testing::internal::CaptureStdout();
    EXPECT_TRUE(lines.write(longer.get()));
    EXPECT_FALSE(lines.write(refused.get()));
    EXPECT_TRUE(lines.write(shorter.get()));
    testing::internal::GetCapturedStdout();
    ASSERT_EQ(lines.count(), 2);
    EXPECT_EQ(lines.object(0)->padfZ[0], g_shp_null_vertex);
    SHPObject* last = lines.object(1);
    ASSERT_EQ(last->nVertices, 2);
    EXPECT_EQ(last->padfX[1], 8);
    EXPECT_EQ(last->padfZ[1], g_shp_null_vertex);
    EXPECT_EQ(last->dfXMax, 8);
    EXPECT_EQ(last->dfZMax, 7);
}

TEST(GeometryConversion, ForcedTypesTakeOtherKinds) {
    SettingsGuard settings;
    GeometryHolder polygon = geometry(2003, {1, 1003, 1, 11, 2003, 1}, concat({SQUARE_CCW, HOLE_CW}));
    GeometryHolder openPolygon3D = geometry(3003, {1, 1003, 1}, {0, 0, 1, 10, 0, 2, 10, 10, 3});
    GeometryHolder line = geometry(2002, {1, 2, 1}, {0, 0, 1, 1, 2, 0});
    GeometryHolder point = pointGeometry(2001, 7, 8, NUL);

    // Without a forced type a polygon is no line.
    {
        ShapeFile file(SHPT_ARC);
        testing::internal::CaptureStdout();
        EXPECT_FALSE(file.write(polygon.get()));
        testing::internal::GetCapturedStdout();
    }

    settings.set("forcetype", "13");
    ShapeFile boundaries(SHPT_ARCZ);
    EXPECT_TRUE(boundaries.write(polygon.get()));
    EXPECT_TRUE(boundaries.write(openPolygon3D.get()));
    SHPObject* rings = boundaries.object(0);
    EXPECT_EQ(rings->nSHPType, SHPT_ARCZ);
    EXPECT_EQ(partStarts(rings), std::vector<int>({0, 5}));
    // The rings as stored, not turned round.
    EXPECT_EQ(xs(rings), std::vector<double>({0, 10, 10, 0, 0, 2, 2, 4, 4, 2}));
    SHPObject* closed3D = boundaries.object(1);
    EXPECT_EQ(zs(closed3D), std::vector<double>({1, 2, 3, 1}));

    settings.set("forcetype", "8");
    ShapeFile vertices(SHPT_MULTIPOINT);
    EXPECT_TRUE(vertices.write(polygon.get()));
    EXPECT_TRUE(vertices.write(line.get()));
    EXPECT_TRUE(vertices.write(point.get()));
    EXPECT_TRUE(vertices.write(openPolygon3D.get()));
    EXPECT_EQ(vertices.object(0)->nSHPType, SHPT_MULTIPOINT);
    EXPECT_EQ(vertices.object(0)->nVertices, 10);
    EXPECT_EQ(xs(vertices.object(1)), std::vector<double>({0, 1, 2}));
    EXPECT_EQ(xs(vertices.object(2)), std::vector<double>({7}));
    EXPECT_EQ(vertices.object(3)->nVertices, 3);  // not closed: only the stored vertices

    // Points into lines or polygons, lines into polygons: still refused.
    settings.set("forcetype", "3");
    ShapeFile pointsAsLines(SHPT_ARC);
    settings.set("forcetype", "5");
    ShapeFile linesAsPolygons(SHPT_POLYGON);
    testing::internal::CaptureStdout();
    EXPECT_FALSE(pointsAsLines.write(point.get()));
    EXPECT_FALSE(linesAsPolygons.write(line.get()));
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("1 (Point) into 3 (Arc)"), std::string::npos) << out;
    EXPECT_NE(out.find("3 (Arc) into 5 (Polygon)"), std::string::npos) << out;
}

TEST(GeometryConversion, MultipatchRingsWithoutHolesArePlainRings) {
    SettingsGuard settings;
    settings.set("arcs", "45");
    ShapeFile file(SHPT_MULTIPATCH);
    GeometryHolder two = geometry(2007, {1, 1003, 1, 11, 1003, 1}, concat({SQUARE_CCW, shifted(SQUARE_CCW, 20)}));
    // Roles by nesting; a circle hole.
    GeometryHolder nested = geometry(2003, {1, 3, 1, 11, 3, 1}, concat({SQUARE_CCW, HOLE_CW}));
    GeometryHolder circleHole = geometry(2003, {1, 1003, 1, 11, 2003, 4}, concat({SQUARE_CCW, {3, 2, 4, 3, 3, 4}}));
    EXPECT_TRUE(file.write(two.get()));
    EXPECT_TRUE(file.write(nested.get()));
    EXPECT_TRUE(file.write(circleHole.get()));
    EXPECT_EQ(partTypes(file.object(0)), std::vector<int>({SHPP_RING, SHPP_RING}));
    EXPECT_EQ(partTypes(file.object(1)), std::vector<int>({SHPP_OUTERRING, SHPP_INNERRING}));
    SHPObject* withCircle = file.object(2);
    EXPECT_EQ(partTypes(withCircle), std::vector<int>({SHPP_OUTERRING, SHPP_INNERRING}));
    EXPECT_EQ(withCircle->nVertices, 5 + 9);
    EXPECT_GT(partArea(withCircle, 1), 0);
}
