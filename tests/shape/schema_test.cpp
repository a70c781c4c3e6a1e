// The attribute schema and the attribute records: field names, types, widths
// and decimals read back from the DBF header, values and NULLs read back with
// shapelib and GDAL.
#include <gtest/gtest.h>
#include <shapefil.h>

#include <fstream>
#include <random>
#include <set>
#include <sstream>

#include "diag/log.h"
#include "shape/shape_test_util.h"
#include "shape/shape_writer.h"

using namespace shapetest;
using oracle::occi::MetaData;

namespace {

// A field as stored: name, dBASE type letter, width and decimals. (Integer
// and double fields are both numeric 'N' fields in the file.)
struct Field {
    std::string name;
    char type;
    int width;
    int decimals;
    bool operator==(const Field& o) const {
        return name == o.name && type == o.type && width == o.width && decimals == o.decimals;
    }
};

std::ostream& operator<<(std::ostream& out, const Field& f) {
    return out << f.name << " " << f.type << " " << f.width << "." << f.decimals;
}

std::vector<Field> dbfFields(const std::string& p_base) {
    std::vector<Field> fields;
    DBFHandle dbf = DBFOpen((p_base + ".dbf").c_str(), "rb");
    if (dbf == nullptr) return fields;
    for (int i = 0; i < DBFGetFieldCount(dbf); ++i) {
        char name[XBASE_FLDNAME_LEN_READ + 1];
        int width = 0, decimals = 0;
        DBFGetFieldInfo(dbf, i, name, &width, &decimals);
        fields.push_back({name, DBFGetNativeFieldType(dbf, i), width, decimals});
    }
    DBFClose(dbf);
    return fields;
}

std::string readFile(const std::string& p_path) {
    std::ifstream in(p_path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

MetaData column(const std::string& p_name, int p_type, int p_size, int p_precision, int p_scale) {
    return MetaData(p_name, p_type, p_size, p_precision, p_scale);
}

}  // namespace

TEST(AttributeSchema, FieldTypesWidthsAndDecimals) {
    SettingsGuard settings;
    g_args.erase("date_fmt");
    std::vector<MetaData> columns = {
        column("ID", 2, 22, 5, 0),            // NUMBER(5): room for the sign
        column("CODE", 2, 22, 8, 0),          // NUMBER(8,0)
        column("DESCRIPTION", 1, 300, 0, 0),  // index 3 once GEOM is counted
        column("GEOM", 108, 0, 0, 0),
        column("BIG", 2, 22, 9, 0),           // NUMBER(9)
        column("RATIO", 2, 22, 10, 2),        // NUMBER(10,2)
        column("HUGE", 2, 22, 38, 0),         // NUMBER(38)
        column("FREE", 2, 22, 0, -127),       // NUMBER
        column("REAL", 2, 22, 126, -127),     // FLOAT
        column("HUNDREDS", 2, 22, 5, -2),     // NUMBER(5,-2): up to 9999900
        column("TINY", 2, 22, 3, 5),          // NUMBER(3,5): up to 0.00999
        column("NOTES", 1, 4000, 0, 0),       // VARCHAR2(4000)
        column("STATE", 96, 2, 0, 0),         // CHAR(2)
        column("STREETNAME", 1, 20, 0, 0),
        column("BORN", 12, 7, 0, 0),
        column("SEEN", 187, 11, 0, 6),
        column("doc", 112, 4000, 0, 0),       // CLOB: not exported
        column("geom2", 108, 0, 0, 0),        // an object column: not exported
        column("NATIVE", 3, 4, 0, 0),
    };
    std::string base = makeTempDir() + "/schema";
    tvShapeWriter writer;
    testing::internal::CaptureStdout();
    ASSERT_TRUE(writer.createShapeFile(base, SHPT_POINT, columns, "geom", -1));
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("Unsupported Oracle type in field : doc\n"), std::string::npos) << out;
    EXPECT_NE(out.find("Unsupported Oracle type in field : geom2\n"), std::string::npos) << out;
    ASSERT_TRUE(writer.closeShapeFile());

    std::vector<Field> expected = {
        {"ID", 'N', 6, 0},        {"CODE", 'N', 9, 0},
        {"DESCRIPT02", 'C', 255, 0}, {"BIG", 'N', 11, 0},
        {"RATIO", 'N', 12, 2},     {"HUGE", 'N', 20, 0},
        {"FREE", 'N', 20, 4},      {"REAL", 'N', 20, 4},
        {"HUNDREDS", 'N', 8, 0},   {"TINY", 'N', 8, 5},
        {"NOTES", 'C', 255, 0},    {"STATE", 'C', 2, 0},
        {"STREETNAME", 'C', 20, 0}, {"BORN", 'D', 8, 0},
        {"SEEN", 'D', 8, 0},         {"NATIVE", 'N', 5, 0},
    };
    EXPECT_EQ(dbfFields(base), expected);
    EXPECT_EQ(readFile(base + ".cpg"), "UTF-8");

    // With "date_fmt" dates and timestamps become text one wider than it.
    settings.set("date_fmt", "dd/mm/yyyy hh:mi:ss");
    std::string base2 = makeTempDir() + "/dates";
    tvShapeWriter dated;
    ASSERT_TRUE(dated.createShapeFile(base2, SHPT_POINT,
                                      {column("BORN", 12, 7, 0, 0), column("SEEN", 188, 13, 0, 6)},
                                      "GEOM", -1));
    dated.closeShapeFile();
    EXPECT_EQ(dbfFields(base2), (std::vector<Field>{{"BORN", 'C', 20, 0}, {"SEEN", 'C', 20, 0}}));
}

TEST(AttributeSchema, FieldNamesAreUniqueAndKeepTheirCharacters) {
    SettingsGuard settings;
    std::vector<MetaData> columns = {
        column("NAME", 1, 10, 0, 0),
        column("NAME", 1, 10, 0, 0),          // the same name twice
        column("name", 1, 10, 0, 0),          // equal for DBF readers
        column("DESCRIPTION", 1, 10, 0, 0),   // DESCRIPT03
        column("DESCRIPT03", 1, 10, 0, 0),    // equal to the shortened name
        column("ABCDEFGÉXYZ", 1, 10, 0, 0),   // byte 8 inside É
        column("ÉÉÉÉÉÉ", 1, 10, 0, 0),        // 12 bytes, 6 characters
    };
    for (int i = static_cast<int>(columns.size()); i < 112; ++i) {
        columns.push_back(column("LONGCOLUMN_" + std::to_string(i), 2, 22, 5, 0));
    }
    std::string base = makeTempDir() + "/names";
    tvShapeWriter writer;
    ASSERT_TRUE(writer.createShapeFile(base, SHPT_POINT, columns, "GEOM", -1));

    // Every field receives its own column's value.
    std::vector<Cell> row;
    for (size_t i = 0; i < 7; ++i) row.push_back(Cell::string("v" + std::to_string(i)));
    for (int i = 7; i < 112; ++i) row.push_back(Cell::integer(i));
    ScriptedResultSet rows(row);
    ASSERT_TRUE(writer.writeShapeRecord(nullptr, &rows));
    ASSERT_TRUE(writer.closeShapeFile());

    std::vector<Field> fields = dbfFields(base);
    ASSERT_EQ(fields.size(), 112u);
    std::vector<std::string> names;
    for (const Field& f : fields) names.push_back(f.name);
    EXPECT_EQ(std::vector<std::string>(names.begin(), names.begin() + 7),
              (std::vector<std::string>{"NAME", "NAME_1", "name_2", "DESCRIPT03", "DESCRIPT_1",
                                        "ABCDEFG05", "ÉÉÉÉ06"}));
    EXPECT_EQ(names[10], "LONGCOLU10");
    EXPECT_EQ(names[11], "LONGCOLU11");
    EXPECT_EQ(names[99], "LONGCOLU99");
    // Indices 100 to 109 give "10" too, 110 and 111 give "11".
    EXPECT_EQ(names[100], "LONGCOLU_1");
    EXPECT_EQ(names[108], "LONGCOLU_9");
    EXPECT_EQ(names[109], "LONGCOL_10");
    EXPECT_EQ(names[110], "LONGCOL_11");
    EXPECT_EQ(names[111], "LONGCOL_12");
    std::set<std::string> unique;
    for (const std::string& name : names) {
        std::string key = name;
        for (char& c : key) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
        EXPECT_TRUE(unique.insert(key).second) << name;
        EXPECT_LE(name.size(), 10u) << name;
    }

    DBFHandle dbf = DBFOpen((base + ".dbf").c_str(), "rb");
    ASSERT_NE(dbf, nullptr);
    for (int i = 0; i < 7; ++i) {
        EXPECT_STREQ(DBFReadStringAttribute(dbf, 0, i), ("v" + std::to_string(i)).c_str());
    }
    for (int i = 7; i < 112; ++i) EXPECT_EQ(DBFReadIntegerAttribute(dbf, 0, i), i);
    DBFClose(dbf);
}

TEST(AttributeRecords, ValuesNullsAndCutText) {
    SettingsGuard settings;
    g_args.erase("date_fmt");
    std::vector<MetaData> columns = {
        column("ID", 2, 22, 5, 0),      column("RATIO", 2, 22, 10, 2),
        column("LABEL", 1, 4000, 0, 0), column("BORN", 12, 7, 0, 0),
        column("SEEN", 187, 11, 0, 6),  column("GEOM", 108, 0, 0, 0),
    };
    std::string base = makeTempDir() + "/values";
    tvShapeWriter writer;
    ASSERT_TRUE(writer.createShapeFile(base, SHPT_POINT, columns, "GEOM", -1));
    EXPECT_EQ(writer.getRecordCount(), 0);

    std::string greek = "Ποταμός";
    std::string longText(254, 'a');
    longText += "é and more";  // é straddles byte 255
    ScriptedResultSet rows({Cell::integer(-99999), Cell::real(-12345678.25), Cell::string(greek),
                            Cell::date(2023, 12, 31, 13, 14, 15), Cell::timestamp(1999, 1, 2, 3, 4, 5, 600000000)});
    GeometryHolder point = pointGeometry(2001, 1, 2, NUL);
    ASSERT_TRUE(writer.writeShapeRecord(point.get(), &rows));
    rows.setRow({Cell::null(), Cell::null(), Cell::null(), Cell::null(), Cell::null()});
    ASSERT_TRUE(writer.writeShapeRecord(nullptr, &rows));
    rows.setRow({Cell::integer(7), Cell::real(0.5), Cell::string(longText), Cell::null(), Cell::null()});
    ASSERT_TRUE(writer.writeShapeRecord(point.get(), &rows));
    EXPECT_EQ(writer.getRecordCount(), 3);

    ASSERT_TRUE(writer.closeShapeFile());
    EXPECT_FALSE(writer.writeShapeRecord(point.get(), &rows));

    DBFHandle dbf = DBFOpen((base + ".dbf").c_str(), "rb");
    ASSERT_NE(dbf, nullptr);
    // Fields in column order: ID, RATIO, LABEL, BORN, SEEN.
    EXPECT_EQ(DBFReadIntegerAttribute(dbf, 0, 0), -99999);
    EXPECT_EQ(DBFReadDoubleAttribute(dbf, 0, 1), -12345678.25);
    EXPECT_EQ(std::string(DBFReadStringAttribute(dbf, 0, 2)), greek);
    EXPECT_STREQ(DBFReadStringAttribute(dbf, 0, 3), "20231231");
    EXPECT_STREQ(DBFReadStringAttribute(dbf, 0, 4), "19990102");
    for (int field = 0; field < 5; ++field) EXPECT_TRUE(DBFIsAttributeNULL(dbf, 1, field)) << field;
    EXPECT_EQ(std::string(DBFReadStringAttribute(dbf, 2, 2)), std::string(254, 'a'));
    DBFClose(dbf);

    if (!gdalAvailable()) GTEST_SKIP() << "GDAL's Python bindings are not available";
    std::string read = runPython(
        "from osgeo import ogr\n"
        "ds = ogr.Open('" + base + ".shp')\n"
        "for f in ds.GetLayer(0):\n"
        "    print([f.GetField(i) if f.IsFieldSetAndNotNull(i) else None for i in range(f.GetFieldCount())])\n");
    EXPECT_EQ(read,
              "[-99999, -12345678.25, '" + greek + "', '2023/12/31', '1999/01/02']\n"
              "[None, None, None, None, None]\n"
              "[7, 0.5, '" + std::string(254, 'a') + "', None, None]\n");
}

TEST(AttributeRecords, AValueThatDoesNotFitFailsTheRow) {
    SettingsGuard settings;
    tvShapeWriter writer;
    ASSERT_TRUE(writer.createShapeFile(makeTempDir() + "/unfit", SHPT_NULL,
                                       {column("ID", 2, 22, 5, 0), column("RATIO", 2, 22, 10, 2),
                                        column("LABEL", 1, 4000, 0, 0)},
                                       "GEOM", -1));
    ScriptedResultSet rows({Cell::integer(7), Cell::real(0.5), Cell::string("x")});
    ASSERT_TRUE(writer.writeShapeRecord(nullptr, &rows));
    rows.setRow({Cell::integer(7), Cell::real(1e15), Cell::string("x")});
    testing::internal::CaptureStdout();
    EXPECT_FALSE(writer.writeShapeRecord(nullptr, &rows));
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("[ERROR] Value does not fit its DBF field : RATIO\n"), std::string::npos) << out;
    EXPECT_NE(out.find("[ERROR] Failed writing row : 2\n"), std::string::npos) << out;
    EXPECT_EQ(writer.getRecordCount(), 1);
    EXPECT_TRUE(writer.closeShapeFile());
}

