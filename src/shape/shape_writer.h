// The writer of one shapefile set (.shp, .shx, .dbf, optional .prj).
#ifndef TARVEX_SHAPE_SHAPE_WRITER_H
#define TARVEX_SHAPE_SHAPE_WRITER_H

#include <occi.h>
#include <shapefil.h>

#include <map>
#include <string>
#include <vector>

#include "shape/curves.h"
#include "shape/reproject.h"

class SDOGeometry;
struct tvShpStream;
class SDOPointType;

// Coordinate arrays reused from one geometry to the next by the writer.
struct tvShapeBuffers {
    std::vector<double> x, y, z, m;
    std::vector<int> partStart, partType;
    std::vector<int> ringRole;
    std::vector<tvCurvePoint> curve;  // the points of one stroked curve
};

// How curves and geometries of another kind than the file's are converted:
// read from the settings ("arcs", "forcetype") when a file set is created.
struct tvConversionSettings {
    double arcStep = 0.0;  // radians a stroked segment may span; 0: curves are refused
    bool forced = false;   // the file's type was forced: rings may become lines, vertices points
};
tvConversionSettings tvReadConversionSettings();

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
    // Reads every attribute of the row first, then writes the shape, then the
    // attribute record: a row that fails leaves nothing behind.
    bool writeShapeRecord(SDOGeometry* p_geometry, oracle::occi::ResultSet* p_resultSet);
    bool writeShapeGeometry(SDOGeometry* p_geometry);
    // The same with the geometry's tvGTypeCode, read by the caller already.
    bool writeShapeRecord(SDOGeometry* p_geometry, unsigned short p_gtype, oracle::occi::ResultSet* p_resultSet);
    bool writeShapeGeometry(SDOGeometry* p_geometry, unsigned short p_gtype);
    bool writeDBFAttributes(oracle::occi::ResultSet* p_resultSet);
    bool writePrjFile(std::string p_filename, int p_srid);
    // Closes whatever is open, after one warning line per column and kind of
    // change for the values that were cut, cleaned, rounded or replaced by
    // NULL; false when a pending write could not be completed (the files are
    // then incomplete).
    bool closeShapeFile();
    int getRecordCount();

    // The largest size any file of the set may reach (see tvShpSetLimit);
    // from the next row on.
    void setMaxSize(unsigned long long p_bytes);
    // Whether the row with p_geometry fits the limit: its record (and the
    // rewrite of the records before, when it raises the type) in the .shp
    // and .shx, its attribute record in the .dbf. The geometry is converted
    // here; the next writeShapeRecord of the same geometry writes that
    // conversion. A geometry that cannot be converted counts as fitting:
    // writing it fails or writes a null shape, as it would. p_gtype: the
    // geometry's tvGTypeCode.
    bool rowFits(SDOGeometry* p_geometry, unsigned short p_gtype);
    // The file's shape type now (raised by rows that needed more).
    int shapeType() const;
    // The size of the largest file of the set so far.
    unsigned long long largestFileSize() const;

