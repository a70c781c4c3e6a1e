// The geometry type catalogue: shape types, the "forcetype" override, the
// dimension tests and the debug dump.
#include "shape/gtype.h"

#include <gtest/gtest.h>
#include <shapefil.h>

#include "shape/shape_test_util.h"

using namespace shapetest;

TEST(GTypeCatalogue, ShapeTypesAndSupport) {
    SettingsGuard settings;
    g_args.erase("forcetype");
    EXPECT_EQ(getShapeTypeForGType(2001), SHPT_POINT);
    EXPECT_EQ(getShapeTypeForGType(2006), SHPT_ARC);
    EXPECT_EQ(getShapeTypeForGType(2007), SHPT_POLYGON);
    EXPECT_EQ(getShapeTypeForGType(2005), SHPT_MULTIPOINT);
    EXPECT_EQ(getShapeTypeForGType(4401), SHPT_POINTZ);
    EXPECT_EQ(getShapeTypeForGType(4006), SHPT_ARCZ);
    EXPECT_EQ(getShapeTypeForGType(4407), SHPT_POLYGONZ);
    EXPECT_EQ(getShapeTypeForGType(4405), SHPT_MULTIPOINTZ);
    EXPECT_EQ(getShapeTypeForGType(3301), SHPT_POINTM);
    EXPECT_EQ(getShapeTypeForGType(3306), SHPT_ARCM);
    EXPECT_EQ(getShapeTypeForGType(3303), SHPT_POLYGONM);
    EXPECT_EQ(getShapeTypeForGType(3305), SHPT_MULTIPOINT);
    for (unsigned short gtype : {2000, 2004, 3300, 3304, 3000, 4400, 4404, 4000, 4004, 0, 1, 9999}) {
        EXPECT_EQ(getShapeTypeForGType(gtype), SHPT_NULL) << gtype;
        EXPECT_FALSE(isGTypeSupported(gtype)) << gtype;
    }
    EXPECT_TRUE(isGTypeSupported(2003));

    // An empty "forcetype" entry is the same as none.
    settings.set("forcetype", "");
    EXPECT_EQ(getShapeTypeForGType(2002), SHPT_ARC);
    settings.set("forcetype", "31");
    EXPECT_EQ(getShapeTypeForGType(2004), SHPT_MULTIPATCH);
    EXPECT_EQ(getShapeTypeForGType(2001), SHPT_MULTIPATCH);
    EXPECT_TRUE(isGTypeSupported(4404));
    settings.set("forcetype", "abc");
    EXPECT_EQ(getShapeTypeForGType(2001), 0);
    EXPECT_FALSE(isGTypeSupported(2001));
}

TEST(GTypeCatalogue, DimensionTestsAtTheirBoundaries) {
    EXPECT_TRUE(is3DGType(3000));
    EXPECT_TRUE(is3DGType(3007));
    EXPECT_FALSE(is3DGType(3008));
    EXPECT_FALSE(is3DGType(3300));
    EXPECT_TRUE(is3DGType(4000));
    EXPECT_TRUE(is3DGType(4407));
    EXPECT_FALSE(is3DGType(2999));

    EXPECT_FALSE(isGTypeWithM(3300));
    EXPECT_TRUE(isGTypeWithM(3301));
    EXPECT_TRUE(isGTypeWithM(3307));
    EXPECT_TRUE(isGTypeWithM(4400));
    EXPECT_FALSE(isGTypeWithM(4000));
    EXPECT_TRUE(isGTypeWithM(4001));
    EXPECT_TRUE(isGTypeWithM(4007));
    EXPECT_FALSE(isGTypeWithM(4408));

    for (unsigned short gtype : {2001, 3001, 3301, 4001}) EXPECT_TRUE(isPointGType(gtype)) << gtype;
    for (unsigned short gtype : {4401, 2005, 2000, 3005}) EXPECT_FALSE(isPointGType(gtype)) << gtype;

    EXPECT_EQ(getGTypeString(2001), "SDO_GTYPE_2D_POINT");
    EXPECT_EQ(getGTypeString(2007), "SDO_GTYPE_2D_MULTIPOLYGON");
    EXPECT_EQ(getGTypeString(3001), "");
}

TEST(GTypeCatalogue, DumpShowsAtMostOneHundredOrdinates) {
    std::vector<double> ordinates;
    for (int i = 0; i < 250; ++i) ordinates.push_back(i + 0.5);
    GeometryHolder g = geometry(2002, {1, 2, 1}, ordinates);
    g->setSdo_srid(num(8307));

    testing::internal::CaptureStdout();
    dumpGeometryObject(g.get());
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("-----------Geometry Object ------------\nSDO GTYPE = 2002\nSDO SRID = 8307\n"
                       "SDO POINT = Null\nSDO ELEM INFO = (1,2,1,)\nSDO ORDINATES = (0.5,1.5,"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find(",98.5,99.5,) (first 100 only)\n-----------------------------------------\n"),
              std::string::npos)
        << out;
    EXPECT_EQ(out.find("100.5"), std::string::npos);

    GeometryHolder p = pointGeometry(2001, 10.7, NUL, NUL);
    testing::internal::CaptureStdout();
    dumpGeometryObject(p.get());
    out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("SDO SRID = Null\nSDO POINT = Null\nSDO ELEM INFO = ()\nSDO ORDINATES = () (first 100 only)\n"),
              std::string::npos)
        << out;

    GeometryHolder q = pointGeometry(2001, 10.7, -3.2, NUL);
    testing::internal::CaptureStdout();
    dumpGeometryObject(q.get());
    out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("SDO POINT = (10,-3)\n"), std::string::npos) << out;
}