TEST(AttributeRecords, LargeValuesKeepTheirDigitsWithFewerDecimals) {
    SettingsGuard settings;
    std::string base = makeTempDir() + "/large";
    tvShapeWriter writer;
    // NUMBER without precision: width 20, 4 decimals.
    ASSERT_TRUE(writer.createShapeFile(base, SHPT_NULL, {column("AMOUNT", 2, 22, 0, -127)}, "GEOM", -1));
    const double values[] = {1234567890123456.5, -98765432109876543.0, 1e19, 0.25};
    for (double value : values) {
        ScriptedResultSet rows({Cell::real(value)});
        EXPECT_TRUE(writer.writeShapeRecord(nullptr, &rows)) << value;
    }
    ASSERT_TRUE(writer.closeShapeFile());
    DBFHandle dbf = DBFOpen((base + ".dbf").c_str(), "rb");
    ASSERT_NE(dbf, nullptr);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(DBFReadDoubleAttribute(dbf, i, 0), values[i]) << i;
    }
    EXPECT_STREQ(DBFReadStringAttribute(dbf, 0, 0), "1234567890123456.500");
    DBFClose(dbf);
}

TEST(AttributeRecords, DatesAsTextWithTheDateFormat) {
    SettingsGuard settings;
    settings.set("date_fmt", "YYYY-MM-DD HH24:MI:SS");
    std::string base = makeTempDir() + "/texts";
    tvShapeWriter writer;
    ASSERT_TRUE(writer.createShapeFile(base, SHPT_NULL,
                                       {column("BORN", 12, 7, 0, 0), column("SEEN", 187, 11, 0, 6)},
                                       "GEOM", -1));
    ScriptedResultSet rows({Cell::date(2023, 12, 31, 13, 14, 15), Cell::timestamp(1999, 1, 2, 3, 4, 5, 0)});
    ASSERT_TRUE(writer.writeShapeRecord(nullptr, &rows));
    rows.setRow({Cell::null(), Cell::null()});
    ASSERT_TRUE(writer.writeShapeRecord(nullptr, &rows));
    ASSERT_TRUE(writer.closeShapeFile());

    DBFHandle dbf = DBFOpen((base + ".dbf").c_str(), "rb");
    ASSERT_NE(dbf, nullptr);
    EXPECT_STREQ(DBFReadStringAttribute(dbf, 0, 0), "2023-12-31 13:14:15");
    EXPECT_STREQ(DBFReadStringAttribute(dbf, 0, 1), "1999-01-02 03:04:05");
    EXPECT_TRUE(DBFIsAttributeNULL(dbf, 1, 0));
    DBFClose(dbf);
}