private:
    tvShpStream* _shpHandle;  // the open .shp/.shx pair, streamed
    DBFHandle _dbfHandle;
    std::vector<oracle::occi::MetaData> _metaData;
    std::map<std::string, int> _oracleTypes;
    std::map<std::string, int> _oraclePositions;
    std::map<std::string, int> _dbfPositions;
    std::map<std::string, DBFFieldType> _dbfTypes;
    int _currentRecord;

    // How a field's value is read from the result set.
    enum ValueSource {
        FROM_STRING,       // getString: VARCHAR2, CHAR and their national forms
        FROM_CLOB,         // getClob and Clob::read of the first characters
        FROM_DATE_TEXT,    // getDate, Date::toText with "date_fmt"
        FROM_STAMP_TEXT,   // getTimestamp, Timestamp::toText with "date_fmt"
        FROM_DATE,         // getDate as YYYYMMDD
        FROM_STAMP,        // getTimestamp as YYYYMMDD
        FROM_INT,          // getInt: integers of at most 9 digits
        FROM_NUMBER,       // getNumber and Number::toText: exact decimal text
        FROM_BFLOAT,       // getBFloat
        FROM_BDOUBLE       // getBDouble
    };

    // Values changed on their way into a field, counted per column for the
    // warnings at the end of the export.
    struct Changes {
        long cut = 0;        // text cut to the field width
        long replaced = 0;   // invalid UTF-8 replaced by U+FFFD
        long nul = 0;        // NUL characters replaced by spaces
        long nonFinite = 0;  // infinity or NaN written as NULL
        long rounded = 0;    // digits rounded to fit the width
        long unfit = 0;      // no form of the value fits the field: NULL
    };

    // One attribute field as defined in the DBF, kept in field name order so
    // that rows are written without map lookups.
    struct FieldInfo {
        std::string name;
        std::string column;  // the column's name as the query reports it
        int oraclePosition;
        int oracleType;
        int dbfPosition;
        DBFFieldType dbfType;
        int width;
        int decimals;
        ValueSource source;
        Changes changes;
        // FROM_NUMBER of a NUMBER(p) with p <= 18: whole numbers that fit a
        // 64-bit integer, read through the integer conversion.
        bool wholeNumber = false;
    };
    std::vector<FieldInfo> _fields;

    // The row being written: one value per field, in _fields order, read in
    // full before anything is written.
    struct PreparedValue {
        bool isNull;
        std::string text;  // right-aligned for numbers
    };
    std::vector<PreparedValue> _prepared;
    bool prepareAttributes(oracle::occi::ResultSet* p_resultSet);
    bool writePreparedAttributes();
    void reportChanges();
    // A query without attribute columns gets the field FID holding the record
    // number: a DBF without fields cannot hold records, and readers show no
    // features for shapes without a DBF record.
    int _fidField;
    std::string _filename;
    std::string _dateFmt;  // "date_fmt" at creation
    bool _ignore;          // "ignore" is "yes" at creation
    tvShapeBuffers _buffers;
    tvConversionSettings _conversion;  // at creation
    long _closedRings = 0;             // rings closed by repeating their first vertex
    long _nullShapes = 0;              // refused geometries written as null shapes ("ignore")
    tvReprojection _reprojection;      // "t_srs": the vertices' transformation
    unsigned long long _maxSize = 0xffffffffULL;  // of any one file
    bool dbfFits() const;                         // one more attribute record fits the limit
    // A geometry converted into _buffers: by rowFits, waiting for
    // writeShapeGeometry, or by writeShapeGeometry itself.
    struct Converted {
        bool valid = false;
        int built = 0;            // 0 a shape, 1 a null shape, 2 refused
        bool replaced = false;    // refused and written as a null shape ("ignore")
        int rowType = 0;          // the file's type, raised when the row needs more
        bool rowMeasured = false;
        int type = 0, parts = 0, vertices = 0;
        bool measured = false, partTypes = false;
        int closedRings = 0;
    };
    Converted _converted;
    SDOGeometry* _convertedGeometry = nullptr;
    // The last raisedShapeType worked out by convert, for a geometry.
    struct Raised {
        int fileType = -1;
        unsigned short gtype = 0;
        int rowType = 0;
    };
    Raised _raised;
    // Converts p_geometry, of tvGTypeCode p_gtype, into _converted; false
    // when it is refused and refusals are not tolerated (logged).
    bool convert(SDOGeometry* p_geometry, unsigned short p_gtype);
    void fillObject(SHPObject& p_object) const;

    bool writeShapeObject(SHPObject* p_object);
    // Logs the mended geometries of the file set and the geometries replaced
    // by null shapes (one [WARNING] line each) and resets the counts.
    void reportMendedRings();
};

// ESRI's WKT dialect of the EPSG coordinate system p_code, made by PROJ from
// its database; false, with the reason in p_reason, when PROJ cannot.
bool esriWktFromEpsg(int p_code, std::string& p_wkt, std::string& p_reason);

SHPObject* createShapePointFromSdoPoint(SDOPointType* p_point, unsigned short p_gtype);
SHPObject* createShapePointFromOrdinates(SDOGeometry* p_geometry);
SHPObject* createMultiShapePointFromOrdinates(SDOGeometry* p_geometry);
SHPObject* createLineFromOrdinates(SDOGeometry* p_geometry);
SHPObject* createPolygonFromOrdinates(SDOGeometry* p_geometry, SHPHandle p_shpHandle);

#endif
