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

// A text column as the client describes it: the size in bytes, and for
// character semantics or a national type the length in characters.
MetaData textColumn(const std::string& p_name, int p_type, int p_bytes, bool p_charUsed, int p_chars,
                    bool p_national) {
    MetaData meta(p_name, p_type, p_bytes, 0, 0);
    meta.setCharacterAttributes(p_charUsed, p_chars,
                                p_national ? oracle::occi::OCCI_SQLCS_NCHAR : oracle::occi::OCCI_SQLCS_IMPLICIT);
    return meta;
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
        column("doc", 113, 4000, 0, 0),       // BLOB: not exported
        column("geom2", 108, 0, 0, 0),        // an object column: not exported
        column("NATIVE", 3, 4, 0, 0),
        column("WIDE", 2, 22, 38, 2),         // NUMBER(38,2)
        column("INTEGER", 2, 22, 38, 0),      // INTEGER, NUMBER(*,0)
        column("DECIMAL", 2, 22, 0, 0),       // scale 0, precision not reported
        column("ID17", 2, 22, 17, 0),         // NUMBER(17): GDAL's 64-bit integers
        column("ID12", 2, 22, 12, 0),         // NUMBER(12): width as it always was
        column("SINGLE", 100, 4, 0, 0),       // BINARY_FLOAT
        column("DOUBLE", 101, 8, 0, 0),       // BINARY_DOUBLE
        column("MEMO", 112, 4000, 0, 0),      // CLOB
        column("LOCAL", 232, 11, 0, 6),       // TIMESTAMP WITH LOCAL TIME ZONE
        column("SPAN", 190, 11, 2, 6),        // INTERVAL DAY TO SECOND: not exported
        textColumn("CHARS", 1, 20, true, 5, false),    // VARCHAR2(5 CHAR)
        textColumn("NATIONAL", 1, 10, true, 5, true),  // NVARCHAR2(5)
        textColumn("NFIXED", 96, 4, true, 2, true),    // NCHAR(2)
        textColumn("BYTES", 1, 7, false, 7, false),    // VARCHAR2(7 BYTE)
        textColumn("HUGECHARS", 1, 4000, true, 1000, false),
    };
    std::string base = makeTempDir() + "/schema";
    tvShapeWriter writer;
    testing::internal::CaptureStdout();
    ASSERT_TRUE(writer.createShapeFile(base, SHPT_POINT, columns, "geom", -1));
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("[WARNING] Unsupported Oracle type in field : doc\n"), std::string::npos) << out;
    EXPECT_NE(out.find("[WARNING] Unsupported Oracle type in field : geom2\n"), std::string::npos) << out;
    EXPECT_NE(out.find("[WARNING] Unsupported Oracle type in field : SPAN\n"), std::string::npos) << out;
    ASSERT_TRUE(writer.closeShapeFile());

    std::vector<Field> expected = {
        {"ID", 'N', 6, 0},        {"CODE", 'N', 9, 0},
        {"DESCRIPT02", 'C', 255, 0}, {"BIG", 'N', 11, 0},
        {"RATIO", 'N', 12, 2},     {"HUGE", 'N', 39, 0},
        {"FREE", 'N', 24, 15},     {"REAL", 'N', 24, 15},
        {"HUNDREDS", 'N', 8, 0},   {"TINY", 'N', 8, 5},
        {"NOTES", 'C', 255, 0},    {"STATE", 'C', 2, 0},
        {"STREETNAME", 'C', 20, 0}, {"BORN", 'D', 8, 0},
        {"SEEN", 'D', 8, 0},         {"NATIVE", 'N', 5, 0},
        {"WIDE", 'N', 40, 2},        {"INTEGER", 'N', 39, 0},
        {"DECIMAL", 'N', 39, 0},     {"ID17", 'N', 18, 0},
        {"ID12", 'N', 14, 0},
        {"SINGLE", 'N', 24, 15},     {"DOUBLE", 'N', 24, 15},
        {"MEMO", 'C', 255, 0},       {"LOCAL", 'D', 8, 0},
        {"CHARS", 'C', 20, 0},       {"NATIONAL", 'C', 15, 0},
        {"NFIXED", 'C', 6, 0},       {"BYTES", 'C', 7, 0},
        {"HUGECHARS", 'C', 255, 0},
    };
    EXPECT_EQ(dbfFields(base), expected);
    EXPECT_EQ(readFile(base + ".cpg"), "UTF-8");

    // With "date_fmt" dates and timestamps become text as wide as the longest
    // text the format gives.
    settings.set("date_fmt", "dd/mm/yyyy hh:mi:ss");
    std::string base2 = makeTempDir() + "/dates";
    tvShapeWriter dated;
    ASSERT_TRUE(dated.createShapeFile(base2, SHPT_POINT,
                                      {column("BORN", 12, 7, 0, 0), column("SEEN", 188, 13, 0, 6)},
                                      "GEOM", -1));
    dated.closeShapeFile();
    EXPECT_EQ(dbfFields(base2), (std::vector<Field>{{"BORN", 'C', 19, 0}, {"SEEN", 'C', 19, 0}}));
    settings.set("date_fmt", "Day dd Month yyyy");
    std::string base3 = makeTempDir() + "/names";
    tvShapeWriter named;
    ASSERT_TRUE(named.createShapeFile(base3, SHPT_POINT, {column("BORN", 12, 7, 0, 0)}, "GEOM", -1));
    named.closeShapeFile();
    EXPECT_EQ(dbfFields(base3), (std::vector<Field>{{"BORN", 'C', 27, 0}}));
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

