// ESRI's text of an EPSG coordinate system from PROJ, and the reasons when
// PROJ cannot give it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "shape/shape_writer.h"

TEST(EsriWkt, KnownCodesGiveEsriNamesOnOneLine) {
    std::string wkt;
    std::string reason;
    ASSERT_TRUE(esriWktFromEpsg(4326, wkt, reason)) << reason;
    EXPECT_EQ(wkt.rfind("GEOGCS[\"GCS_WGS_1984\",DATUM[\"D_WGS_1984\",", 0), 0u) << wkt;
    EXPECT_EQ(wkt.find('\n'), std::string::npos);

    ASSERT_TRUE(esriWktFromEpsg(27700, wkt, reason)) << reason;
    EXPECT_EQ(wkt.rfind("PROJCS[\"British_National_Grid\",", 0), 0u) << wkt;
    EXPECT_NE(wkt.find("PARAMETER[\"Scale_Factor\",0.9996012717]"), std::string::npos) << wkt;
}

TEST(EsriWkt, UnknownCodesAndAMissingDatabaseAreReasons) {
    std::string wkt = "untouched";
    std::string reason;
    EXPECT_FALSE(esriWktFromEpsg(999999, wkt, reason));
    EXPECT_EQ(reason, "PROJ does not know EPSG:999999");
    EXPECT_EQ(wkt, "untouched");
    // 6326 is a datum, not a coordinate system.
    EXPECT_FALSE(esriWktFromEpsg(6326, wkt, reason));
    EXPECT_EQ(reason, "PROJ does not know EPSG:6326");

    const char* saved = std::getenv("PROJ_DATA");
    std::string previous = saved != nullptr ? saved : "";
    setenv("PROJ_DATA", "/nonexistent/tarvex-proj", 1);
    bool found = esriWktFromEpsg(4326, wkt, reason);
    if (saved != nullptr) {
        setenv("PROJ_DATA", previous.c_str(), 1);
    } else {
        unsetenv("PROJ_DATA");
    }
    EXPECT_FALSE(found);
    EXPECT_EQ(reason, "PROJ finds no proj.db, which the package proj-data installs");
    EXPECT_EQ(wkt, "untouched");
}