TEST(AttributeSchema, CreationFailures) {
    SettingsGuard settings;
    // Files in a folder that does not exist.
    tvShapeWriter missing;
    testing::internal::CaptureStdout();
    EXPECT_FALSE(missing.createShapeFile("/nonexistent/folder/x", SHPT_POINT, {}, "GEOM", -1));
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("[ERROR] Can't create shapefile : /nonexistent/folder/x\n"), std::string::npos) << out;
    EXPECT_NE(out.find("[ERROR] Can't create DBF file : /nonexistent/folder/x\n"), std::string::npos) << out;
    EXPECT_TRUE(missing.closeShapeFile());

    // A geometry-only query gets the record number field, so that readers see
    // one record per shape.
    std::string base = makeTempDir() + "/bare";
    tvShapeWriter bare;
    ASSERT_TRUE(bare.createShapeFile(base, SHPT_POINT, {column("GEOM", 108, 0, 0, 0)}, "GEOM", -1));
    ScriptedResultSet rows({});
    GeometryHolder point = pointGeometry(2001, 1, 2, NUL);
    ASSERT_TRUE(bare.writeShapeRecord(point.get(), &rows));
    ASSERT_TRUE(bare.writeShapeRecord(point.get(), &rows));
    ASSERT_TRUE(bare.closeShapeFile());
    EXPECT_EQ(dbfFields(base), (std::vector<Field>{{"FID", 'N', 11, 0}}));
    DBFHandle dbf = DBFOpen((base + ".dbf").c_str(), "rb");
    ASSERT_NE(dbf, nullptr);
    EXPECT_EQ(DBFGetRecordCount(dbf), 2);
    EXPECT_EQ(DBFReadIntegerAttribute(dbf, 1, 0), 1);
    DBFClose(dbf);
}