TEST(AttributeRecords, NoValueFailsTheRowForItsSize) {
    SettingsGuard settings;
    std::string base = makeTempDir() + "/unfit";
    tvShapeWriter writer;
    ASSERT_TRUE(writer.createShapeFile(base, SHPT_NULL,
                                       {column("ID", 2, 22, 5, 0), column("RATIO", 2, 22, 10, 2),
                                        column("LABEL", 1, 3, 0, 0)},
                                       "GEOM", -1));
    ScriptedResultSet rows({Cell::integer(7), Cell::real(0.5), Cell::string("x")});
    ASSERT_TRUE(writer.writeShapeRecord(nullptr, &rows));
    // Wider than the fields: exponent form, and text cut at a character.
    rows.setRow({Cell::integer(7), Cell::real(1e15), Cell::string("aé€")});
    ASSERT_TRUE(writer.writeShapeRecord(nullptr, &rows));
    rows.setRow({Cell::integer(7), Cell::real(-1.234567890123e300), Cell::string("€€")});
    ASSERT_TRUE(writer.writeShapeRecord(nullptr, &rows));
    EXPECT_EQ(writer.getRecordCount(), 3);
    testing::internal::CaptureStdout();
    EXPECT_TRUE(writer.closeShapeFile());
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out,
              "[WARNING] Text cut to the field width in 2 rows of column : LABEL\n"
              "[WARNING] Numbers rounded to the field width in 1 row of column : RATIO\n");

    DBFHandle dbf = DBFOpen((base + ".dbf").c_str(), "rb");
    ASSERT_NE(dbf, nullptr);
    EXPECT_STREQ(DBFReadStringAttribute(dbf, 1, 1), "1e+15");
    EXPECT_EQ(DBFReadDoubleAttribute(dbf, 1, 1), 1e15);
    EXPECT_STREQ(DBFReadStringAttribute(dbf, 2, 1), "-1.2346e+300");
    EXPECT_STREQ(DBFReadStringAttribute(dbf, 1, 2), "aé");
    EXPECT_STREQ(DBFReadStringAttribute(dbf, 2, 2), "€");
    DBFClose(dbf);
}

