// SQL functions and table functions that give SQLite the Oracle forms used
// by scripts and queries: the SDO constructors, TO_DATE/TO_TIMESTAMP and the
// datetime literals, HEXTORAW, NVL, the geometry attribute accessors and the
// element-info / ordinate table functions.
#include "internal.h"

#include <sqlite3.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <sys/time.h>

namespace oracle {
namespace occi {
namespace embedded {

namespace {

void resultError(sqlite3_context* ctx, const char* text) { sqlite3_result_error(ctx, text, -1); }

// A numeric argument: false for NULL; raises an SQL error for non-numbers.
bool numberArg(sqlite3_context* ctx, sqlite3_value* v, double& out, bool& bad) {
    bad = false;
    int type = sqlite3_value_numeric_type(v);
    if (type == SQLITE_NULL) return false;
    if (type == SQLITE_INTEGER || type == SQLITE_FLOAT) {
        out = sqlite3_value_double(v);
        return true;
    }
    bad = true;
    resultError(ctx, "ORA-01722: invalid number");
    return false;
}

void resultBytes(sqlite3_context* ctx, const std::string& bytes) {
    sqlite3_result_blob(ctx, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
}

void resultNumber(sqlite3_context* ctx, double v) {
    if (v == std::trunc(v) && std::fabs(v) < 9e15)
        sqlite3_result_int64(ctx, static_cast<sqlite3_int64>(v));
    else
        sqlite3_result_double(ctx, v);
}

std::string textArg(sqlite3_value* v) {
    const unsigned char* s = sqlite3_value_text(v);
    return s ? std::string(reinterpret_cast<const char*>(s), static_cast<size_t>(sqlite3_value_bytes(v)))
             : std::string();
}

// ---------------------------------------------------------------- SDO

// SDO_CS.MAP_ORACLE_SRID_TO_EPSG(legacy_srid): the EPSG code of one of the
// common Oracle SRIDs (Oracle's function knows every legacy code); NULL for
// any other number and for NULL.
void mapOracleSridToEpsg(sqlite3_context* ctx, int /*argc*/, sqlite3_value** argv) {
    static const struct {
        double oracle;
        int epsg;
    } CODES[] = {
        {8307, 4326},    // Longitude / Latitude (WGS 84)
        {8265, 4269},    // Longitude / Latitude (NAD 83)
        {8260, 4267},    // Longitude / Latitude (NAD 27)
        {81989, 27700},  // British National Grid
        {82361, 23038},  // ED50 / UTM zone 38N
    };
    double srid = 0;
    bool bad = false;
    if (!numberArg(ctx, argv[0], srid, bad)) {
        if (!bad) sqlite3_result_null(ctx);
        return;
    }
    for (const auto& code : CODES) {
        if (code.oracle == srid) return sqlite3_result_int(ctx, code.epsg);
    }
    sqlite3_result_null(ctx);
}

void sdoPointType(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    if (argc != 3) return resultError(ctx, "ORA-06553: PLS-306: wrong number or types of arguments in call to 'SDO_POINT_TYPE'");
    unsigned char out[32] = {'P'};
    for (int i = 0; i < 3; ++i) {
        double v = 0;
        bool bad = false;
        if (!numberArg(ctx, argv[i], v, bad)) {
            if (bad) return;
            out[1] |= static_cast<unsigned char>(1 << i);
        }
        std::memcpy(out + 8 + 8 * i, &v, 8);
    }
    sqlite3_result_blob(ctx, out, sizeof out, SQLITE_TRANSIENT);
}

void sdoArray(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    NumArray a;
    a.values.reserve(static_cast<size_t>(argc));
    for (int i = 0; i < argc; ++i) {
        double v = 0;
        bool bad = false;
        bool present = numberArg(ctx, argv[i], v, bad);
        if (bad) return;
        a.values.push_back(v);
        a.nulls.push_back(!present);
    }
    resultBytes(ctx, encodeArray(a));
}

void arrayConcat(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    NumArray all, part;
    for (int i = 0; i < argc; ++i) {
        if (!decodeArray(sqlite3_value_blob(argv[i]), sqlite3_value_bytes(argv[i]), part))
            return resultError(ctx, "ORA-00932: inconsistent datatypes: expected an SDO array");
        all.values.insert(all.values.end(), part.values.begin(), part.values.end());
        all.nulls.insert(all.nulls.end(), part.nulls.begin(), part.nulls.end());
    }
    resultBytes(ctx, encodeArray(all));
}

void sdoGeometry(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    if (argc != 5)
        return resultError(ctx, "ORA-06553: PLS-306: wrong number or types of arguments in call to 'SDO_GEOMETRY'");
    double gtype = 0, srid = 0;
    bool bad = false;
    unsigned flags = 0, pflags = 0;
    if (!numberArg(ctx, argv[0], gtype, bad)) {
        if (bad) return;
        flags |= GF_GTYPE_NULL;
    }
    if (!numberArg(ctx, argv[1], srid, bad)) {
        if (bad) return;
        flags |= GF_SRID_NULL;
    }
    double point[3] = {0, 0, 0};
    if (sqlite3_value_type(argv[2]) != SQLITE_NULL) {
        const unsigned char* p = static_cast<const unsigned char*>(sqlite3_value_blob(argv[2]));
        if (!p || sqlite3_value_bytes(argv[2]) != 32 || p[0] != 'P')
            return resultError(ctx, "ORA-00932: inconsistent datatypes: expected MDSYS.SDO_POINT_TYPE");
        flags |= GF_POINT;
        pflags = p[1];
        std::memcpy(point, p + 8, 24);
    }
    NumArray arrays[2];
    for (int k = 0; k < 2; ++k) {
        sqlite3_value* v = argv[3 + k];
        if (sqlite3_value_type(v) == SQLITE_NULL) {
            flags |= k == 0 ? GF_ELEM_NULL : GF_ORD_NULL;
        } else if (!decodeArray(sqlite3_value_blob(v), sqlite3_value_bytes(v), arrays[k])) {
            return resultError(ctx, k == 0 ? "ORA-00932: inconsistent datatypes: expected MDSYS.SDO_ELEM_INFO_ARRAY"
                                           : "ORA-00932: inconsistent datatypes: expected MDSYS.SDO_ORDINATE_ARRAY");
        }
    }
    bool nulls[2] = {false, false};
    for (int k = 0; k < 2; ++k)
        for (bool b : arrays[k].nulls) nulls[k] = nulls[k] || b;
    if (nulls[0]) flags |= GF_ELEM_NULLS;
    if (nulls[1]) flags |= GF_ORD_NULLS;
    uint32_t ne = static_cast<uint32_t>(arrays[0].values.size());
    uint32_t no = static_cast<uint32_t>(arrays[1].values.size());
    size_t size = GEOM_HEADER + 8ull * ne + 8ull * no + (nulls[0] ? (ne + 7) / 8 : 0) +
                  (nulls[1] ? (no + 7) / 8 : 0);
    std::string out(size, '\0');
    unsigned char* p = reinterpret_cast<unsigned char*>(&out[0]);
    p[0] = 'G';
    p[1] = 1;
    p[2] = static_cast<unsigned char>(flags);
    p[3] = static_cast<unsigned char>(pflags);
    std::memcpy(p + 4, &ne, 4);
    std::memcpy(p + 8, &no, 4);
    std::memcpy(p + 16, &gtype, 8);
    std::memcpy(p + 24, &srid, 8);
    std::memcpy(p + 32, point, 24);
    if (ne) std::memcpy(p + GEOM_HEADER, arrays[0].values.data(), 8ull * ne);
    if (no) std::memcpy(p + GEOM_HEADER + 8ull * ne, arrays[1].values.data(), 8ull * no);
    unsigned char* tail = p + GEOM_HEADER + 8ull * ne + 8ull * no;
    for (int k = 0; k < 2; ++k) {
        if (!nulls[k]) continue;
        const std::vector<bool>& bits = arrays[k].nulls;
        for (size_t i = 0; i < bits.size(); ++i)
            if (bits[i]) tail[i / 8] |= static_cast<unsigned char>(1 << (i % 8));
        tail += (bits.size() + 7) / 8;
    }
    resultBytes(ctx, out);
}

std::string quoteText(const std::string& s) {
    std::string out = "'";
    for (char c : s) {
        out += c;
        if (c == '\'') out += '\'';
    }
    return out + "'";
}

void sdoDimElement(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    if (argc != 4)
        return resultError(ctx, "ORA-06553: PLS-306: wrong number or types of arguments in call to 'SDO_DIM_ELEMENT'");
    std::string out = "SDO_DIM_ELEMENT(" + quoteText(textArg(argv[0]));
    for (int i = 1; i < 4; ++i) {
        double v = 0;
        bool bad = false;
        if (numberArg(ctx, argv[i], v, bad)) out += ", " + numberText(v);
        else if (bad) return;
        else out += ", NULL";
    }
    out += ")";
    sqlite3_result_text(ctx, out.c_str(), static_cast<int>(out.size()), SQLITE_TRANSIENT);
}

void sdoDimArray(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    std::string out = "SDO_DIM_ARRAY(";
    for (int i = 0; i < argc; ++i) {
        if (i) out += ", ";
        out += sqlite3_value_type(argv[i]) == SQLITE_NULL ? "NULL" : textArg(argv[i]);
    }
    out += ")";
    sqlite3_result_text(ctx, out.c_str(), static_cast<int>(out.size()), SQLITE_TRANSIENT);
}

bool geometryArg(sqlite3_value* v, GeomView& g) {
    return sqlite3_value_type(v) == SQLITE_BLOB &&
           decodeGeometry(sqlite3_value_blob(v), sqlite3_value_bytes(v), g);
}

template <int WHAT>
void geometryAttribute(sqlite3_context* ctx, int /*argc*/, sqlite3_value** argv) {
    GeomView g;
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return sqlite3_result_null(ctx);
    if (!geometryArg(argv[0], g))
        return resultError(ctx, "ORA-00932: inconsistent datatypes: expected MDSYS.SDO_GEOMETRY");
    switch (WHAT) {
        case 0: return (g.flags & GF_GTYPE_NULL) ? sqlite3_result_null(ctx) : resultNumber(ctx, g.gtype);
        case 1: return (g.flags & GF_SRID_NULL) ? sqlite3_result_null(ctx) : resultNumber(ctx, g.srid);
        case 2: return (!(g.flags & GF_POINT) || (g.pointFlags & PF_X_NULL)) ? sqlite3_result_null(ctx) : resultNumber(ctx, g.x);
        case 3: return (!(g.flags & GF_POINT) || (g.pointFlags & PF_Y_NULL)) ? sqlite3_result_null(ctx) : resultNumber(ctx, g.y);
        default: return (!(g.flags & GF_POINT) || (g.pointFlags & PF_Z_NULL)) ? sqlite3_result_null(ctx) : resultNumber(ctx, g.z);
    }
}

// ---------------------------------------------------------------- dates

void resultText(sqlite3_context* ctx, const std::string& s) {
    sqlite3_result_text(ctx, s.c_str(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
}

// TO_DATE(text [, fmt]) = 0, TO_TIMESTAMP = 1, TO_TIMESTAMP_TZ = 2,
// TVX_DATE(literal) = 3, TVX_TIMESTAMP(literal) = 4
template <int KIND>
void toDateTime(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return sqlite3_result_null(ctx);
    std::string text = textArg(argv[0]);
    try {
        DateTime v;
        if (argc >= 2 && sqlite3_value_type(argv[1]) != SQLITE_NULL) {
            v = parseByFormat(text, textArg(argv[1]));
        } else if (!parseStoredDateTime(text.data(), text.size(), v)) {
            if (KIND >= 3) return resultError(ctx, "ORA-01861: literal does not match format string");
            v = parseByFormat(text, "DD-MON-RR");
        }
        if (KIND == 0 || KIND == 3) resultText(ctx, storedDate(v));
        else resultText(ctx, storedTimestamp(v, KIND == 2 || (KIND == 4 && v.hasZone)));
    } catch (const SQLException& e) {
        resultError(ctx, e.getMessage().c_str());
    }
}

template <bool TIMESTAMP>
void sysDate(sqlite3_context* ctx, int, sqlite3_value**) {
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    time_t secs = tv.tv_sec;
    struct tm local;
    localtime_r(&secs, &local);
    DateTime v;
    v.year = local.tm_year + 1900;
    v.month = static_cast<unsigned>(local.tm_mon + 1);
    v.day = static_cast<unsigned>(local.tm_mday);
    v.hour = static_cast<unsigned>(local.tm_hour);
    v.minute = static_cast<unsigned>(local.tm_min);
    v.second = static_cast<unsigned>(local.tm_sec);
    if (TIMESTAMP) {
        v.fraction = static_cast<unsigned>(tv.tv_usec) * 1000u;
        v.fractionDigits = 6;
        long off = local.tm_gmtoff;
        v.tzHour = static_cast<int>(off / 3600);
        v.tzMinute = static_cast<int>((off % 3600) / 60);
        resultText(ctx, storedTimestamp(v, true));
    } else {
        resultText(ctx, storedDate(v));
    }
}

void toChar(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    int type = sqlite3_value_type(argv[0]);
    if (type == SQLITE_NULL) return sqlite3_result_null(ctx);
    if (type == SQLITE_INTEGER) return resultText(ctx, std::to_string(sqlite3_value_int64(argv[0])));
    if (type == SQLITE_FLOAT) return resultText(ctx, numberText(sqlite3_value_double(argv[0])));
    std::string text = textArg(argv[0]);
    DateTime v;
    if (argc >= 2 && parseStoredDateTime(text.data(), text.size(), v)) {
        try {
            return resultText(ctx, formatDateTime(v, textArg(argv[1]), 6, true));
        } catch (const SQLException& e) {
            return resultError(ctx, e.getMessage().c_str());
        }
    }
    resultText(ctx, text);
}

void toNumber(sqlite3_context* ctx, int /*argc*/, sqlite3_value** argv) {
    double v = 0;
    bool bad = false;
    if (numberArg(ctx, argv[0], v, bad)) resultNumber(ctx, v);
    else if (!bad) sqlite3_result_null(ctx);
}

void hexToRaw(sqlite3_context* ctx, int /*argc*/, sqlite3_value** argv) {
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return sqlite3_result_null(ctx);
    std::string hex = textArg(argv[0]);
    if (hex.size() % 2) hex.insert(hex.begin(), '0');
    std::string out(hex.size() / 2, '\0');
    for (size_t i = 0; i < hex.size(); ++i) {
        char c = hex[i];
        int v = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10
                : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        if (v < 0) return resultError(ctx, "ORA-01465: invalid hex number");
        out[i / 2] = static_cast<char>(out[i / 2] | (i % 2 ? v : v << 4));
    }
    resultBytes(ctx, out);
}

void rawToHex(sqlite3_context* ctx, int /*argc*/, sqlite3_value** argv) {
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return sqlite3_result_null(ctx);
    const unsigned char* p = static_cast<const unsigned char*>(sqlite3_value_blob(argv[0]));
    int n = sqlite3_value_bytes(argv[0]);
    static const char* const HEX = "0123456789ABCDEF";
    std::string out;
    out.reserve(static_cast<size_t>(n) * 2);
    for (int i = 0; i < n; ++i) {
        out += HEX[p[i] >> 4];
        out += HEX[p[i] & 15];
    }
    resultText(ctx, out);
}

// Oracle's ||: NULL operands count as empty text, numbers read as Oracle
// writes them, and an empty result is NULL.
void concat(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
    std::string out;
    for (int i = 0; i < argc; ++i) {
        switch (sqlite3_value_type(argv[i])) {
            case SQLITE_NULL: break;
            case SQLITE_INTEGER: out += std::to_string(sqlite3_value_int64(argv[i])); break;
            case SQLITE_FLOAT: out += numberText(sqlite3_value_double(argv[i])); break;
            default: out += textArg(argv[i]); break;
        }
    }
    if (out.empty()) return sqlite3_result_null(ctx);
    resultText(ctx, out);
}

void nvl(sqlite3_context* ctx, int /*argc*/, sqlite3_value** argv) {
    sqlite3_result_value(ctx, sqlite3_value_type(argv[0]) == SQLITE_NULL ? argv[1] : argv[0]);
}

// ---------------------------------------------------------------- table functions

struct ArrayTable {
    sqlite3_vtab base;
    bool ordinates;
};

struct ArrayCursor {
    sqlite3_vtab_cursor base;
    std::vector<double> values;
    std::vector<bool> nulls;
    size_t index = 0;
};

int arrayConnect(sqlite3* db, void* aux, int, const char* const*, sqlite3_vtab** out, char**) {
    int rc = sqlite3_declare_vtab(db, "CREATE TABLE x(COLUMN_VALUE, ARG HIDDEN)");
    if (rc != SQLITE_OK) return rc;
    ArrayTable* t = new ArrayTable();
    t->ordinates = aux != nullptr;
    *out = &t->base;
    return SQLITE_OK;
}

int arrayDisconnect(sqlite3_vtab* vtab) {
    delete reinterpret_cast<ArrayTable*>(vtab);
    return SQLITE_OK;
}

int arrayBestIndex(sqlite3_vtab*, sqlite3_index_info* info) {
    for (int i = 0; i < info->nConstraint; ++i) {
        const auto& c = info->aConstraint[i];
        if (c.iColumn == 1 && c.op == SQLITE_INDEX_CONSTRAINT_EQ) {
            if (!c.usable) return SQLITE_CONSTRAINT;
            info->aConstraintUsage[i].argvIndex = 1;
            info->aConstraintUsage[i].omit = 1;
            info->idxNum = 1;
            info->estimatedCost = 10;
            info->estimatedRows = 10;
            return SQLITE_OK;
        }
    }
    info->idxNum = 0;
    info->estimatedCost = 1e12;
    return SQLITE_OK;
}

int arrayOpen(sqlite3_vtab*, sqlite3_vtab_cursor** out) {
    ArrayCursor* c = new ArrayCursor();
    *out = &c->base;
    return SQLITE_OK;
}

int arrayClose(sqlite3_vtab_cursor* cur) {
    delete reinterpret_cast<ArrayCursor*>(cur);
    return SQLITE_OK;
}

int arrayFilter(sqlite3_vtab_cursor* cur, int idxNum, const char*, int argc, sqlite3_value** argv) {
    ArrayCursor* c = reinterpret_cast<ArrayCursor*>(cur);
    bool ordinates = reinterpret_cast<ArrayTable*>(cur->pVtab)->ordinates;
    c->values.clear();
    c->nulls.clear();
    c->index = 0;
    if (idxNum != 1 || argc < 1 || sqlite3_value_type(argv[0]) == SQLITE_NULL) return SQLITE_OK;
    GeomView g;
    if (!geometryArg(argv[0], g)) {
        sqlite3_free(cur->pVtab->zErrMsg);
        cur->pVtab->zErrMsg = sqlite3_mprintf("ORA-00932: inconsistent datatypes: expected MDSYS.SDO_GEOMETRY");
        return SQLITE_ERROR;
    }
    uint32_t n = ordinates ? g.nOrd : g.nElem;
    const unsigned char* values = ordinates ? g.ord : g.elem;
    const unsigned char* nulls = ordinates ? g.ordNulls : g.elemNulls;
    c->values.resize(n);
    c->nulls.assign(n, false);
    if (n) std::memcpy(c->values.data(), values, 8ull * n);
    if (nulls)
        for (uint32_t i = 0; i < n; ++i) c->nulls[i] = (nulls[i / 8] >> (i % 8)) & 1;
    return SQLITE_OK;
}

int arrayNext(sqlite3_vtab_cursor* cur) {
    ++reinterpret_cast<ArrayCursor*>(cur)->index;
    return SQLITE_OK;
}

int arrayEof(sqlite3_vtab_cursor* cur) {
    ArrayCursor* c = reinterpret_cast<ArrayCursor*>(cur);
    return c->index >= c->values.size();
}

int arrayColumn(sqlite3_vtab_cursor* cur, sqlite3_context* ctx, int column) {
    ArrayCursor* c = reinterpret_cast<ArrayCursor*>(cur);
    if (column != 0 || c->nulls[c->index]) sqlite3_result_null(ctx);
    else resultNumber(ctx, c->values[c->index]);
    return SQLITE_OK;
}

int arrayRowid(sqlite3_vtab_cursor* cur, sqlite3_int64* rowid) {
    *rowid = static_cast<sqlite3_int64>(reinterpret_cast<ArrayCursor*>(cur)->index + 1);
    return SQLITE_OK;
}

sqlite3_module makeArrayModule() {
    sqlite3_module m;
    std::memset(&m, 0, sizeof m);
    m.xConnect = arrayConnect;
    m.xBestIndex = arrayBestIndex;
    m.xDisconnect = arrayDisconnect;
    m.xOpen = arrayOpen;
    m.xClose = arrayClose;
    m.xFilter = arrayFilter;
    m.xNext = arrayNext;
    m.xEof = arrayEof;
    m.xColumn = arrayColumn;
    m.xRowid = arrayRowid;
    return m;
}

const sqlite3_module ARRAY_MODULE = makeArrayModule();
char ORDINATES_TAG = 1;

}  // namespace

void registerFunctions(sqlite3* db) {
    struct Fn {
        const char* name;
        int args;
        void (*fn)(sqlite3_context*, int, sqlite3_value**);
        bool deterministic;
    };
    static const Fn FUNCTIONS[] = {
        {"SDO_POINT_TYPE", 3, sdoPointType, true},
        {"SDO_ELEM_INFO_ARRAY", -1, sdoArray, true},
        {"SDO_ORDINATE_ARRAY", -1, sdoArray, true},
        {"TVX_ARRAY_CONCAT", -1, arrayConcat, true},
        {"SDO_GEOMETRY", -1, sdoGeometry, true},
        {"SDO_DIM_ELEMENT", -1, sdoDimElement, true},
        {"SDO_DIM_ARRAY", -1, sdoDimArray, true},
        {"TVX_GTYPE", 1, geometryAttribute<0>, true},
        {"TVX_SRID", 1, geometryAttribute<1>, true},
        {"TVX_POINT_X", 1, geometryAttribute<2>, true},
        {"TVX_POINT_Y", 1, geometryAttribute<3>, true},
        {"TVX_POINT_Z", 1, geometryAttribute<4>, true},
        {"TO_DATE", 1, toDateTime<0>, true},
        {"TO_DATE", 2, toDateTime<0>, true},
        {"TO_DATE", 3, toDateTime<0>, true},
        {"TO_TIMESTAMP", 1, toDateTime<1>, true},
        {"TO_TIMESTAMP", 2, toDateTime<1>, true},
        {"TO_TIMESTAMP_TZ", 1, toDateTime<2>, true},
        {"TO_TIMESTAMP_TZ", 2, toDateTime<2>, true},
        {"TVX_DATE", 1, toDateTime<3>, true},
        {"TVX_TIMESTAMP", 1, toDateTime<4>, true},
        {"TVX_SYSDATE", 0, sysDate<false>, false},
        {"TVX_SYSTIMESTAMP", 0, sysDate<true>, false},
        {"TO_CHAR", 1, toChar, true},
        {"TO_CHAR", 2, toChar, true},
        {"TO_NUMBER", 1, toNumber, true},
        {"HEXTORAW", 1, hexToRaw, true},
        {"RAWTOHEX", 1, rawToHex, true},
        {"NVL", 2, nvl, true},
        {"TVX_CONCAT", -1, concat, true},
        {"TVX_MAP_ORACLE_SRID_TO_EPSG", 1, mapOracleSridToEpsg, true},
    };
    for (const Fn& f : FUNCTIONS)
        sqlite3_create_function_v2(db, f.name, f.args,
                                   SQLITE_UTF8 | (f.deterministic ? SQLITE_DETERMINISTIC : 0),
                                   nullptr, f.fn, nullptr, nullptr, nullptr);
    registerHashFunction(db);
    sqlite3_create_module(db, "TVX_ELEM_INFO", &ARRAY_MODULE, nullptr);
    sqlite3_create_module(db, "TVX_ORDINATES", &ARRAY_MODULE, &ORDINATES_TAG);
}

}  // namespace embedded
}  // namespace occi
}  // namespace oracle
