// Internals of the embedded client shared between its source files. Program
// code never includes this header; it includes <occi.h> only.
#ifndef TARVEX_EMBEDDED_INTERNAL_H
#define TARVEX_EMBEDDED_INTERNAL_H

#include <occi.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;

namespace oracle {
namespace occi {
namespace embedded {

// ---------------------------------------------------------------- errors

// Throws SQLException with message "ORA-NNNNN: text".
[[noreturn]] void raise(int code, const std::string& text);

// ---------------------------------------------------------------- types

// What the client reports for a column: external type code, size,
// precision, scale and, for object types, the type's name and owner.
struct ColumnType {
    int code = 1;
    int size = 0;
    // Text declared in characters (CHAR semantics, NCHAR, NVARCHAR2): its
    // length limit counts characters, not bytes. Only used while a table is
    // created.
    int charLimit = 0;
    int precision = 0;
    int scale = 0;
    // Text and CLOB columns: declared with CHAR semantics (or national),
    // their length in characters, the character set form (1 database, 2
    // national; 0 for other types).
    bool charUsed = false;
    int charSize = 0;
    int charsetForm = 0;
    std::string typeName;
    std::string typeSchema;
};

enum TypeCode {
    TC_VARCHAR2 = 1,
    TC_NUMBER = 2,
    TC_LONG = 8,
    TC_DATE = 12,
    TC_RAW = 23,
    TC_LONG_RAW = 24,
    TC_CHAR = 96,
    TC_BINARY_FLOAT = 100,
    TC_BINARY_DOUBLE = 101,
    TC_OBJECT = 108,
    TC_CLOB = 112,
    TC_BLOB = 113,
    TC_TIMESTAMP = 187,
    TC_TIMESTAMP_TZ = 188,
    TC_TIMESTAMP_LTZ = 232
};

// ---------------------------------------------------------------- tokens

struct Token {
    // BLOB: never made by the tokenizer; a value the rewrite binds as a
    // blob (an SDO array's stored form)
    enum Kind { SPACE, COMMENT, STRING, QUOTED, NUMBER, IDENT, BIND, OP, BLOB };
    Kind kind;
    std::string text;  // IDENT: upper case; others verbatim
    int line;          // 1-based line of the token's start
    size_t offset;     // where it starts in the text (IDENT as written:
                       // text.size() bytes from there)
};

// Splits SQL text into tokens; unquoted identifiers are upper-cased.
std::vector<Token> tokenize(const std::string& sql);
// The name an identifier token stands for: a quoted one without its quotes
// (a doubled quote stands for one), any other as it is.
std::string nameOf(const Token& t);

// Parses an Oracle column type from its tokens (no spaces or comments);
// sets the reported type and the SQLite affinity the column is stored with.
// False when the type is not known.
bool parseOracleType(const std::vector<Token>& tokens, ColumnType& type,
                     std::string& affinity);

// ---------------------------------------------------------------- rewrite

// Answers the rewrite's questions about schemas.
class SchemaResolver {
public:
    virtual ~SchemaResolver() {}
    // The SQLite database name under which schema NAME is reachable,
    // attaching it when needed; empty when NAME is not a schema.
    virtual std::string schemaAlias(const std::string& name) = 0;
    // Database name of the current schema ("main" for a user's session);
    // raises ORA-01435 when an administrator has none.
    virtual std::string currentAlias() = 0;
    // The session user, the value of USER.
    virtual std::string sessionUser() const = 0;
    // Whether unqualified table names are to be qualified with the current
    // schema (administrator sessions).
    virtual bool qualifyTables() const = 0;
    // Called for a quoted table name (NAME without its quotes) in a FROM,
    // JOIN, INTO or UPDATE position, in schema ALIAS or unqualified (ALIAS
    // empty): raises ORA-00942 when the schema holds the name only in
    // another letter case (SQLite's names ignore case, Oracle's quoted
    // names do not).
    virtual void exactTable(const std::string& alias, const std::string& name) {
        (void)alias;
        (void)name;
    }
};

struct Rewritten {
    std::string sql;
    bool usesAllMetadata = false;
    // With hoisting: the literals taken out of the text, bound after the
    // statement's own placeholders (numbers userBinds + 1, ...).
    int userBinds = 0;
    std::vector<Token> literals;
};

// Rewrites one Oracle statement into SQLite's dialect. The forms are listed
// at the top of rewrite.cpp.
// hoistLiterals: an INSERT ... VALUES statement gets its literals replaced
// by placeholders, so that statements differing only in their values share
// one prepared statement.
// bindArrays: an SDO_ORDINATE_ARRAY / SDO_ELEM_INFO_ARRAY of more than 100
// literal numbers becomes one placeholder bound with the array's stored form
// (in literals), so that a large geometry costs its numbers, not a SQL
// expression per number. Only for statements that are run and bound.
Rewritten rewriteSql(const std::string& sql, SchemaResolver& resolver,
                     bool hoistLiterals = false, bool bindArrays = false);

// ---------------------------------------------------------------- geometry

// Stored form of an SDO_GEOMETRY (little-endian, 8-byte numbers):
//   0  'G', 1 version (1), 2 flags, 3 point flags
//   4  u32 element-info count, 8 u32 ordinate count, 12 u32 zero
//   16 f64 gtype, 24 f64 srid, 32/40/48 f64 point x/y/z
//   56 f64 elem_info[n], f64 ordinates[m]
//   then, when flagged, NULL bitmaps of elem_info and ordinates (bit i of
//   byte i/8 set = value i is NULL).
enum GeomFlags {
    GF_GTYPE_NULL = 1,
    GF_SRID_NULL = 2,
    GF_POINT = 4,
    GF_ELEM_NULL = 8,     // the whole array is NULL
    GF_ORD_NULL = 16,     // the whole array is NULL
    GF_ELEM_NULLS = 32,   // bitmap of NULL entries follows
    GF_ORD_NULLS = 64
};
enum PointFlags { PF_X_NULL = 1, PF_Y_NULL = 2, PF_Z_NULL = 4 };

const int GEOM_HEADER = 56;

struct GeomView {
    unsigned flags = 0, pointFlags = 0;
    uint32_t nElem = 0, nOrd = 0;
    double gtype = 0, srid = 0, x = 0, y = 0, z = 0;
    const unsigned char* elem = nullptr;
    const unsigned char* ord = nullptr;
    const unsigned char* elemNulls = nullptr;
    const unsigned char* ordNulls = nullptr;
};

// Checks and maps a stored geometry; false when it is not one.
bool decodeGeometry(const void* data, int size, GeomView& view);

inline double loadDouble(const unsigned char* p) {
    double d;
    __builtin_memcpy(&d, p, sizeof d);
    return d;
}

// Intermediate forms built by the SQL constructors.
//   point: 'P', flags, 6 zero bytes, f64 x, y, z (32 bytes)
//   array: 'A', 3 zero bytes, u32 n, f64[n], bitmap[(n+7)/8]
struct NumArray {
    std::vector<double> values;
    std::vector<bool> nulls;
};
std::string encodeArray(const NumArray& array);
bool decodeArray(const void* data, int size, NumArray& array);

// The context handed to a registered read function: AnyData streams the
// attributes from it in declared order.
struct ObjectContext {
    enum Kind { GEOMETRY, POINT };
    Kind kind = GEOMETRY;
    const GeomView* geom = nullptr;
    int position = 0;
    // what the read function reported (SQLException::setErrorCtx): made
    // only then, not for every value read
    std::optional<SQLException> error;
};

// The type name registered in env's type map for a read function.
bool lookupTypeName(Environment* env, void* (*rSQL)(void*), const std::string*& schema,
                    const std::string*& type);

// ---------------------------------------------------------------- values

struct DateTime {
    int year = 1;
    unsigned month = 1, day = 1, hour = 0, minute = 0, second = 0;
    unsigned fraction = 0;  // nanoseconds
    int fractionDigits = 0;
    bool hasZone = false;
    int tzHour = 0, tzMinute = 0;
};

// Parses the stored forms "YYYY-MM-DD[ HH24:MI:SS[.F{1,9}]][ +HH:MM]".
bool parseStoredDateTime(const char* text, size_t length, DateTime& value);
std::string storedDate(const DateTime& value);
std::string storedTimestamp(const DateTime& value, bool withZone);

// Renders by an Oracle datetime format model; FF without digits uses
// fsprec digits. Raises ORA-01821 for an unknown element.
std::string formatDateTime(const DateTime& value, const std::string& fmt,
                           unsigned fsprec, bool isTimestamp);
// Reads text by a format model (TO_DATE, TO_TIMESTAMP); raises ORA-01861
// and friends on a mismatch.
DateTime parseByFormat(const std::string& text, const std::string& fmt);

// Oracle's text of a number: "12", "-.5", "1234.5678".
std::string numberText(double value);
// The number by an Oracle number format model (Number::toText).
std::string formatNumber(bool exact, long long integer, double value, const std::string& model);
// Oracle's text of a BINARY_FLOAT / BINARY_DOUBLE: "1.5E+000", "Inf",
// "-Inf", "Nan".
std::string binaryText(double value, bool isFloat);

// ---------------------------------------------------------------- SQLite

// Registers the SQL functions and table functions of the Oracle forms.
void registerFunctions(sqlite3* db);
// ORA_HASH (ora_hash.cpp).
void registerHashFunction(sqlite3* db);

}  // namespace embedded
}  // namespace occi
}  // namespace oracle

#endif