TEST(AttributeRecords, UnconstrainedNumbersKeepEveryDigit) {
    SettingsGuard settings;
    std::string base = makeTempDir() + "/large";
    tvShapeWriter writer;
    // NUMBER without precision and BINARY_DOUBLE: width 24, 15 decimals.
    ASSERT_TRUE(writer.createShapeFile(base, SHPT_NULL,
                                       {column("AMOUNT", 2, 22, 0, -127), column("MEASURE", 101, 8, 0, 0),
                                        column("SINGLE", 100, 4, 0, 0)},
                                       "GEOM", -1));
    const double values[] = {1234567890123456.5, -98765432109876543.0, 1e19,  0.25, 0.000001,
                             3.14159265,         1e-10,                1e125, 1e100, -0.0,
                             1.0 / 3.0,          123456789.123456789,  -2.5e-300};
    // BINARY_FLOAT gets the values a float holds.
    auto single = [](double p_value) {
        float value = static_cast<float>(p_value);
        return std::isfinite(value) ? value : 1.5f;
    };
    for (double value : values) {
        ScriptedResultSet rows({Cell::real(value), Cell::real(value), Cell::real(single(value))});
        EXPECT_TRUE(writer.writeShapeRecord(nullptr, &rows)) << value;
    }
    ScriptedResultSet special({Cell::null(), Cell::real(INFINITY), Cell::real(NAN)});
    EXPECT_TRUE(writer.writeShapeRecord(nullptr, &special));
    special.setRow({Cell::null(), Cell::real(-INFINITY), Cell::real(1e39)});  // beyond a float
    EXPECT_TRUE(writer.writeShapeRecord(nullptr, &special));
    testing::internal::CaptureStdout();
    ASSERT_TRUE(writer.closeShapeFile());
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out,
              "[WARNING] Infinity or NaN written as NULL in 2 rows of column : MEASURE\n"
              "[WARNING] Infinity or NaN written as NULL in 2 rows of column : SINGLE\n");

    DBFHandle dbf = DBFOpen((base + ".dbf").c_str(), "rb");
    ASSERT_NE(dbf, nullptr);
    const int count = static_cast<int>(sizeof values / sizeof values[0]);
    for (int i = 0; i < count; ++i) {
        EXPECT_EQ(DBFReadDoubleAttribute(dbf, i, 0), values[i]) << i;
        EXPECT_EQ(DBFReadDoubleAttribute(dbf, i, 1), values[i]) << i;
        EXPECT_EQ(static_cast<float>(DBFReadDoubleAttribute(dbf, i, 2)), single(values[i])) << i;
    }
    EXPECT_STREQ(DBFReadStringAttribute(dbf, 0, 0), "1234567890123456.5000000");
    EXPECT_STREQ(DBFReadStringAttribute(dbf, 4, 0), "0.000001000000000");
    EXPECT_STREQ(DBFReadStringAttribute(dbf, 7, 0), "1e+125");
    EXPECT_STREQ(DBFReadStringAttribute(dbf, 9, 1), "-0.000000000000000");
    EXPECT_STREQ(DBFReadStringAttribute(dbf, 10, 1), "3.333333333333333e-01");
    // A float shows its own shortest digits.
    EXPECT_STREQ(DBFReadStringAttribute(dbf, 10, 2), "0.333333340000000");
    for (int field = 0; field < 3; ++field) EXPECT_TRUE(DBFIsAttributeNULL(dbf, count, field)) << field;
    EXPECT_TRUE(DBFIsAttributeNULL(dbf, count + 1, 2));
    DBFClose(dbf);

    if (!gdalAvailable()) GTEST_SKIP() << "GDAL's Python bindings are not available";
    std::string read = runPython(
        "from osgeo import ogr\n"
        "ds = ogr.Open('" + base + ".dbf')\n"
        "for f in ds.GetLayer(0):\n"
        "    print(repr(f.GetField(0)), repr(f.GetField(1)))\n");
    std::istringstream lines(read);
    std::string line;
    for (int i = 0; i < count; ++i) {
        ASSERT_TRUE(std::getline(lines, line)) << read;
        std::istringstream words(line);
        std::string first, second;
        words >> first >> second;
        EXPECT_EQ(std::strtod(first.c_str(), nullptr), values[i]) << line;
        EXPECT_EQ(std::strtod(second.c_str(), nullptr), values[i]) << line;
    }
    ASSERT_TRUE(std::getline(lines, line));
    EXPECT_EQ(line, "None None");
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

// Values a NUMBER(p,s) column can hold are stored as shapelib itself would
// format them; integers of any precision keep every digit.
TEST(AttributeRecords, NumbersOfAPrecisionAsShapelibFormatsThem) {
    SettingsGuard settings;
    std::vector<MetaData> columns = {column("RATIO", 2, 22, 10, 2), column("ID", 2, 22, 8, 0),
                                     column("TINY", 2, 22, 3, 5)};
    std::string dir = makeTempDir();
    tvShapeWriter writer;
    ASSERT_TRUE(writer.createShapeFile(dir + "/ours", SHPT_NULL, columns, "GEOM", -1));
    DBFHandle reference = DBFCreate((dir + "/reference.dbf").c_str());
    ASSERT_NE(reference, nullptr);
    ASSERT_EQ(DBFAddField(reference, "ID", FTInteger, 9, 0), 0);
    ASSERT_EQ(DBFAddField(reference, "RATIO", FTDouble, 12, 2), 1);
    ASSERT_EQ(DBFAddField(reference, "TINY", FTDouble, 8, 5), 2);

    std::mt19937 random(7);
    std::uniform_int_distribution<long long> ratio(-9999999999LL, 9999999999LL);
    std::uniform_int_distribution<int> id(-99999999, 99999999);
    std::uniform_int_distribution<int> tiny(-999, 999);
    for (int i = 0; i < 2000; ++i) {
        // The values the columns can hold: whole hundredths, whole units,
        // whole hundred-thousandths.
        double r = static_cast<double>(ratio(random)) / 100;
        int n = i < 10 ? (i - 5) * 19999999 : id(random);
        double t = static_cast<double>(tiny(random)) / 100000;
        ScriptedResultSet cells({Cell::real(r), Cell::integer(n), Cell::real(t)});
        ASSERT_TRUE(DBFWriteIntegerAttribute(reference, i, 0, n) && DBFWriteDoubleAttribute(reference, i, 1, r) &&
                    DBFWriteDoubleAttribute(reference, i, 2, t));
        ASSERT_TRUE(writer.writeShapeRecord(nullptr, &cells)) << r << " " << n << " " << t;
    }
    testing::internal::CaptureStdout();
    ASSERT_TRUE(writer.closeShapeFile());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");  // nothing rounded or cut
    DBFClose(reference);

    DBFHandle ours = DBFOpen((dir + "/ours.dbf").c_str(), "rb");
    reference = DBFOpen((dir + "/reference.dbf").c_str(), "rb");
    EXPECT_EQ(DBFGetRecordCount(ours), 2000);
    for (int i = 0; i < 2000; ++i) {
        // Raw records: deletion flag and 12 + 9 + 8 bytes (RATIO, ID, TINY),
        // in the reference ID, RATIO, TINY.
        std::string mine(DBFReadTuple(ours, i), 30);
        std::string theirs(DBFReadTuple(reference, i), 30);
        EXPECT_EQ(mine.substr(1, 12), theirs.substr(10, 12)) << i;
        EXPECT_EQ(mine.substr(13, 9), theirs.substr(1, 9)) << i;
        EXPECT_EQ(mine.substr(22, 8), theirs.substr(22, 8)) << i;
    }
    DBFClose(ours);
    DBFClose(reference);
}

