// Embedded implementation of the subset of the Oracle C++ Call Interface
// (oracle::occi) that tarvex uses, backed by SQLite databases on local disk.
//
// Every class, member and free function below has the real client's name,
// signature, default arguments and constness, so that program code compiles
// unchanged against the Oracle Instant Client SDK. Members marked
// "embedded only" exist for the client's own implementation and must not be
// used by program code.
#ifndef TARVEX_EMBEDDED_OCCI_H
#define TARVEX_EMBEDDED_OCCI_H

#include <cstddef>
#include <exception>
#include <string>
#include <vector>

namespace oracle {
namespace occi {

class Environment;
class Connection;
class Statement;
class ResultSet;
class MetaData;
class Number;
class Date;
class Timestamp;
class SQLException;
class PObject;
class AnyData;
class Map;
class Clob;

// ---------------------------------------------------------------- codes

// External type codes, as the real client's occiCommon.h names them (the
// subset this client reports or accepts).
enum Type {
    OCCI_SQLT_CHR = 1,
    OCCI_SQLT_NUM = 2,
    OCCIINT = 3,
    OCCIFLOAT = 4,
    OCCI_SQLT_STR = 5,
    OCCI_SQLT_LNG = 8,
    OCCI_SQLT_DAT = 12,
    OCCIBFLOAT = 21,
    OCCIBDOUBLE = 22,
    OCCI_SQLT_BIN = 23,
    OCCI_SQLT_LBI = 24,
    OCCI_SQLT_AFC = 96,
    OCCIIBFLOAT = 100,
    OCCIIBDOUBLE = 101,
    OCCI_SQLT_RDD = 104,
    OCCI_SQLT_NTY = 108,
    OCCI_SQLT_CLOB = 112,
    OCCI_SQLT_BLOB = 113,
    OCCI_SQLT_TIMESTAMP = 187,
    OCCI_SQLT_TIMESTAMP_TZ = 188,
    OCCI_SQLT_INTERVAL_YM = 189,
    OCCI_SQLT_INTERVAL_DS = 190,
    OCCI_SQLT_TIMESTAMP_LTZ = 232
};

// Character set form of a text or CLOB value (ATTR_CHARSET_FORM).
enum CharSetForm {
    OCCI_SQLCS_IMPLICIT = 1,  // the database character set
    OCCI_SQLCS_NCHAR = 2,     // the national character set
    OCCI_SQLCS_EXPLICIT = 3,
    OCCI_SQLCS_FLEXIBLE = 4,
    OCCI_SQLCS_LIT_NULL = 5
};

// BINARY_FLOAT and BINARY_DOUBLE values (ResultSet::getBFloat/getBDouble).
struct BFloat {
    float value;
    bool isNull;
    BFloat() : value(0), isNull(false) {}
};

struct BDouble {
    double value;
    bool isNull;
    BDouble() : value(0), isNull(false) {}
};

// ---------------------------------------------------------------- errors

class SQLException : public std::exception {
public:
    SQLException();
    SQLException(const SQLException& other);
    SQLException& operator=(const SQLException& other);
    virtual ~SQLException() throw();

    virtual int getErrorCode() const;
    virtual std::string getMessage() const;
    const char* what() const throw();
    virtual void setErrorCtx(void* ctx);

    // embedded only: an error with its ORA number and full message text
    // ("ORA-NNNNN: text").
    SQLException(int errorCode, const std::string& message);

private:
    int errorCode_;
    std::string message_;
};

// ---------------------------------------------------------------- Number

class Number {
public:
    Number() : value_(0.0), integer_(0), exact_(false), null_(true) {}
    Number(const Number& other) = default;
    Number& operator=(const Number& other) = default;

