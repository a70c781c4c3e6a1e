// ResultSet: fetching rows and converting their values as the real
// client's getters do.
#include "session.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <limits>

namespace oracle {
namespace occi {
namespace embedded {

namespace {

// Days from 1970-01-01 of a proleptic Gregorian date, and back.
long daysFromCivil(long y, unsigned m, unsigned d) {
    y -= m <= 2;
    long era = (y >= 0 ? y : y - 399) / 400;
    unsigned yoe = static_cast<unsigned>(y - era * 400);
    unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long>(doe) - 719468;
}

void civilFromDays(long z, long& y, unsigned& m, unsigned& d) {
    z += 719468;
    long era = (z >= 0 ? z : z - 146096) / 146097;
    unsigned doe = static_cast<unsigned>(z - era * 146097);
    unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    y = static_cast<long>(yoe) + era * 400;
    unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y += m <= 2;
}

// A value stored with an offset, moved to UTC (offset +00:00).
void toUtc(DateTime& v) {
    if (v.hasZone && (v.tzHour != 0 || v.tzMinute != 0)) {
        long minutes = daysFromCivil(v.year, v.month, v.day) * 1440 + static_cast<long>(v.hour) * 60 + v.minute -
                       (v.tzHour * 60 + v.tzMinute);
        long days = minutes >= 0 ? minutes / 1440 : -((-minutes + 1439) / 1440);
        long rest = minutes - days * 1440;
        long y;
        civilFromDays(days, y, v.month, v.day);
        v.year = static_cast<int>(y);
        v.hour = static_cast<unsigned>(rest / 60);
        v.minute = static_cast<unsigned>(rest % 60);
    }
    v.tzHour = 0;
    v.tzMinute = 0;
}

// Benchmark aid, not Oracle behaviour: TARVEX_EMBEDDED_ROUND_TRIP_MS (in
// milliseconds, decimals allowed, at most 10 s) makes every prefetch batch a
// query fetches wait that long, as a round trip to a server would. The
// wait in microseconds; 0 when unset.
long roundTripMicros() {
    static const long micros = [] {
        const char* text = std::getenv("TARVEX_EMBEDDED_ROUND_TRIP_MS");
        double ms = text != nullptr ? std::strtod(text, nullptr) : 0;
        return ms > 0 && ms <= 10000 ? static_cast<long>(ms * 1000) : 0L;
    }();
    return micros;
}

}  // namespace

ResultSetImpl::ResultSetImpl(StatementImpl* owner, ConnectionImpl* conn, sqlite3_stmt* stmt)
    : owner_(owner), conn_(conn), stmt_(stmt), roundTrip_(roundTripMicros()) {}

void ResultSetImpl::start() {
    firstRc_ = sqlite3_step(stmt_);
    if (firstRc_ != SQLITE_ROW && firstRc_ != SQLITE_DONE) raiseSqlite(sqlite3_errmsg(conn_->db()));
    types_ = conn_->describe(stmt_, firstRc_ == SQLITE_ROW);
    columns_ = static_cast<unsigned int>(types_.size());
    rowTypes_.resize(types_.size());
    int n = sqlite3_column_count(stmt_);
    meta_.reserve(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        const ColumnType& c = types_[static_cast<size_t>(i)];
        const char* name = sqlite3_column_name(stmt_, i);
        meta_.emplace_back(name ? name : "", c.code, c.size, c.precision, c.scale, true, c.typeName,
                           c.typeSchema);
        meta_.back().setCharacterAttributes(c.charUsed, c.charSize, c.charsetForm);
    }
}

ResultSet::Status ResultSetImpl::next(unsigned int /*numRows*/) {
    if (state_ == END) return END_OF_FETCH;
    if (roundTrip_ > 0 && fetched_++ % owner_->prefetchRowCount() == 0) {
        struct timespec wait = {roundTrip_ / 1000000, (roundTrip_ % 1000000) * 1000};
        while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
        }
    }
    int rc;
    if (state_ == BEFORE) rc = firstRc_;
    else rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) {
        state_ = ROW;
        ++row_;
        return DATA_AVAILABLE;
    }
    state_ = END;
    if (rc != SQLITE_DONE) raiseSqlite(sqlite3_errmsg(conn_->db()));
    return END_OF_FETCH;
}

bool ResultSetImpl::isNull(unsigned int col) const {
    return columnType(check(col)) == SQLITE_NULL;
}

int ResultSetImpl::getInt(unsigned int col) {
    double v = numeric(col);
    if (std::isnan(v)) return 0;
    v = std::trunc(v);
    if (v <= std::numeric_limits<int>::min()) return std::numeric_limits<int>::min();
    if (v >= std::numeric_limits<int>::max()) return std::numeric_limits<int>::max();
    return static_cast<int>(v);
}

unsigned int ResultSetImpl::getUInt(unsigned int col) {
    double v = std::trunc(numeric(col));
    if (!(v > 0)) return 0;
    if (v >= std::numeric_limits<unsigned int>::max()) return std::numeric_limits<unsigned int>::max();
    return static_cast<unsigned int>(v);
}

double ResultSetImpl::getDouble(unsigned int col) { return numeric(col); }

float ResultSetImpl::getFloat(unsigned int col) { return static_cast<float>(numeric(col)); }

Number ResultSetImpl::getNumber(unsigned int col) {
    int i = check(col);
    int type = columnType(i);
    if (type == SQLITE_NULL) return Number();
    const ColumnType& t = types_[static_cast<size_t>(i)];
    if (type == SQLITE_INTEGER && t.code != TC_BINARY_FLOAT && t.code != TC_BINARY_DOUBLE)
        return Number(static_cast<long>(sqlite3_column_int64(stmt_, i)));
    double v = numeric(col);
    if (!std::isfinite(v)) raise(1426, "numeric overflow");
    return Number(v);
}

BFloat ResultSetImpl::getBFloat(unsigned int col) {
    BFloat b;
    int i = check(col);
    if (columnType(i) == SQLITE_NULL) {
        b.isNull = true;
        return b;
    }
    b.value = static_cast<float>(numeric(col));
    return b;
}

BDouble ResultSetImpl::getBDouble(unsigned int col) {
    BDouble b;
    int i = check(col);
    if (columnType(i) == SQLITE_NULL) {
        b.isNull = true;
        return b;
    }
    b.value = numeric(col);
    return b;
}

Clob ResultSetImpl::getClob(unsigned int col) {
    int i = check(col);
    const ColumnType& t = types_[static_cast<size_t>(i)];
    if (t.code != TC_CLOB) raise(932, "inconsistent datatypes: expected CLOB");
    if (columnType(i) == SQLITE_NULL) return Clob();
    const char* s = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, i));
    size_t n = static_cast<size_t>(sqlite3_column_bytes(stmt_, i));
    return Clob(std::string(s ? s : "", n), t.charsetForm == 2 ? OCCI_SQLCS_NCHAR : OCCI_SQLCS_IMPLICIT);
}