TEST(AttributeRecords, IntegersOfAnyPrecisionKeepEveryDigit) {
    SettingsGuard settings;
    std::string base = makeTempDir() + "/integers";
    tvShapeWriter writer;
    ASSERT_TRUE(writer.createShapeFile(base, SHPT_NULL,
                                       {column("HUGE", 2, 22, 38, 0), column("DECIMAL", 2, 22, 0, 0),
                                        column("ID17", 2, 22, 17, 0)},
                                       "GEOM", -1));
    const char* values[][3] = {
        {"999999999999999999", "2147483648", "99999999999999999"},
        {"-9223372036854775807", "-9223372036854775807", "-9999999999999999"},
        {"12345678901234", "12345678901234", "-12345678901234"},
    };
    for (const auto& row : values) {
        ScriptedResultSet rows({Cell::string(row[0]), Cell::string(row[1]), Cell::string(row[2])});
        ASSERT_TRUE(writer.writeShapeRecord(nullptr, &rows));
    }
    testing::internal::CaptureStdout();
    ASSERT_TRUE(writer.closeShapeFile());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    DBFHandle dbf = DBFOpen((base + ".dbf").c_str(), "rb");
    ASSERT_NE(dbf, nullptr);
    for (int i = 0; i < 3; ++i) {
        for (int field = 0; field < 3; ++field) {
            std::string text = DBFReadStringAttribute(dbf, i, field);
            EXPECT_EQ(text.substr(text.find_first_not_of(' ')), values[i][field]) << i << " " << field;
        }
    }
    DBFClose(dbf);
}

