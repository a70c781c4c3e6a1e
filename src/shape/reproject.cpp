#include "shape/reproject.h"

#include <proj.h>
#include <shapefil.h>

#include <climits>
#include <cmath>
#include <utility>

#include "diag/log.h"
#include "oracle/sdo.h"
#include "settings/settings.h"
#include "shape/prj.h"
#include "shape/rings.h"
#include "shape/shape_writer.h"

using oracle::occi::Number;

namespace {

// Keys of the source table for geometries without an SRID, and for SRIDs
// that are no whole number in the int range.
const long long NO_SRID = LLONG_MIN;
const long long ODD_SRID = LLONG_MIN + 1;
// Distinct SRIDs kept at once; a query that mixes more starts over.
const size_t MAX_SOURCES = 64;

std::string setting(const std::map<std::string, std::string>& p_args, const char* p_key) {
    auto found = p_args.find(p_key);
    return found == p_args.end() ? std::string() : found->second;
}

long long sridKey(const SDOGeometry* p_geometry) {
    const Number srid = p_geometry->getSdo_srid();
    if (srid.isNull()) return NO_SRID;
    const double value = static_cast<double>(srid);
    if (!(value >= INT_MIN && value <= INT_MAX) || value != std::floor(value)) return ODD_SRID;
    return static_cast<long long>(value);
}

std::string sridText(long long p_key) {
    if (p_key == NO_SRID) return "NULL";
    if (p_key == ODD_SRID) return "not a whole number";
    return std::to_string(p_key);
}

// The coordinate system p_definition names, or null when PROJ builds none
// from it, or builds something else (a bare "+proj=merc" is an operation).
PJ* crsFrom(PJ_CONTEXT* p_context, const std::string& p_definition) {
    if (p_definition.empty()) return nullptr;
    PJ* object = proj_create(p_context, p_definition.c_str());
    if (object != nullptr && !proj_is_crs(object)) {
        proj_destroy(object);
        object = nullptr;
    }
    return object;
}

// Whether a coordinate system has a vertical axis (a height or a third
// geocentric axis), so that a transformation to or from it may change Z.
bool hasVerticalAxis(PJ_CONTEXT* p_context, const PJ* p_crs) {
    switch (proj_get_type(p_crs)) {
        case PJ_TYPE_COMPOUND_CRS:
        case PJ_TYPE_VERTICAL_CRS:
        case PJ_TYPE_GEOCENTRIC_CRS:
        case PJ_TYPE_GEOGRAPHIC_3D_CRS: return true;
        case PJ_TYPE_BOUND_CRS: {
            PJ* base = proj_get_source_crs(p_context, p_crs);
            const bool vertical = base != nullptr && hasVerticalAxis(p_context, base);
            proj_destroy(base);
            return vertical;
        }
        default: break;
    }
    PJ* system = proj_crs_get_coordinate_system(p_context, p_crs);
    const int axes = system == nullptr ? 0 : proj_cs_get_axis_count(p_context, system);
    proj_destroy(system);
    return axes >= 3;
}

PJ_CONTEXT* quietContext() {
    PJ_CONTEXT* context = proj_context_create();
    // Reasons are logged here, never written to standard error by PROJ.
    if (context != nullptr) proj_log_level(context, PJ_LOG_NONE);
    return context;
}

bool hasZ(int p_type) {
    return p_type == SHPT_POINTZ || p_type == SHPT_ARCZ || p_type == SHPT_POLYGONZ ||
           p_type == SHPT_MULTIPOINTZ || p_type == SHPT_MULTIPATCH;
}

bool hasRings(int p_type) {
    return p_type == SHPT_POLYGON || p_type == SHPT_POLYGONZ || p_type == SHPT_POLYGONM ||
           p_type == SHPT_MULTIPATCH;
}

}  // namespace

bool tvCheckSrsSettings(const std::map<std::string, std::string>& p_args) {
    const struct {
        const char* key;
        const char* option;
    } options[] = {{"t_srs", "--t-srs"}, {"s_srs", "--s-srs"}};
    bool result = true;
    PJ_CONTEXT* context = nullptr;
    for (const auto& option : options) {
        if (!result || p_args.count(option.key) == 0) continue;
        const std::string definition = setting(p_args, option.key);
        if (context == nullptr) context = quietContext();
        PJ* crs = context == nullptr ? nullptr : crsFrom(context, definition);
        if (crs == nullptr) {
            tvLog(std::string("Not a coordinate system PROJ knows, ") + option.option + " : ", definition,
                  LOG_ERROR);
            result = false;
        }
        proj_destroy(crs);
    }
    if (context != nullptr) proj_context_destroy(context);
    if (result && p_args.count("s_srs") != 0 && p_args.count("t_srs") == 0) {
        tvLog("[WARNING] --s-srs has no effect without --t-srs : ", setting(p_args, "s_srs"), LOG_BASIC);
    }
    return result;
}