std::string ResultSetImpl::getString(unsigned int col) {
    int i = check(col);
    const ColumnType& t = types_[static_cast<size_t>(i)];
    int type = columnType(i);
    if (type == SQLITE_TEXT && t.code == TC_VARCHAR2) {
        // the most common case first: the text as stored
        const char* s = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, i));
        return std::string(s, static_cast<size_t>(sqlite3_column_bytes(stmt_, i)));
    }
    if (type == SQLITE_NULL) return "";
    if (t.code == TC_BINARY_FLOAT || t.code == TC_BINARY_DOUBLE)
        return binaryText(numeric(col), t.code == TC_BINARY_FLOAT);
    if (type == SQLITE_INTEGER) return std::to_string(sqlite3_column_int64(stmt_, i));
    if (type == SQLITE_FLOAT) return numberText(sqlite3_column_double(stmt_, i));
    if (type == SQLITE_BLOB) {
        if (t.code == TC_OBJECT) raise(932, "inconsistent datatypes: expected CHAR got " + t.typeSchema + "." + t.typeName);
        const unsigned char* p = static_cast<const unsigned char*>(sqlite3_column_blob(stmt_, i));
        int n = sqlite3_column_bytes(stmt_, i);
        static const char* const HEX = "0123456789ABCDEF";
        std::string out;
        out.reserve(static_cast<size_t>(n) * 2);
        for (int k = 0; k < n; ++k) {
            out += HEX[p[k] >> 4];
            out += HEX[p[k] & 15];
        }
        return out;
    }
    const char* s = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, i));
    size_t n = static_cast<size_t>(sqlite3_column_bytes(stmt_, i));
    if (t.code == TC_DATE) return dateValue(i).toText("", "");
    if (t.code == TC_TIMESTAMP || t.code == TC_TIMESTAMP_TZ || t.code == TC_TIMESTAMP_LTZ) {
        DateTime v = dateTimeValue(i);
        std::string fmt = t.code == TC_TIMESTAMP_TZ ? "DD-MON-YY HH.MI.SSXFF AM TZR" : "DD-MON-YY HH.MI.SSXFF AM";
        return formatDateTime(v, fmt, static_cast<unsigned>(t.scale), true);
    }
    std::string out(s, n);
    if (t.code == TC_CHAR && t.charSize > 0) {
        // blank-padded to the declared length: characters, or bytes for
        // BYTE semantics (the same for ASCII text)
        size_t have = 0;
        for (unsigned char c : out)
            if (!t.charUsed || (c & 0xC0) != 0x80) ++have;
        if (have < static_cast<size_t>(t.charSize)) out.append(static_cast<size_t>(t.charSize) - have, ' ');
    }
    return out;
}