    // Integer arguments are held exactly (64 bits); others as doubles.
    Number(long double v) : value_(static_cast<double>(v)), integer_(0), exact_(false), null_(false) {}
    Number(double v) : value_(v), integer_(0), exact_(false), null_(false) {}
    Number(float v) : value_(v), integer_(0), exact_(false), null_(false) {}
    Number(long v) : value_(static_cast<double>(v)), integer_(v), exact_(true), null_(false) {}
    Number(int v) : value_(v), integer_(v), exact_(true), null_(false) {}
    Number(short v) : value_(v), integer_(v), exact_(true), null_(false) {}
    Number(char v) : value_(v), integer_(v), exact_(true), null_(false) {}
    Number(signed char v) : value_(v), integer_(v), exact_(true), null_(false) {}
    Number(unsigned long v)
        : value_(static_cast<double>(v)),
          integer_(static_cast<long long>(v)),
          exact_(v <= 9223372036854775807UL),
          null_(false) {}
    Number(unsigned int v) : value_(v), integer_(v), exact_(true), null_(false) {}
    Number(unsigned short v) : value_(v), integer_(v), exact_(true), null_(false) {}
    Number(unsigned char v) : value_(v), integer_(v), exact_(true), null_(false) {}

    // A NULL number converts to nothing: as in Oracle's client, the
    // conversion throws SQLException OCI-32152. Conversions to integer
    // types truncate towards zero and saturate at the target's limits; an
    // exact integer converts exactly where the target holds it.
    operator long double() const;
    // inline: read for every ordinate of every geometry. An exact integer
    // is kept as a double too.
    operator double() const {
        if (null_) nullNumber();
        return value_;
    }
    operator float() const;
    operator long() const;
    operator int() const;
    operator short() const;
    operator char() const;
    operator signed char() const;
    operator unsigned long() const;
    operator unsigned int() const;
    operator unsigned short() const;
    operator unsigned char() const;

    bool isNull() const { return null_; }
    void setNull() {
        value_ = 0.0;
        integer_ = 0;
        exact_ = false;
        null_ = true;
    }

    // The number as text by an Oracle number format model: "" or "TM"/"TM9"
    // give Oracle's shortest text (TO_CHAR without a model), otherwise the
    // elements 9 0 , . G D S MI FM and EEEE. An unknown element raises
    // ORA-01481; a value too wide for the model gives '#'s. A NULL number
    // gives "".
    std::string toText(const Environment* envp, const std::string& fmt,
                       const std::string& nlsParam = "") const;

private:
    // Throws SQLException OCI-32152.
    [[noreturn]] static void nullNumber();

    double value_;
    long long integer_;
    bool exact_;
    bool null_;
};

// ---------------------------------------------------------------- Date

class Date {
public:
    Date();
    Date(const Environment* envp, int year = 1, unsigned int month = 1,
         unsigned int day = 1, unsigned int hour = 0, unsigned int minute = 0,
         unsigned int seconds = 0);

    bool isNull() const;
    void setNull();
    void getDate(int& year, unsigned int& month, unsigned int& day,
                 unsigned int& hour, unsigned int& min, unsigned int& sec) const;
    // Renders the date by an Oracle datetime format model; an empty model
    // gives "DD-MON-YY".
    std::string toText(const std::string& fmt = "",
                       const std::string& nlsParam = "") const;

private:
    int year_;
    unsigned int month_, day_, hour_, minute_, second_;
    bool null_;
};

// ---------------------------------------------------------------- Timestamp

class Timestamp {
public:
    Timestamp();
    Timestamp(const Environment* env, int year = 1, unsigned int month = 1,
              unsigned int day = 1, unsigned int hour = 0, unsigned int min = 0,
              unsigned int sec = 0, unsigned int fs = 0, int tzhour = 0,
              int tzminute = 0);

    bool isNull() const;
    void setNull();
    void getDate(int& year, unsigned int& month, unsigned int& day) const;
    void getTime(unsigned int& hour, unsigned int& minute, unsigned int& second,
                 unsigned int& fs) const;
    void getTimeZoneOffset(int& hour, int& minute) const;
    // Renders by an Oracle datetime format model; FF without digits uses
    // fsprec fractional digits.
    std::string toText(const std::string& fmt, unsigned int fsprec,
                       const std::string& nlsParam = "") const;

private:
    int year_;
    unsigned int month_, day_, hour_, minute_, second_, fs_;  // fs_ in ns
    int tzHour_, tzMinute_;
    bool null_;
};

// ---------------------------------------------------------------- MetaData

class MetaData {
public:
    enum AttrId {
        ATTR_DATA_SIZE = 1,
        ATTR_DATA_TYPE = 2,
        ATTR_DISP_SIZE = 3,
        ATTR_NAME = 4,
        ATTR_PRECISION = 5,
        ATTR_SCALE = 6,
        ATTR_IS_NULL = 7,
        ATTR_TYPE_NAME = 8,
        ATTR_SCHEMA_NAME = 9,
        ATTR_SUB_NAME = 10,
        ATTR_POSITION = 11,
        ATTR_CHARSET_ID = 31,
        ATTR_CHARSET_FORM = 32,
        ATTR_CHAR_USED = 285,
        ATTR_CHAR_SIZE = 286
    };

