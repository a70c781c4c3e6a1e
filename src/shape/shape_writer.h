// The writer of one shapefile set (.shp, .shx, .dbf, optional .prj).
#ifndef TARVEX_SHAPE_SHAPE_WRITER_H
#define TARVEX_SHAPE_SHAPE_WRITER_H

#include <occi.h>
#include <shapefil.h>

#include <map>
#include <string>
#include <vector>

class SDOGeometry;
class SDOPointType;

bool isOraDateType(int code);
bool isOracleDataTypeSupported(int code);
DBFFieldType getDBFTypeFromOracleType(int code);

class tvShapeWriter {
public:
    tvShapeWriter();
    ~tvShapeWriter();
    tvShapeWriter(const tvShapeWriter&) = delete;
    tvShapeWriter& operator=(const tvShapeWriter&) = delete;

    bool createShapeFile(std::string p_filename, unsigned short p_shapeType,
                         std::vector<oracle::occi::MetaData> p_metaData,
                         std::string p_geom_column, int p_srid);
    bool writeShapeRecord(SDOGeometry* p_geometry, oracle::occi::ResultSet* p_resultSet);
    bool writeShapeGeometry(SDOGeometry* p_geometry);
    bool writeDBFAttributes(oracle::occi::ResultSet* p_resultSet);
    bool writePrjFile(std::string p_filename, int p_srid);
    // Closes whatever is open; false when a pending write could not be
    // completed (the files are then incomplete).
    bool closeShapeFile();
    int getRecordCount();

private:
    SHPHandle _shpHandle;
    DBFHandle _dbfHandle;
    std::vector<oracle::occi::MetaData> _metaData;
    std::map<std::string, int> _oracleTypes;
    std::map<std::string, int> _oraclePositions;
    std::map<std::string, int> _dbfPositions;
    std::map<std::string, DBFFieldType> _dbfTypes;
    int _currentRecord;
};

SHPObject* createShapePointFromSdoPoint(SDOPointType* p_point, unsigned short p_gtype);
SHPObject* createShapePointFromOrdinates(SDOGeometry* p_geometry);
SHPObject* createMultiShapePointFromOrdinates(SDOGeometry* p_geometry);
SHPObject* createLineFromOrdinates(SDOGeometry* p_geometry);
SHPObject* createPolygonFromOrdinates(SDOGeometry* p_geometry, SHPHandle p_shpHandle);

#endif