tvReprojection::~tvReprojection() {
    clearSources();
    if (_fallbackSource.operation != nullptr) proj_destroy(_fallbackSource.operation);
    proj_destroy(_fallback);
    proj_destroy(_target);
    if (_context != nullptr) proj_context_destroy(_context);
}

bool tvReprojection::begin() {
    if (active()) return true;
    _ignore = setting(g_args, "ignore") == "yes";
    _targetText = setting(g_args, "t_srs");
    _fallbackText = setting(g_args, "s_srs");
    if (_targetText.empty()) return true;
    _context = quietContext();
    if (_context == nullptr) {
        tvLog("PROJ could not start, --t-srs : ", _targetText, LOG_ERROR);
        return false;
    }
    _target = crsFrom(_context, _targetText);
    if (_target == nullptr) {
        tvLog("Not a coordinate system PROJ knows, --t-srs : ", _targetText, LOG_ERROR);
        return false;
    }
    _targetVertical = hasVerticalAxis(_context, _target);
    if (!_fallbackText.empty()) {
        _fallback = crsFrom(_context, _fallbackText);
        if (_fallback == nullptr) {
            tvLog("Not a coordinate system PROJ knows, --s-srs : ", _fallbackText, LOG_ERROR);
            return false;
        }
    }
    return true;
}

PJ* tvReprojection::operationFrom(PJ* p_source, bool& p_vertical) {
    PJ* operation = proj_create_crs_to_crs_from_pj(_context, p_source, _target, nullptr, nullptr);
    if (operation == nullptr) return nullptr;
    // x is easting or longitude on both sides, whatever order the systems
    // define.
    PJ* normalized = proj_normalize_for_visualization(_context, operation);
    proj_destroy(operation);
    p_vertical = _targetVertical || hasVerticalAxis(_context, p_source);
    return normalized;
}

tvReprojection::Source tvReprojection::makeSource(long long p_srid) {
    Source source;
    std::string note;
    const int code = p_srid == NO_SRID || p_srid == ODD_SRID ? 0 : tvEpsgCodeForSrid(static_cast<int>(p_srid), note);
    const std::string epsg = "EPSG:" + std::to_string(code);
    PJ* crs = nullptr;
    if (code > 0) {
        crs = proj_create_from_database(_context, "EPSG", std::to_string(code).c_str(), PJ_CATEGORY_CRS, 0, nullptr);
    }
    if (crs != nullptr) {
        source.operation = operationFrom(crs, source.vertical);
        source.owned = source.operation != nullptr;
        proj_destroy(crs);
        if (source.operation == nullptr) {
            tvLog("PROJ has no transformation from " + epsg + " (SRID " + sridText(p_srid) + ") to : ",
                  _targetText, LOG_ERROR);
        } else {
            tvLog("Transforming the geometries of SRID " + sridText(p_srid) + " from " + epsg + " to : ",
                  _targetText, LOG_DETAILED);
        }
        return source;
    }

    // No EPSG code PROJ knows: the fallback's system, or none.
    std::string which = sridText(p_srid);
    if (code > 0) {
        which += " (" + epsg + ", unknown to PROJ)";
    } else if (p_srid != NO_SRID) {
        which += " (no EPSG code" + (note.empty() ? std::string() : ": " + note) + ")";
    }
    if (_fallback == nullptr) {
        tvLog("No source coordinate system (--s-srs names one) for the geometries of SRID : ", which, LOG_ERROR);
        return source;
    }
    if (!_fallbackTried) {
        _fallbackTried = true;
        _fallbackSource.operation = operationFrom(_fallback, _fallbackSource.vertical);
        if (_fallbackSource.operation == nullptr) {
            tvLog("PROJ has no transformation from --s-srs " + _fallbackText + " to : ", _targetText, LOG_ERROR);
        }
    }
    if (_fallbackSource.operation != nullptr) {
        tvLog("Geometries of SRID " + which + " taken in --s-srs : ", _fallbackText, LOG_BASIC);
    }
    source = _fallbackSource;
    source.owned = false;
    return source;
}

