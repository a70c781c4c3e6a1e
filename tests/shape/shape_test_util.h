// Helpers shared by the shapefile writer tests: temporary folders, geometry
// values, a scripted result set, and GDAL read-back through the system Python.
#ifndef TARVEX_TESTS_SHAPE_TEST_UTIL_H
#define TARVEX_TESTS_SHAPE_TEST_UTIL_H

#include <occi.h>
#include <stdlib.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "oracle/sdo.h"
#include "settings/settings.h"

namespace shapetest {

// Marks a NULL number in the value lists below.
const double NUL = std::numeric_limits<double>::quiet_NaN();

inline oracle::occi::Number num(double p_value) {
    oracle::occi::Number value;
    if (!std::isnan(p_value)) value = oracle::occi::Number(p_value);
    return value;
}

inline std::vector<oracle::occi::Number> numbers(const std::vector<double>& p_values) {
    std::vector<oracle::occi::Number> out;
    for (double value : p_values) out.push_back(num(value));
    return out;
}

// Owns one geometry (held by value, so that no class-specific allocation
// functions are involved).
class GeometryHolder {
public:
    GeometryHolder() : _box(new Box()) {}
    SDOGeometry* get() const { return &_box->value; }
    SDOGeometry* operator->() const { return &_box->value; }

private:
    struct Box {
        SDOGeometry value;
    };
    std::unique_ptr<Box> _box;
};

inline GeometryHolder geometry(double p_gtype, const std::vector<double>& p_elem,
                               const std::vector<double>& p_ordinates) {
    GeometryHolder g;
    g->setSdo_gtype(num(p_gtype));
    g->setSdo_elem_info(numbers(p_elem));
    g->setSdo_ordinates(numbers(p_ordinates));
    return g;
}

// A point object for a geometry to own.
inline SDOPointType* newPoint() { return new SDOPointType(); }

inline GeometryHolder pointGeometry(double p_gtype, double p_x, double p_y, double p_z) {
    GeometryHolder g;
    g->setSdo_gtype(num(p_gtype));
    SDOPointType* point = newPoint();
    point->setX(num(p_x));
    point->setY(num(p_y));
    point->setZ(num(p_z));
    g->setSdo_point(point);
    return g;
}

// Folders made by makeTempDir, removed when the test program ends.
class TempDirs {
public:
    ~TempDirs() {
        std::error_code ignored;
        for (const std::string& dir : _dirs) std::filesystem::remove_all(dir, ignored);
    }
    std::string make(const char* p_prefix) {
        std::string pattern = std::string("/tmp/") + p_prefix + "_XXXXXX";
        const char* dir = mkdtemp(&pattern[0]);
        if (dir == nullptr) return std::string();
        _dirs.push_back(dir);
        return dir;
    }

private:
    std::vector<std::string> _dirs;
};

inline std::string makeTempDir(const char* p_prefix = "tarvex_shape") {
    static TempDirs dirs;
    return dirs.make(p_prefix);
}

// Runs a Python snippet with GDAL's bindings; returns its standard output.
inline std::string runPython(const std::string& p_code) {
    std::string script = makeTempDir() + "/check.py";
    std::FILE* file = std::fopen(script.c_str(), "w");
    if (file == nullptr) return "";
    std::fputs(p_code.c_str(), file);
    std::fclose(file);
    std::string output;
    std::FILE* pipe = popen(("/usr/bin/python3 " + script + " 2>&1").c_str(), "r");
    if (pipe == nullptr) return "";
    char buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, got);
    pclose(pipe);
    return output;
}

inline bool gdalAvailable() {
    return runPython("from osgeo import ogr\nprint('ok')\n").find("ok") == 0;
}

// Sets settings for the life of the object and restores them afterwards.
class SettingsGuard {
public:
    SettingsGuard() : _saved(g_args), _nullVertex(g_shp_null_vertex) {}
    ~SettingsGuard() {
        g_args = _saved;
        g_shp_null_vertex = _nullVertex;
    }
    void set(const std::string& p_key, const std::string& p_value) { g_args[p_key] = p_value; }

private:
    std::map<std::string, std::string> _saved;
    double _nullVertex;
};

// One scripted value of a result-set column.
struct Cell {
    enum Kind { NULLV, INT, DOUBLE, TEXT, DATE, TIMESTAMP } kind;
    double number;
    std::string text;
    int parts[7];  // year, month, day, hour, minute, second, nanoseconds