TEST(AttributeRecords, TextIsMadeValidAndCutAtACharacter) {
    SettingsGuard settings;
    std::string base = makeTempDir() + "/texts";
    tvShapeWriter writer;
    ASSERT_TRUE(writer.createShapeFile(base, SHPT_NULL,
                                       {textColumn("CHARS", 1, 20, true, 5, false),
                                        textColumn("NATIONAL", 1, 10, true, 5, true),
                                        column("MEMO", 112, 4000, 0, 0), column("LABEL", 1, 6, 0, 0)},
                                       "GEOM", -1));
    const std::string cjk = "東京都渋谷";  // 5 characters, 15 bytes
    const std::string megabyte(1 << 20, 'x');
    std::string wide;  // 100 characters of 3 bytes
    for (int i = 0; i < 20; ++i) wide += cjk;
    ScriptedResultSet rows({Cell::string(cjk), Cell::string(cjk), Cell::string(megabyte), Cell::string("ok")});
    ASSERT_TRUE(writer.writeShapeRecord(nullptr, &rows));
    rows.setRow({Cell::string("a\xFF" "b"), Cell::string(std::string("a\0b", 3)), Cell::string(wide),
                 Cell::string("Zürich!")});
    ASSERT_TRUE(writer.writeShapeRecord(nullptr, &rows));
    rows.setRow({Cell::null(), Cell::null(), Cell::null(), Cell::null()});
    ASSERT_TRUE(writer.writeShapeRecord(nullptr, &rows));
    testing::internal::CaptureStdout();
    ASSERT_TRUE(writer.closeShapeFile());
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out,
              "[WARNING] Invalid UTF-8 replaced by U+FFFD in 1 row of column : CHARS\n"
              "[WARNING] Text cut to the field width in 1 row of column : LABEL\n"
              "[WARNING] Text cut to the field width in 2 rows of column : MEMO\n"
              "[WARNING] NUL characters replaced by spaces in 1 row of column : NATIONAL\n");

    DBFHandle dbf = DBFOpen((base + ".dbf").c_str(), "rb");
    ASSERT_NE(dbf, nullptr);
    // Fields in column order: CHARS, NATIONAL, MEMO, LABEL.
    EXPECT_EQ(std::string(DBFReadStringAttribute(dbf, 0, 0)), cjk);
    EXPECT_EQ(std::string(DBFReadStringAttribute(dbf, 0, 1)), cjk);
    EXPECT_EQ(std::string(DBFReadStringAttribute(dbf, 0, 2)), std::string(255, 'x'));
    EXPECT_EQ(std::string(DBFReadStringAttribute(dbf, 0, 3)), "ok");
    EXPECT_EQ(std::string(DBFReadStringAttribute(dbf, 1, 0)), "a\xEF\xBF\xBD" "b");
    EXPECT_EQ(std::string(DBFReadStringAttribute(dbf, 1, 1)), "a b");
    EXPECT_EQ(std::string(DBFReadStringAttribute(dbf, 1, 2)), wide.substr(0, 255));
    EXPECT_EQ(std::string(DBFReadStringAttribute(dbf, 1, 3)), "Züric");
    for (int field = 0; field < 4; ++field) EXPECT_TRUE(DBFIsAttributeNULL(dbf, 2, field)) << field;
    DBFClose(dbf);
}

namespace {

// A result set whose text getter fails on demand, as a lost connection would.
class FailingResultSet : public ScriptedResultSet {
public:
    using ScriptedResultSet::ScriptedResultSet;
    bool fail = false;
    std::string getString(unsigned int p_column) override {
        if (fail) throw oracle::occi::SQLException(3113, "ORA-03113: end-of-file on communication channel");
        return ScriptedResultSet::getString(p_column);
    }
};

}  // namespace

// A row that fails leaves neither its shape nor any of its attributes.
TEST(AttributeRecords, ARowIsWrittenWhole) {
    SettingsGuard settings;
    std::string base = makeTempDir() + "/whole";
    tvShapeWriter writer;
    ASSERT_TRUE(writer.createShapeFile(base, SHPT_POINT,
                                       {column("ID", 2, 22, 5, 0), column("LABEL", 1, 10, 0, 0)}, "GEOM", -1));
    GeometryHolder point = pointGeometry(2001, 1, 2, NUL);
    FailingResultSet rows({Cell::integer(1), Cell::string("one")});
    ASSERT_TRUE(writer.writeShapeRecord(point.get(), &rows));
    rows.fail = true;
    rows.setRow({Cell::integer(2), Cell::string("two")});
    EXPECT_THROW(writer.writeShapeRecord(point.get(), &rows), oracle::occi::SQLException);
    // A geometry the writer refuses, after the attributes were read.
    rows.fail = false;
    GeometryHolder line = geometry(2002, {1, 2, 1}, {0, 0, 1, 1});
    testing::internal::CaptureStdout();
    EXPECT_FALSE(writer.writeShapeRecord(line.get(), &rows));
    testing::internal::GetCapturedStdout();
    rows.setRow({Cell::integer(3), Cell::string("three")});
    ASSERT_TRUE(writer.writeShapeRecord(point.get(), &rows));
    EXPECT_EQ(writer.getRecordCount(), 2);
    ASSERT_TRUE(writer.closeShapeFile());

    SHPHandle shp = SHPOpen((base + ".shp").c_str(), "rb");
    ASSERT_NE(shp, nullptr);
    int shapes = 0;
    SHPGetInfo(shp, &shapes, nullptr, nullptr, nullptr);
    SHPClose(shp);
    EXPECT_EQ(shapes, 2);
    DBFHandle dbf = DBFOpen((base + ".dbf").c_str(), "rb");
    ASSERT_NE(dbf, nullptr);
    EXPECT_EQ(DBFGetRecordCount(dbf), 2);
    EXPECT_EQ(DBFReadIntegerAttribute(dbf, 1, 0), 3);
    EXPECT_STREQ(DBFReadStringAttribute(dbf, 1, 1), "three");
    DBFClose(dbf);
}