Date ResultSetImpl::getDate(unsigned int col) {
    int i = check(col);
    if (columnType(i) == SQLITE_NULL) return Date();
    return dateValue(i);
}

Timestamp ResultSetImpl::getTimestamp(unsigned int col) {
    int i = check(col);
    if (columnType(i) == SQLITE_NULL) return Timestamp();
    DateTime v = dateTimeValue(i);
    if (types_[static_cast<size_t>(i)].code == TC_TIMESTAMP_LTZ) v.hasZone = true;
    return Timestamp(nullptr, v.year, v.month, v.day, v.hour, v.minute, v.second, v.fraction, v.tzHour,
                     v.tzMinute);
}

PObject* ResultSetImpl::getObject(unsigned int col) {
    int i = check(col);
    int type = columnType(i);
    if (type == SQLITE_NULL) return nullptr;
    const ColumnType& t = types_[static_cast<size_t>(i)];
    GeomView g;
    if (t.code != TC_OBJECT || type != SQLITE_BLOB ||
        !decodeGeometry(sqlite3_column_blob(stmt_, i), sqlite3_column_bytes(stmt_, i), g))
        raise(932, "inconsistent datatypes: expected an object of type MDSYS.SDO_GEOMETRY");
    if (!reader_) {
        // looked up once per result set
        const MapImpl::Entry* entry = conn_->env()->map().find("MDSYS", "SDO_GEOMETRY");
        if (!entry || !entry->read)
            raise(21700, "object does not exist or is marked for delete: no class registered for "
                         "MDSYS.SDO_GEOMETRY in the environment's type map");
        reader_ = entry->read;
    }
    ObjectContext ctx;
    ctx.kind = ObjectContext::GEOMETRY;
    ctx.geom = &g;
    void* object = reader_(&ctx);
    if (ctx.error) throw *ctx.error;
    return static_cast<PObject*>(object);
}

std::vector<MetaData> ResultSetImpl::getColumnListMetaData() const { return meta_; }

Statement* ResultSetImpl::getStatement() const { return owner_; }

void ResultSetImpl::notInSelectList() { raise(1007, "variable not in select list"); }

void ResultSetImpl::outOfSequence() { raise(1002, "fetch out of sequence"); }

double ResultSetImpl::numeric(unsigned int col) {
    int i = check(col);
    double v = numericValue(i);
    if (types_[static_cast<size_t>(i)].code == TC_BINARY_FLOAT) return static_cast<double>(static_cast<float>(v));
    return v;
}

double ResultSetImpl::numericValue(int i) {
    switch (columnType(i)) {
        case SQLITE_NULL: return 0.0;
        case SQLITE_INTEGER:
        case SQLITE_FLOAT: return sqlite3_column_double(stmt_, i);
        case SQLITE_TEXT: {
            const char* s = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, i));
            char* end = nullptr;
            errno = 0;
            double v = std::strtod(s, &end);
            while (end && (*end == ' ' || *end == '\t')) ++end;
            if (end == s || (end && *end)) raise(1722, "invalid number");
            return v;
        }
        default: raise(932, "inconsistent datatypes: expected NUMBER got BINARY");
    }
}

DateTime ResultSetImpl::dateTimeValue(int i) {
    if (columnType(i) != SQLITE_TEXT)
        raise(932, "inconsistent datatypes: expected DATE got NUMBER");
    const char* s = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, i));
    DateTime v;
    if (!parseStoredDateTime(s, static_cast<size_t>(sqlite3_column_bytes(stmt_, i)), v))
        raise(1861, "literal does not match format string");
    // WITH LOCAL TIME ZONE: shown in the session's time zone, UTC
    if (types_[static_cast<size_t>(i)].code == TC_TIMESTAMP_LTZ) toUtc(v);
    return v;
}

Date ResultSetImpl::dateValue(int i) {
    DateTime v = dateTimeValue(i);
    return Date(nullptr, v.year, v.month, v.day, v.hour, v.minute, v.second);
}

}  // namespace embedded
}  // namespace occi
}  // namespace oracle