    static Cell null() { return Cell{NULLV, 0, "", {0, 0, 0, 0, 0, 0, 0}}; }
    static Cell integer(int v) { return Cell{INT, static_cast<double>(v), "", {0, 0, 0, 0, 0, 0, 0}}; }
    static Cell real(double v) { return Cell{DOUBLE, v, "", {0, 0, 0, 0, 0, 0, 0}}; }
    static Cell string(const std::string& v) { return Cell{TEXT, 0, v, {0, 0, 0, 0, 0, 0, 0}}; }
    static Cell date(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
        return Cell{DATE, 0, "", {y, mo, d, h, mi, s, 0}};
    }
    static Cell timestamp(int y, int mo, int d, int h, int mi, int s, int ns) {
        return Cell{TIMESTAMP, 0, "", {y, mo, d, h, mi, s, ns}};
    }
};

// A result set positioned on one row of scripted cells (1-based columns).
class ScriptedResultSet : public oracle::occi::ResultSet {
public:
    explicit ScriptedResultSet(std::vector<Cell> p_row) : _row(std::move(p_row)) {}
    void setRow(std::vector<Cell> p_row) { _row = std::move(p_row); }

    Status next(unsigned int) override { return END_OF_FETCH; }
    bool isNull(unsigned int c) const override { return cell(c).kind == Cell::NULLV; }
    int getInt(unsigned int c) override { return static_cast<int>(cell(c).number); }
    unsigned int getUInt(unsigned int c) override { return static_cast<unsigned int>(cell(c).number); }
    double getDouble(unsigned int c) override { return cell(c).number; }
    float getFloat(unsigned int c) override { return static_cast<float>(cell(c).number); }
    oracle::occi::Number getNumber(unsigned int c) override {
        const Cell& v = cell(c);
        if (v.kind == Cell::TEXT) {
            // Integers held exactly, as the client holds them.
            char* end = nullptr;
            long integer = std::strtol(v.text.c_str(), &end, 10);
            if (end != nullptr && *end == '\0') return oracle::occi::Number(integer);
            return oracle::occi::Number(std::strtod(v.text.c_str(), nullptr));
        }
        return num(v.kind == Cell::NULLV ? NUL : v.number);
    }
    oracle::occi::BFloat getBFloat(unsigned int c) override {
        oracle::occi::BFloat value;
        value.isNull = cell(c).kind == Cell::NULLV;
        value.value = static_cast<float>(cell(c).number);
        return value;
    }
    oracle::occi::BDouble getBDouble(unsigned int c) override {
        oracle::occi::BDouble value;
        value.isNull = cell(c).kind == Cell::NULLV;
        value.value = cell(c).number;
        return value;
    }
    oracle::occi::Clob getClob(unsigned int c) override {
        if (cell(c).kind == Cell::NULLV) return oracle::occi::Clob();
        return oracle::occi::Clob(cell(c).text, oracle::occi::OCCI_SQLCS_IMPLICIT);
    }
    std::string getString(unsigned int c) override { return cell(c).text; }
    oracle::occi::Date getDate(unsigned int c) override {
        const Cell& v = cell(c);
        if (v.kind != Cell::DATE) return oracle::occi::Date();
        return oracle::occi::Date(nullptr, v.parts[0], v.parts[1], v.parts[2], v.parts[3], v.parts[4],
                                  v.parts[5]);
    }
    oracle::occi::Timestamp getTimestamp(unsigned int c) override {
        const Cell& v = cell(c);
        if (v.kind != Cell::TIMESTAMP) return oracle::occi::Timestamp();
        return oracle::occi::Timestamp(nullptr, v.parts[0], v.parts[1], v.parts[2], v.parts[3],
                                       v.parts[4], v.parts[5], v.parts[6]);
    }
    oracle::occi::PObject* getObject(unsigned int) override { return nullptr; }
    std::vector<oracle::occi::MetaData> getColumnListMetaData() const override { return {}; }
    oracle::occi::Statement* getStatement() const override { return nullptr; }

private:
    const Cell& cell(unsigned int p_column) const {
        static const Cell none = Cell::null();
        return p_column >= 1 && p_column <= _row.size() ? _row[p_column - 1] : none;
    }
    std::vector<Cell> _row;
};

}  // namespace shapetest

#endif