    MetaData(const MetaData& other) = default;
    MetaData& operator=(const MetaData& other) = default;
    ~MetaData() = default;

    int getInt(MetaData::AttrId attrid) const;
    std::string getString(MetaData::AttrId attrid) const;

    // embedded only
    MetaData(const std::string& name, int dataType, int dataSize,
             int precision, int scale, bool isNullable = true,
             const std::string& typeName = "", const std::string& schemaName = "");
    // embedded only: the character attributes of a text or CLOB column
    void setCharacterAttributes(bool charUsed, int charSize, int charsetForm);

private:
    std::string name_;
    std::string typeName_;
    std::string schemaName_;
    int dataType_;
    int dataSize_;
    int precision_;
    int scale_;
    bool isNullable_;
    bool charUsed_ = false;
    int charSize_ = 0;
    int charsetForm_ = 0;
};

// ---------------------------------------------------------------- Clob

// A CLOB or NCLOB value as read from a result set. The value is copied
// when read (the embedded client has no server-side locators): length and
// read work after the result set has moved on.
class Clob {
public:
    Clob();
    Clob(const Connection* connectionp);
    Clob(const Clob& srcClob);
    Clob& operator=(const Clob& srcClob);
    ~Clob();

    bool isNull() const;
    void setNull();
    bool isInitialized() const;
    // Length in characters.
    unsigned int length() const;
    // Copies up to amt characters from the 1-based character position
    // offset into buffer, never more than bufsize bytes and never part of a
    // character; returns the number of bytes copied. Raises ORA-24801 for
    // an offset beyond the end + 1 or 0, ORA-22275 on a NULL Clob.
    unsigned int read(unsigned int amt, unsigned char* buffer, unsigned int bufsize,
                      unsigned int offset = 1) const;
    CharSetForm getCharSetForm() const;

    // embedded only
    Clob(const std::string& text, CharSetForm form);

private:
    std::string text_;
    CharSetForm form_;
    bool null_;
    bool initialized_;
};

// ---------------------------------------------------------------- objects

class Map {
public:
    virtual ~Map() {}
    virtual void put(const std::string& typeName, void* (*rSQL)(void*),
                     void (*wSQL)(void*, void*)) = 0;
    virtual void put(const std::string& schemaName, const std::string& typeName,
                     void* (*rSQL)(void*), void (*wSQL)(void*, void*)) = 0;
};

class PObject {
public:
    PObject();
    PObject(const void* ctx);
    PObject(const PObject& obj);
    PObject& operator=(const PObject& obj);
    virtual ~PObject();

    static void* operator new(size_t size);
    static void* operator new(size_t size, const Connection* sess,
                              const std::string& tableName, const char* typeName);
    static void* operator new(size_t size, const Connection* sess,
                              const std::string& tableName,
                              const std::string& typeName,
                              const std::string& schTabName = "",
                              const std::string& schTypName = "");
    static void* operator new(size_t size, void* adctx);
    static void operator delete(void* obj, size_t size);

    bool isNull() const;
    void setNull();

    virtual std::string getSQLTypeName() const = 0;
    virtual void getSQLTypeName(Environment* env, void** schName,
                                unsigned int& schNameLen, void** typeName,
                                unsigned int& typeNameLen) const = 0;
    void getSQLTypeName(Environment* env, void* (*rSQL)(void*), void** schName,
                        unsigned int& schNameLen, void** typeName,
                        unsigned int& typeNameLen) const;

    virtual void writeSQL(AnyData& stream) = 0;
    virtual void readSQL(AnyData& stream) = 0;

private:
    bool null_;
};

class AnyData {
public:
    AnyData(void* any);

