// Object classes for SDO_GEOMETRY / SDO_POINT_TYPE: registration, ownership
// and attribute accessors.
#include <gtest/gtest.h>
#include <occi.h>

#include <string>
#include <utility>
#include <vector>

#include "oracle/sdo.h"

using oracle::occi::Number;

namespace {

using ReadFunction = void* (*)(void*);
using WriteFunction = void (*)(void*, void*);

struct RecordingMap : oracle::occi::Map {
    std::vector<std::pair<std::string, void* (*)(void*)>> readers;
    std::vector<void (*)(void*, void*)> writers;
    void put(const std::string& typeName, void* (*rSQL)(void*),
             void (*wSQL)(void*, void*)) override {
        readers.emplace_back(typeName, rSQL);
        writers.push_back(wSQL);
    }
    void put(const std::string& schemaName, const std::string& typeName,
             void* (*rSQL)(void*), void (*wSQL)(void*, void*)) override {
        put(schemaName + "." + typeName, rSQL, wSQL);
    }
};

struct RecordingEnvironment : oracle::occi::Environment {
    mutable RecordingMap map;
    oracle::occi::Connection* createConnection(const std::string&, const std::string&,
                                               const std::string&) override {
        return nullptr;
    }
    void terminateConnection(oracle::occi::Connection*) override {}
    oracle::occi::Map* getMap() const override { return &map; }
};

int g_points_destroyed = 0;

struct CountedPoint : SDOPointType {
    ~CountedPoint() override { ++g_points_destroyed; }
};

}  // namespace

TEST(SdoClasses, RegistersPointTypeFirstWithStaticCallbacks) {
    RecordingEnvironment environment;
    RegisterClasses(&environment);
    ASSERT_EQ(environment.map.readers.size(), 2u);
    EXPECT_EQ(environment.map.readers[0].first, "MDSYS.SDO_POINT_TYPE");
    EXPECT_EQ(environment.map.readers[0].second, static_cast<ReadFunction>(&SDOPointType::readSQL));
    EXPECT_EQ(environment.map.writers[0], static_cast<WriteFunction>(&SDOPointType::writeSQL));
    EXPECT_EQ(environment.map.readers[1].first, "MDSYS.SDO_GEOMETRY");
    EXPECT_EQ(environment.map.readers[1].second, static_cast<ReadFunction>(&SDOGeometry::readSQL));
    EXPECT_EQ(environment.map.writers[1], static_cast<WriteFunction>(&SDOGeometry::writeSQL));
}

TEST(SdoClasses, GeometryOwnsItsPoint) {
    g_points_destroyed = 0;
    SDOGeometry* geometry = new SDOGeometry();
    geometry->setSdo_point(new CountedPoint());
    delete geometry;
    EXPECT_EQ(g_points_destroyed, 1);

    // Without a point nothing else is released.
    g_points_destroyed = 0;
    delete new SDOGeometry();
    EXPECT_EQ(g_points_destroyed, 0);
}

TEST(SdoClasses, NewObjectsHoldNullsAndAccessorsKeepValues) {
    SDOGeometry geometry;
    EXPECT_TRUE(geometry.getSdo_gtype().isNull());
    EXPECT_TRUE(geometry.getSdo_srid().isNull());
    EXPECT_EQ(geometry.getSdo_point(), nullptr);
    EXPECT_TRUE(geometry.getSdo_elem_info().empty());
    EXPECT_FALSE(geometry.isNull());
    EXPECT_EQ(geometry.getSQLTypeName(), "MDSYS.SDO_GEOMETRY");

    geometry.setSdo_gtype(Number(2003));
    geometry.setSdo_elem_info({Number(1), Number(1003), Number(1)});
    geometry.getSdo_ordinates().push_back(Number(0.1));
    EXPECT_EQ(static_cast<unsigned short>(geometry.getSdo_gtype()), 2003);
    EXPECT_EQ(geometry.getSdo_elem_info().size(), 3u);
    EXPECT_EQ(static_cast<double>(geometry.getSdo_ordinates()[0]), 0.1);

    SDOPointType point;
    point.setY(Number(-2.5));
    EXPECT_TRUE(point.getX().isNull());
    EXPECT_EQ(static_cast<double>(point.getY()), -2.5);
    EXPECT_EQ(point.getSQLTypeName(), "MDSYS.SDO_POINT_TYPE");
}