// Numbers are formatted without printf; the records must hold the very text
// shapelib's own formatting gives.
TEST(AttributeRecords, NumbersAreStoredAsShapelibFormatsThem) {
    SettingsGuard settings;
    std::vector<MetaData> columns = {column("RATIO", 2, 22, 10, 2), column("FREE", 2, 22, 0, -127),
                                     column("ID", 2, 22, 8, 0), column("TINY", 2, 22, 3, 5)};
    std::string dir = makeTempDir();
    tvShapeWriter writer;
    ASSERT_TRUE(writer.createShapeFile(dir + "/ours", SHPT_NULL, columns, "GEOM", -1));
    DBFHandle reference = DBFCreate((dir + "/reference.dbf").c_str());
    ASSERT_NE(reference, nullptr);
    ASSERT_EQ(DBFAddField(reference, "FREE", FTDouble, 20, 4), 0);
    ASSERT_EQ(DBFAddField(reference, "ID", FTInteger, 9, 0), 1);
    ASSERT_EQ(DBFAddField(reference, "RATIO", FTDouble, 12, 2), 2);
    ASSERT_EQ(DBFAddField(reference, "TINY", FTDouble, 8, 5), 3);

    std::mt19937 random(7);
    std::uniform_real_distribution<double> ratio(-99999999.99, 99999999.99);
    std::uniform_real_distribution<double> free(-1e12, 1e12);
    std::uniform_int_distribution<int> id(-99999999, 99999999);
    std::uniform_real_distribution<double> tiny(-0.00999, 0.00999);
    const double ties[] = {0.125, 2.675, 1.005, -0.005, -0.0, 0.0, 1e-9, -1e-9, 99999999.995, 0.015};
    int rows = 0;
    for (int i = 0; i < 2000; ++i) {
        double r = i < 10 ? ties[i] : ratio(random);
        double f = i < 10 ? ties[i] * 1000 : free(random);
        int n = i < 10 ? (i - 5) * 19999999 : id(random);
        double t = i == 8 ? 0.000125 : i < 10 ? ties[i] / 100 : tiny(random);
        ScriptedResultSet cells({Cell::real(r), Cell::real(f), Cell::integer(n), Cell::real(t)});
        bool fits = DBFWriteDoubleAttribute(reference, rows, 0, f) && DBFWriteIntegerAttribute(reference, rows, 1, n) &&
                    DBFWriteDoubleAttribute(reference, rows, 2, r) && DBFWriteDoubleAttribute(reference, rows, 3, t);
        testing::internal::CaptureStdout();
        EXPECT_EQ(writer.writeShapeRecord(nullptr, &cells), fits) << r << " " << f << " " << n << " " << t;
        testing::internal::GetCapturedStdout();
        if (!fits) break;
        ++rows;
    }
    ASSERT_TRUE(writer.closeShapeFile());
    DBFClose(reference);

    DBFHandle ours = DBFOpen((dir + "/ours.dbf").c_str(), "rb");
    reference = DBFOpen((dir + "/reference.dbf").c_str(), "rb");
    EXPECT_EQ(rows, 2000);
    EXPECT_EQ(DBFGetRecordCount(ours), rows);
    for (int i = 0; i < rows; ++i) {
        // Fields in column order: RATIO, FREE, ID, TINY.
        // Raw records: deletion flag and 12 + 20 + 9 + 8 bytes, not terminated.
        std::string mine(DBFReadTuple(ours, i), 50);
        std::string theirs(DBFReadTuple(reference, i), 50);
        EXPECT_EQ(mine.substr(1, 12), theirs.substr(30, 12)) << i;
        EXPECT_EQ(mine.substr(13, 20), theirs.substr(1, 20)) << i;
        EXPECT_EQ(mine.substr(33, 9), theirs.substr(21, 9)) << i;
        EXPECT_EQ(mine.substr(42, 8), theirs.substr(42, 8)) << i;
    }
    DBFClose(ours);
    DBFClose(reference);
}