    bool isNull() const;
    void setNull();
    Number getNumber() const;
    void setNumber(const Number& n);
    PObject* getObject(void* (*rSQL)(void*)) const;
    void setObject(const PObject* objptr);

private:
    void* ctx_;
    friend void getVector(const AnyData& any, std::vector<Number>& vect);
    friend void setVector(AnyData& any, const std::vector<Number>& vect);
};

void getVector(const AnyData& any, std::vector<Number>& vect);
void setVector(AnyData& any, const std::vector<Number>& vect);

// ---------------------------------------------------------------- database

class ResultSet {
public:
    enum Status { END_OF_FETCH = 0, DATA_AVAILABLE, STREAM_DATA_AVAILABLE };

    virtual ~ResultSet() {}
    virtual Status next(unsigned int numRows = 1) = 0;
    virtual bool isNull(unsigned int colIndex) const = 0;
    virtual int getInt(unsigned int colIndex) = 0;
    virtual unsigned int getUInt(unsigned int colIndex) = 0;
    virtual double getDouble(unsigned int colIndex) = 0;
    virtual float getFloat(unsigned int colIndex) = 0;
    virtual Number getNumber(unsigned int colIndex) = 0;
    virtual BFloat getBFloat(unsigned int colIndex) = 0;
    virtual BDouble getBDouble(unsigned int colIndex) = 0;
    virtual Clob getClob(unsigned int colIndex) = 0;
    virtual std::string getString(unsigned int colIndex) = 0;
    virtual Date getDate(unsigned int colIndex) = 0;
    virtual Timestamp getTimestamp(unsigned int colIndex) = 0;
    virtual PObject* getObject(unsigned int colIndex) = 0;
    virtual std::vector<MetaData> getColumnListMetaData() const = 0;
    virtual Statement* getStatement() const = 0;
};

class Statement {
public:
    virtual ~Statement() {}
    virtual void setSQL(const std::string& sql) = 0;
    virtual std::string getSQL() const = 0;
    virtual void setString(unsigned int paramIndex, const std::string& x) = 0;
    virtual void setInt(unsigned int paramIndex, int x) = 0;
    virtual void setNumber(unsigned int paramIndex, const Number& x) = 0;
    virtual void setDouble(unsigned int paramIndex, double x) = 0;
    virtual ResultSet* executeQuery(const std::string& sql = "") = 0;
    virtual unsigned int executeUpdate(const std::string& sql = "") = 0;
    virtual void closeResultSet(ResultSet* resultSet) = 0;
    virtual void setPrefetchRowCount(unsigned int rowCount) = 0;
    virtual Connection* getConnection() const = 0;
};

class Connection {
public:
    virtual ~Connection() {}
    virtual Statement* createStatement(const std::string& sql = "") = 0;
    virtual void terminateStatement(Statement* statement) = 0;
    virtual void commit() = 0;
    virtual void rollback() = 0;
    virtual std::string getServerVersion() const = 0;
};

class Environment {
public:
    enum Mode {
        DEFAULT = 0,
        OBJECT = 2,
        THREADED_MUTEXED = 1,
        THREADED_UNMUTEXED = 0x81,
        EVENTS = 4,
        NO_USERCALLBACKS = 0x40,
        USE_LDAP = 0x1000
    };

    virtual ~Environment() {}

    static Environment* createEnvironment(Mode mode = DEFAULT, void* ctxp = 0,
                                          void* (*malocfp)(void*, size_t) = 0,
                                          void* (*ralocfp)(void*, void*, size_t) = 0,
                                          void (*mfreefp)(void*, void*) = 0);
    static Environment* createEnvironment(const std::string& charset,
                                          const std::string& ncharset,
                                          Mode mode = DEFAULT, void* ctxp = 0,
                                          void* (*malocfp)(void*, size_t) = 0,
                                          void* (*ralocfp)(void*, void*, size_t) = 0,
                                          void (*mfreefp)(void*, void*) = 0);
    static void terminateEnvironment(Environment* env);

    virtual Connection* createConnection(const std::string& userName,
                                         const std::string& password,
                                         const std::string& connectString = "") = 0;
    virtual void terminateConnection(Connection* connection) = 0;
    virtual Map* getMap() const = 0;
};

}  // namespace occi
}  // namespace oracle

#endif