const tvReprojection::Source& tvReprojection::sourceFor(const SDOGeometry* p_geometry) {
    const long long key = sridKey(p_geometry);
    if (_last != nullptr && key == _lastSrid) return *_last;
    auto found = _sources.find(key);
    if (found == _sources.end()) {
        if (_sources.size() >= MAX_SOURCES) clearSources();
        found = _sources.emplace(key, makeSource(key)).first;
    }
    _lastSrid = key;
    _last = &found->second;
    return *_last;
}

void tvReprojection::clearSources() {
    for (auto& entry : _sources) {
        if (entry.second.owned) proj_destroy(entry.second.operation);
    }
    _sources.clear();
    _last = nullptr;
}

bool tvReprojection::apply(const SDOGeometry* p_geometry, int p_type, int p_parts, int p_vertices,
                           tvShapeBuffers& p_buffers) {
    if (!active() || p_geometry == nullptr || p_vertices <= 0 || p_type == SHPT_NULL) return true;
    ++_geometries;
    const Source& source = sourceFor(p_geometry);
    if (source.operation == nullptr) {
        ++_noSource;
        return false;
    }
    const size_t count = static_cast<size_t>(p_vertices);
    double* x = p_buffers.x.data();
    double* y = p_buffers.y.data();
    double* z = p_buffers.z.data();
    // Z only where the transformation may change it; a NULL Z keeps the
    // value that stands for NULL.
    const bool withZ = source.vertical && hasZ(p_type);
    if (withZ) _savedZ.assign(z, z + count);
    proj_trans_generic(source.operation, PJ_FWD, x, sizeof(double), count, y, sizeof(double), count,
                       withZ ? z : nullptr, sizeof(double), withZ ? count : 0, nullptr, 0, 0);
    proj_errno_reset(source.operation);

    long outside = 0;
    for (size_t i = 0; i < count; ++i) {
        if (!std::isfinite(x[i]) || !std::isfinite(y[i]) || (withZ && !std::isfinite(z[i]))) ++outside;
        if (withZ && _savedZ[i] == g_shp_null_vertex) z[i] = _savedZ[i];
    }
    if (outside > 0) {
        tvLog("Geometry with vertices outside the domain of the transformation to " + _targetText + " : ",
              std::to_string(outside) + " of " + std::to_string(count) + " vertices",
              _outside == 0 ? LOG_ERROR : LOG_DETAILED);
        ++_outside;
        _outsideVertices += outside;
        return false;
    }
    if (hasRings(p_type) && p_parts > 0) {
        tvOrientRings(static_cast<size_t>(p_parts), p_buffers.partStart.data(), count, p_buffers.ringRole.data(),
                      x, y, z, p_buffers.m.data());
    }
    ++_transformed;
    return true;
}

bool tvReprojection::finish() {
    // Without "-i" the first refused geometry has failed the export, with
    // its own line.
    if (!active() || !_ignore) return true;
    if (_noSource > 0) {
        tvLog("[WARNING] Geometries without a source coordinate system (no SRID, or one without an EPSG code "
              "PROJ knows; --s-srs names one) : ",
              std::to_string(_noSource), LOG_BASIC);
    }
    if (_outside > 0) {
        tvLog("[WARNING] Geometries with vertices outside the domain of the transformation to " + _targetText +
                  " : ",
              std::to_string(_outside) + " (" + std::to_string(_outsideVertices) + " vertices)", LOG_BASIC);
    }
    const bool result = _geometries == 0 || _transformed > 0;
    if (!result) {
        tvLog("No geometry could be transformed to the target coordinate system : ", _targetText, LOG_ERROR);
    }
    _geometries = _transformed = _noSource = _outside = _outsideVertices = 0;
    return result;
}

bool tvReprojection::targetWkt(std::string& p_wkt, std::string& p_note) const {
    if (!active()) return false;
    const char* text = proj_as_wkt(_context, _target, PJ_WKT1_ESRI, nullptr);
    if (text != nullptr && *text != '\0') {
        p_wkt = text;
        return true;
    }
    text = proj_as_wkt(_context, _target, PJ_WKT1_GDAL, nullptr);
    if (text != nullptr && *text != '\0') {
        p_wkt = text;
        p_note = "PROJ has no ESRI text for it, the .prj holds its WKT1 text";
        return true;
    }
    return false;
}
