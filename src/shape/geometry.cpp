// Conversion of one SDO_GEOMETRY into one shape record.
//
// Every geometry is converted straight into the shape type of the open file:
// vertices gain or lose Z and M as that type needs (a missing Z is 0, a
// missing or NULL M is g_shp_null_vertex), and a geometry of another kind
// than the file's is refused, since shapelib aborts on a shape of another
// type than its file; only under a forced type do polygons become lines (one
// closed line per ring) and lines or polygons multipoints (their vertices).
// Element information and ordinates are checked before they are read, so
// that malformed values (also infinite or NaN ones, element information that
// is not whole, lines of one vertex, rings of fewer than three distinct
// vertices) are refused instead of written. Open rings are closed and
// counted. Curves are refused unless an arc limit is set; then arcs and
// circles are stroked (shape/curves.h), rectangles expanded and compound
// elements joined into one part each.
#include <shapefil.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>
#include <sstream>
#include <string>

#include "diag/log.h"
#include "oracle/sdo.h"
#include "settings/settings.h"
#include "shape/buffered_io.h"
#include "shape/curves.h"
#include "shape/gtype.h"
#include "shape/rings.h"
#include "shape/sdo_constants.h"
#include "shape/shape_writer.h"

using oracle::occi::Number;

namespace {

enum ShapeKind { KIND_NULL, KIND_POINT, KIND_MULTIPOINT, KIND_LINE, KIND_POLYGON, KIND_MULTIPATCH, KIND_OTHER };

ShapeKind kindOf(int p_type) {
    switch (p_type) {
        case SHPT_NULL: return KIND_NULL;
        case SHPT_POINT:
        case SHPT_POINTZ:
        case SHPT_POINTM: return KIND_POINT;
        case SHPT_MULTIPOINT:
        case SHPT_MULTIPOINTZ:
        case SHPT_MULTIPOINTM: return KIND_MULTIPOINT;
        case SHPT_ARC:
        case SHPT_ARCZ:
        case SHPT_ARCM: return KIND_LINE;
        case SHPT_POLYGON:
        case SHPT_POLYGONZ:
        case SHPT_POLYGONM: return KIND_POLYGON;
        case SHPT_MULTIPATCH: return KIND_MULTIPATCH;
        default: return KIND_OTHER;
    }
}

// The shape type of a kind in the dimensions of a geometry.
int shapeTypeOf(ShapeKind p_kind, bool p_z, bool p_m) {
    switch (p_kind) {
        case KIND_POINT: return p_z ? SHPT_POINTZ : (p_m ? SHPT_POINTM : SHPT_POINT);
        case KIND_MULTIPOINT: return p_z ? SHPT_MULTIPOINTZ : (p_m ? SHPT_MULTIPOINTM : SHPT_MULTIPOINT);
        case KIND_LINE: return p_z ? SHPT_ARCZ : (p_m ? SHPT_ARCM : SHPT_ARC);
        case KIND_POLYGON: return p_z ? SHPT_POLYGONZ : (p_m ? SHPT_POLYGONM : SHPT_POLYGON);
        case KIND_MULTIPATCH: return SHPT_MULTIPATCH;
        default: return SHPT_NULL;
    }
}

// The shape type a geometry is converted to, and what its vertices carry.
struct Target {
    int type;
    ShapeKind kind;
    bool z;        // the type stores Z
    bool m;        // the type can store M
    bool alwaysM;  // the type always stores M (the M types)
};

Target targetFor(int p_type) {
    Target target;
    target.type = p_type;
    target.kind = kindOf(p_type);
    target.z = p_type == SHPT_POINTZ || p_type == SHPT_ARCZ || p_type == SHPT_POLYGONZ ||
               p_type == SHPT_MULTIPOINTZ || p_type == SHPT_MULTIPATCH;
    target.alwaysM = p_type == SHPT_POINTM || p_type == SHPT_ARCM || p_type == SHPT_POLYGONM ||
                     p_type == SHPT_MULTIPOINTM;
    target.m = target.z || target.alwaysM;
    return target;
}

// An element-information entry as an int; NULL reads as 0, values beyond the
// int range as the nearest limit.
int elemInt(const Number& p_value) {
    if (p_value.isNull()) return 0;
    double value = static_cast<double>(p_value);
    if (value >= static_cast<double>(INT_MAX)) return INT_MAX;
    if (value >= static_cast<double>(INT_MIN)) return static_cast<int>(value);
    return INT_MIN;  // below the range, or not a number
}

unsigned short gtypeOf(const SDOGeometry* p_geometry) {
    Number gtype = p_geometry->getSdo_gtype();
    if (gtype.isNull()) return 0;
    double value = static_cast<double>(gtype);
    if (!(value >= 0.0 && value <= 65535.0)) return 0;
    return static_cast<unsigned short>(value);
}

// The geometry's arrays, read in place.
struct Source {
    const std::vector<Number>& elem;
    const std::vector<Number>& ord;
    unsigned short gtype;
    bool z;
    bool m;
    size_t stride;
    size_t vertexCount;
    size_t triplets;

    explicit Source(const SDOGeometry* p_geometry)
        : elem(p_geometry->getSdo_elem_info()),
          ord(p_geometry->getSdo_ordinates()),
          gtype(gtypeOf(p_geometry)),
          z(is3DGType(gtype)),
          m(isGTypeWithM(gtype)),
          stride(2 + (z ? 1 : 0) + (m ? 1 : 0)),
          vertexCount(ord.size() / stride),
          triplets(elem.size() / 3) {}

    int offset(size_t p_triplet) const { return elemInt(elem[p_triplet * 3]); }
    int etype(size_t p_triplet) const { return elemInt(elem[p_triplet * 3 + 1]); }
    int interpretation(size_t p_triplet) const { return elemInt(elem[p_triplet * 3 + 2]); }
};

// A converted shape waiting in the buffers.
struct Prepared {
    int type;
    int parts;
    int vertices;
    bool measured;    // the M array is to be stored
    bool partTypes;   // the part-type array is to be stored
    int closedRings;  // rings closed by repeating their first vertex
};

enum BuildResult { BUILD_OK, BUILD_EMPTY, BUILD_FAILED };

void ensureVertices(tvShapeBuffers& p_buffers, size_t p_count) {
    if (p_buffers.x.size() < p_count) {
        p_buffers.x.resize(p_count);
        p_buffers.y.resize(p_count);
        p_buffers.z.resize(p_count);
        p_buffers.m.resize(p_count);
    }
}

void ensureParts(tvShapeBuffers& p_buffers, size_t p_count) {
    if (p_buffers.partStart.size() < p_count) {
        p_buffers.partStart.resize(p_count);
        p_buffers.partType.resize(p_count);
        p_buffers.ringRole.resize(p_count);
    }
}

BuildResult malformed(const char* p_text, long long p_value) {
    tvLog(p_text, std::to_string(p_value), LOG_ERROR);
    return BUILD_FAILED;
}

// Copies p_count vertices of the source from vertex p_first into the buffers
// at p_at, in the target's dimensions. Fails on a NULL X or Y.
BuildResult copyVertices(const Source& p_source, const Target& p_target, size_t p_first,
                         size_t p_count, tvShapeBuffers& p_buffers, size_t p_at) {
    const Number* ordinates = p_source.ord.data() + p_first * p_source.stride;
    const size_t stride = p_source.stride;
    const size_t mOffset = p_source.z ? 3 : 2;
    const double nullVertex = g_shp_null_vertex;
    const double missingM = p_target.m ? nullVertex : 0.0;
    const bool takeZ = p_target.z && p_source.z;
    const bool takeM = p_target.m && p_source.m;
    double* x = p_buffers.x.data() + p_at;
    double* y = p_buffers.y.data() + p_at;
    double* z = p_buffers.z.data() + p_at;
    double* m = p_buffers.m.data() + p_at;
    for (size_t v = 0; v < p_count; ++v, ordinates += stride) {
        if (ordinates[0].isNull() || ordinates[1].isNull()) {
            return malformed("Malformed geometry, NULL X or Y ordinate at vertex : ",
                             static_cast<long long>(p_first + v));
        }
        x[v] = static_cast<double>(ordinates[0]);
        y[v] = static_cast<double>(ordinates[1]);
        const double zValue = (p_source.z && !ordinates[2].isNull()) ? static_cast<double>(ordinates[2]) : 0.0;
        const double mValue =
            (p_source.m && !ordinates[mOffset].isNull()) ? static_cast<double>(ordinates[mOffset]) : 0.0;
        if (!std::isfinite(x[v]) || !std::isfinite(y[v]) || !std::isfinite(zValue) || !std::isfinite(mValue)) {
            return malformed("Malformed geometry, infinite or NaN ordinate at vertex : ",
                             static_cast<long long>(p_first + v));
        }
        if (takeZ) {
            z[v] = ordinates[2].isNull() ? nullVertex : zValue;
        } else {
            z[v] = 0.0;
        }
        if (takeM) {
            m[v] = ordinates[mOffset].isNull() ? nullVertex : mValue;
        } else {
            m[v] = missingM;
        }
    }
    return BUILD_OK;
}

// Ordinates present but not one whole vertex, or none at all.
BuildResult checkOrdinates(const Source& p_source) {
    if (p_source.vertexCount > 0) return BUILD_OK;
    if (p_source.ord.empty()) return BUILD_EMPTY;
    return malformed("Malformed geometry, fewer ordinates than one vertex : ",
                     static_cast<long long>(p_source.ord.size()));
}

// Logs a geometry that the file's shape type cannot hold.
BuildResult kindMismatch(ShapeKind p_kind, bool p_z, bool p_m, const Target& p_target) {
    int own = shapeTypeOf(p_kind, p_z, p_m);
    tvLog("Geometry does not match the shapefile's shape type : ",
          std::to_string(own) + " (" + SHPTypeName(own) + ") into " + std::to_string(p_target.type) +
              " (" + SHPTypeName(p_target.type) + ")",
          LOG_ERROR);
    return BUILD_FAILED;
}

// Sets the point or multipoint shape for p_count gathered points.
BuildResult preparePoints(const Source& p_source, const Target& p_target, size_t p_count,
                          Prepared& p_shape) {
    ShapeKind kind = p_count == 1 ? KIND_POINT : KIND_MULTIPOINT;
    if (p_count == 0) return BUILD_EMPTY;
    if (!(p_target.kind == KIND_MULTIPOINT || (p_target.kind == KIND_POINT && p_count == 1))) {
        return kindMismatch(kind, p_source.z, p_source.m, p_target);
    }
    p_shape.type = p_target.type;
    p_shape.parts = 0;
    p_shape.vertices = static_cast<int>(p_count);
    p_shape.measured = p_target.alwaysM || (p_target.m && p_source.m);
    p_shape.partTypes = false;
    return BUILD_OK;
}

// A point from SDO_POINT. With M but no Z in the gtype, the third value is
// the measure.
BuildResult buildSdoPoint(const SDOPointType* p_point, unsigned short p_gtype,
                          const Target& p_target, tvShapeBuffers& p_buffers, Prepared& p_shape) {
    if (p_point == nullptr || p_point->isNull()) return BUILD_EMPTY;
    Number x = p_point->getX();
    Number y = p_point->getY();
    if (x.isNull() || y.isNull()) {
        return malformed("Malformed geometry, NULL X or Y ordinate at vertex : ", 0);
    }
    const bool hasZ = is3DGType(p_gtype);
    const bool hasM = isGTypeWithM(p_gtype);
    if (p_target.kind != KIND_POINT && p_target.kind != KIND_MULTIPOINT) {
        return kindMismatch(KIND_POINT, hasZ, hasM, p_target);
    }
    const double nullVertex = g_shp_null_vertex;
    Number third = p_point->getZ();
    const double thirdValue = third.isNull() ? nullVertex : static_cast<double>(third);
    if (!std::isfinite(static_cast<double>(x)) || !std::isfinite(static_cast<double>(y)) ||
        (!third.isNull() && !std::isfinite(thirdValue))) {
        return malformed("Malformed geometry, infinite or NaN ordinate at vertex : ", 0);
    }

    ensureVertices(p_buffers, 1);
    p_buffers.x[0] = static_cast<double>(x);
    p_buffers.y[0] = static_cast<double>(y);
    p_buffers.z[0] = (p_target.z && hasZ) ? thirdValue : 0.0;
    p_buffers.m[0] = (p_target.m && hasM && !hasZ) ? thirdValue : (p_target.m ? nullVertex : 0.0);
    p_shape.type = p_target.type;
    p_shape.parts = 0;
    p_shape.vertices = 1;
    p_shape.measured = p_target.alwaysM || (p_target.m && hasM && !hasZ);
    p_shape.partTypes = false;
    return BUILD_OK;
}

// The points of the geometry's point elements (element type 1): one per
// element of interpretation 1, n for a cluster of n. A later element of
// interpretation 0 is the orientation of the point before it and is passed
// over. With p_firstOnly only the first point is taken.
BuildResult buildPoints(const Source& p_source, const Target& p_target, bool p_firstOnly,
                        tvShapeBuffers& p_buffers, Prepared& p_shape) {
    BuildResult checked = checkOrdinates(p_source);
    if (checked != BUILD_OK) return checked;

    size_t count = 0;
    size_t nextFree = 0;  // elements may not overlap
    for (size_t t = 0; t < p_source.triplets; ++t) {
        if (p_source.etype(t) != SDO_ETYPE_POINT) continue;
        int points = p_source.interpretation(t);
        if (points == 0 && t > 0) continue;
        if (points <= 0) return malformed("Malformed geometry, invalid point count : ", points);
        int offset = p_source.offset(t);
        if (offset < 1 || static_cast<size_t>(offset - 1) >= p_source.ord.size()) {
            return malformed("Malformed geometry, element offset outside the ordinates : ", offset);
        }
        size_t first = static_cast<size_t>(offset - 1) / p_source.stride;
        if (first < nextFree) {
            return malformed("Malformed geometry, element offsets out of order : ", offset);
        }
        size_t wanted = p_firstOnly ? 1 : static_cast<size_t>(points);
        if (first >= p_source.vertexCount || wanted > p_source.vertexCount - first) {
            return malformed("Malformed geometry, point count beyond the ordinates : ", points);
        }
        ensureVertices(p_buffers, count + wanted);
        BuildResult copied = copyVertices(p_source, p_target, first, wanted, p_buffers, count);
        if (copied != BUILD_OK) return copied;
        count += wanted;
        nextFree = first + wanted;
        if (p_firstOnly) break;
    }
    return preparePoints(p_source, p_target, count, p_shape);
}

// Element information holds whole numbers only (NULLs are left to the
// checks of the values they stand for).
BuildResult checkElementInfo(const Source& p_source) {
    for (const Number& entry : p_source.elem) {
        if (entry.isNull()) continue;
        const double value = static_cast<double>(entry);
        if (!std::isfinite(value) || value != std::floor(value)) {
            std::ostringstream text;
            text.precision(15);
            text << value;
            tvLog("Malformed geometry, element info value not a whole number : ", text.str(), LOG_ERROR);
            return BUILD_FAILED;
        }
    }
    return BUILD_OK;
}

bool isRingEtype(int p_etype) {
    return p_etype == SDO_ETYPE_POLYRING || p_etype == SDO_ETYPE_EXTERIOR_POLYGON ||
           p_etype == SDO_ETYPE_INTERIOR_POLYGON;
}

// Compound elements: a line string (4) and rings (1005 exterior, 2005
// interior), each followed by as many line subelements as its third value.
const int ETYPE_COMPOUND_EXTERIOR_RING = 1005;
const int ETYPE_COMPOUND_INTERIOR_RING = 2005;

bool isCompoundEtype(int p_etype, bool p_polygon) {
    return p_polygon ? (p_etype == ETYPE_COMPOUND_EXTERIOR_RING || p_etype == ETYPE_COMPOUND_INTERIOR_RING)
                     : p_etype == SDO_ETYPE_COMPOUND;
}

BuildResult unsupportedEtype(int p_etype) {
    tvLog("Unsupported ETYPE within element info : ", p_etype, LOG_ERROR);
    return BUILD_FAILED;
}

BuildResult unsupportedInterpretation(int p_interpretation, bool p_polygon) {
    tvLog(p_polygon ? "Unsupported interpretation for polygon type : "
                    : "Unsupported interpretation for line type : ",
          p_interpretation, LOG_ERROR);
    return BUILD_FAILED;
}

// Without curve conversion every element of a line must be a line of
// straight segments, every element of a polygon a ring of straight segments:
// arcs, circles, rectangles and compound elements are refused, wherever they
// appear. With it, lines may also hold arc strings and compound line strings,
// polygons arc rings, rectangles, circles and compound rings.
BuildResult checkElements(const Source& p_source, bool p_polygon, bool p_curves) {
    for (size_t t = 0; t < p_source.triplets; ++t) {
        const int etype = p_source.etype(t);
        const int interpretation = p_source.interpretation(t);
        if (p_curves && isCompoundEtype(etype, p_polygon)) {
            if (interpretation < 1 || static_cast<size_t>(interpretation) >= p_source.triplets - t) {
                return malformed("Malformed geometry, compound element with more subelements than "
                                 "the element info holds : ",
                                 interpretation);
            }
            for (size_t sub = t + 1; sub <= t + static_cast<size_t>(interpretation); ++sub) {
                if (p_source.etype(sub) != SDO_ETYPE_LINE) return unsupportedEtype(p_source.etype(sub));
                const int subInterpretation = p_source.interpretation(sub);
                if (subInterpretation != SDO_INTERPRETATION_LINE &&
                    subInterpretation != SDO_INTERPRETATION_ARC_LINES) {
                    return unsupportedInterpretation(subInterpretation, p_polygon);
                }
            }
            t += static_cast<size_t>(interpretation);
            continue;
        }
        if (p_polygon ? !isRingEtype(etype) : etype != SDO_ETYPE_LINE) return unsupportedEtype(etype);
        const bool known = interpretation == 1 ||
                           (p_curves && (interpretation == SDO_INTERPRETATION_ARC_LINES ||
                                         (p_polygon && (interpretation == SDO_INTERPRETATION_RECTANGLE ||
                                                        interpretation == SDO_INTERPRETATION_CIRCLE))));
        if (!known) return unsupportedInterpretation(interpretation, p_polygon);
    }
    return BUILD_OK;
}

// Most vertices one geometry may have once its curves are stroked.
const size_t MAX_STROKED_VERTICES = 10000000;

// Appends the parts of a line or polygon to the buffers in the target's
// dimensions, element by element: straight elements as stored, curves
// stroked, rectangles expanded, compound elements joined into one part.
class Assembler {
public:
    Assembler(const Source& p_source, const Target& p_target, const tvConversionSettings& p_settings,
              tvShapeBuffers& p_buffers)
        : _source(p_source), _target(p_target), _settings(p_settings), _buffers(p_buffers) {}

    size_t vertices() const { return _count; }
    size_t parts() const { return _parts; }
    int closedRings() const { return _closed; }

    // All elements, as one part each; p_polygon makes them rings, closed
    // when p_close holds.
    BuildResult run(bool p_polygon, bool p_close) {
        size_t t = 0;
        while (t < _source.triplets) {
            const int etype = _source.etype(t);
            const int offset = _source.offset(t);
            const bool compound = isCompoundEtype(etype, p_polygon);
            const size_t subs = compound ? static_cast<size_t>(_source.interpretation(t)) : 0;
            const size_t next = t + 1 + subs;
            size_t start = 0;
            size_t end = _source.vertexCount;
            BuildResult result = vertexAt(t, start);
            if (result == BUILD_OK && next < _source.triplets) result = vertexAt(next, end);
            if (result != BUILD_OK) return result;
            if (end <= start) {
                return malformed("Malformed geometry, element offsets out of order : ", _source.offset(next));
            }

            int role = TV_RING_UNKNOWN;
            if (etype == SDO_ETYPE_EXTERIOR_POLYGON || etype == ETYPE_COMPOUND_EXTERIOR_RING) role = TV_RING_OUTER;
            if (etype == SDO_ETYPE_INTERIOR_POLYGON || etype == ETYPE_COMPOUND_INTERIOR_RING) role = TV_RING_INNER;
            beginPart(role);
            if (compound) {
                result = compoundElement(t, subs, start, end);
            } else {
                result = simpleElement(_source.interpretation(t), start, end - start, offset);
            }
            if (result != BUILD_OK) return result;
            result = p_polygon ? endRing(offset, p_close) : endLine(offset);
            if (result != BUILD_OK) return result;
            t = next;
        }
        return BUILD_OK;
    }

private:
    // The vertex where triplet p_triplet's element starts.
    BuildResult vertexAt(size_t p_triplet, size_t& p_vertex) const {
        const int offset = _source.offset(p_triplet);
        if (offset < 1 || static_cast<size_t>(offset - 1) >= _source.ord.size() ||
            static_cast<size_t>(offset - 1) / _source.stride >= _source.vertexCount) {
            return malformed("Malformed geometry, element offset outside the ordinates : ", offset);
        }
        p_vertex = static_cast<size_t>(offset - 1) / _source.stride;
        return BUILD_OK;
    }

    BuildResult simpleElement(int p_interpretation, size_t p_first, size_t p_count, int p_offset) {
        switch (p_interpretation) {
            case SDO_INTERPRETATION_ARC_LINES: return arcString(p_first, p_count, false, p_offset);
            case SDO_INTERPRETATION_RECTANGLE: return rectangle(p_first, p_count, p_offset);
            case SDO_INTERPRETATION_CIRCLE: return circle(p_first, p_count, p_offset);
            default: return stored(p_first, p_count);
        }
    }

    // Subelement j runs from its own start to the next one's start, which it
    // shares; the last one to the end of the compound element.
    BuildResult compoundElement(size_t p_triplet, size_t p_subs, size_t p_start, size_t p_end) {
        size_t first = 0;
        BuildResult result = vertexAt(p_triplet + 1, first);
        if (result != BUILD_OK) return result;
        if (first != p_start) {
            return malformed("Malformed geometry, element offsets out of order : ", _source.offset(p_triplet + 1));
        }
        for (size_t j = 1; j <= p_subs; ++j) {
            const size_t sub = p_triplet + j;
            size_t last = p_end - 1;
            if (j < p_subs) {
                result = vertexAt(sub + 1, last);
                if (result != BUILD_OK) return result;
                if (last <= first || last >= p_end) {
                    return malformed("Malformed geometry, element offsets out of order : ", _source.offset(sub + 1));
                }
            }
            const size_t count = last + 1 - first;
            const int offset = _source.offset(sub);
            if (_source.interpretation(sub) == SDO_INTERPRETATION_ARC_LINES) {
                result = arcString(first, count, j > 1, offset);
            } else if (count < 2) {
                return malformed("Malformed geometry, fewer than two vertices in the line element at offset : ",
                                 offset);
            } else {
                result = stored(j > 1 ? first + 1 : first, j > 1 ? count - 1 : count);
            }
            if (result != BUILD_OK) return result;
            first = last;
        }
        return BUILD_OK;
    }

    void beginPart(int p_role) {
        ensureParts(_buffers, _parts + 1);
        _buffers.partStart[_parts] = static_cast<int>(_count);
        _buffers.ringRole[_parts] = p_role;
        ++_parts;
    }

    bool grow(size_t p_count) {
        if (p_count > MAX_STROKED_VERTICES && p_count > _source.vertexCount + _source.triplets) return false;
        if (_buffers.x.size() < p_count) ensureVertices(_buffers, std::max(p_count, _buffers.x.size() * 2));
        return true;
    }

    BuildResult tooMany(size_t p_count) {
        return malformed("Too many vertices once the curves are stroked, use a larger arc limit : ",
                         static_cast<long long>(p_count));
    }

    BuildResult stored(size_t p_first, size_t p_count) {
        if (!grow(_count + p_count)) return tooMany(_count + p_count);
        BuildResult copied = copyVertices(_source, _target, p_first, p_count, _buffers, _count);
        if (copied == BUILD_OK) _count += p_count;
        return copied;
    }

    // Vertex p_vertex with its Z and M as stored, NaN for NULL.
    BuildResult readPoint(size_t p_vertex, tvCurvePoint& p_point) {
        const Number* ordinates = _source.ord.data() + p_vertex * _source.stride;
        if (ordinates[0].isNull() || ordinates[1].isNull()) {
            return malformed("Malformed geometry, NULL X or Y ordinate at vertex : ", static_cast<long long>(p_vertex));
        }
        const double nan = std::numeric_limits<double>::quiet_NaN();
        p_point.x = static_cast<double>(ordinates[0]);
        p_point.y = static_cast<double>(ordinates[1]);
        p_point.z = (_source.z && !ordinates[2].isNull()) ? static_cast<double>(ordinates[2]) : nan;
        const size_t mOffset = _source.z ? 3 : 2;
        p_point.m = (_source.m && !ordinates[mOffset].isNull()) ? static_cast<double>(ordinates[mOffset]) : nan;
        if (!std::isfinite(p_point.x) || !std::isfinite(p_point.y) ||
            (_source.z && !ordinates[2].isNull() && !std::isfinite(p_point.z)) ||
            (_source.m && !ordinates[mOffset].isNull() && !std::isfinite(p_point.m))) {
            return malformed("Malformed geometry, infinite or NaN ordinate at vertex : ",
                             static_cast<long long>(p_vertex));
        }
        return BUILD_OK;
    }

    // Appends the points gathered in the curve buffer.
    BuildResult flushCurve() {
        const std::vector<tvCurvePoint>& points = _buffers.curve;
        if (!grow(_count + points.size())) return tooMany(_count + points.size());
        const double nullVertex = g_shp_null_vertex;
        const bool takeZ = _target.z && _source.z;
        const bool takeM = _target.m && _source.m;
        const double missingM = _target.m ? nullVertex : 0.0;
        for (const tvCurvePoint& point : points) {
            _buffers.x[_count] = point.x;
            _buffers.y[_count] = point.y;
            _buffers.z[_count] = takeZ ? (std::isnan(point.z) ? nullVertex : point.z) : 0.0;
            _buffers.m[_count] = takeM ? (std::isnan(point.m) ? nullVertex : point.m) : missingM;
            ++_count;
        }
        _buffers.curve.clear();
        return BUILD_OK;
    }

    size_t room() const {
        const size_t used = _count + _buffers.curve.size();
        return used < MAX_STROKED_VERTICES ? MAX_STROKED_VERTICES - used : 0;
    }

    BuildResult curveFailure(tvCurveStatus p_status, int p_offset, bool p_circle) {
        switch (p_status) {
            case CURVE_COINCIDENT:
                return malformed("Malformed geometry, coincident points in the curve at offset : ", p_offset);
            case CURVE_COLLINEAR:
                return malformed(p_circle ? "Malformed geometry, circle through collinear points at offset : "
                                          : "Malformed geometry, arc with its middle point outside its ends "
                                            "at offset : ",
                                 p_offset);
            default: return tooMany(_count + _buffers.curve.size());
        }
    }

    // Arcs of three points each, every arc starting at the previous one's end.
    BuildResult arcString(size_t p_first, size_t p_count, bool p_skipFirst, int p_offset) {
        if (p_count < 3 || p_count % 2 == 0) {
            return malformed("Malformed geometry, arc string without an odd number of at least three "
                             "vertices at offset : ",
                             p_offset);
        }
        _buffers.curve.clear();
        tvCurvePoint a, b, c;
        BuildResult result = readPoint(p_first, a);
        if (result != BUILD_OK) return result;
        if (!p_skipFirst) _buffers.curve.push_back(a);
        for (size_t v = p_first + 1; v + 1 < p_first + p_count; v += 2) {
            result = readPoint(v, b);
            if (result == BUILD_OK) result = readPoint(v + 1, c);
            if (result != BUILD_OK) return result;
            tvCurveStatus status = tvStrokeArc(a, b, c, _settings.arcStep, room(), _buffers.curve);
            if (status != CURVE_OK) return curveFailure(status, p_offset, false);
            a = c;
        }
        return flushCurve();
    }

    BuildResult circle(size_t p_first, size_t p_count, int p_offset) {
        if (p_count != 3) return malformed("Malformed geometry, circle not given by three points at offset : ", p_offset);
        tvCurvePoint a, b, c;
        BuildResult result = readPoint(p_first, a);
        if (result == BUILD_OK) result = readPoint(p_first + 1, b);
        if (result == BUILD_OK) result = readPoint(p_first + 2, c);
        if (result != BUILD_OK) return result;
        _buffers.curve.clear();
        tvCurveStatus status = tvStrokeCircle(a, b, c, _settings.arcStep, room(), _buffers.curve);
        if (status != CURVE_OK) return curveFailure(status, p_offset, true);
        return flushCurve();
    }

    // Lower-left and upper-right corner: the five vertices of the ring. The
    // two new corners take the mean of the stored corners' Z and M.
    BuildResult rectangle(size_t p_first, size_t p_count, int p_offset) {
        if (p_count != 2) {
            return malformed("Malformed geometry, rectangle not given by two corners at offset : ", p_offset);
        }
        tvCurvePoint low, high;
        BuildResult result = readPoint(p_first, low);
        if (result == BUILD_OK) result = readPoint(p_first + 1, high);
        if (result != BUILD_OK) return result;
        tvCurvePoint right = {high.x, low.y, (low.z + high.z) / 2, (low.m + high.m) / 2};
        tvCurvePoint left = {low.x, high.y, right.z, right.m};
        _buffers.curve.assign({low, right, high, left, low});
        return flushCurve();
    }

    BuildResult endLine(int p_offset) {
        const size_t begin = static_cast<size_t>(_buffers.partStart[_parts - 1]);
        if (_count - begin < 2) {
            return malformed("Malformed geometry, fewer than two vertices in the line element at offset : ",
                             p_offset);
        }
        return BUILD_OK;
    }

    // Closes an open ring by repeating its first vertex, and requires three
    // distinct vertices.
    BuildResult endRing(int p_offset, bool p_close) {
        const size_t begin = static_cast<size_t>(_buffers.partStart[_parts - 1]);
        double* x = _buffers.x.data();
        double* y = _buffers.y.data();
        size_t distinct = 1;
        size_t second = begin;
        for (size_t v = begin + 1; v < _count && distinct < 3; ++v) {
            if (x[v] == x[begin] && y[v] == y[begin]) continue;
            if (distinct == 1) {
                distinct = 2;
                second = v;
            } else if (x[v] != x[second] || y[v] != y[second]) {
                distinct = 3;
            }
        }
        if (_count == begin || distinct < 3) {
            return malformed("Malformed geometry, fewer than three distinct vertices in the ring at offset : ",
                             p_offset);
        }
        if (p_close && (x[_count - 1] != x[begin] || y[_count - 1] != y[begin])) {
            if (!grow(_count + 1)) return tooMany(_count + 1);
            _buffers.x[_count] = _buffers.x[begin];
            _buffers.y[_count] = _buffers.y[begin];
            _buffers.z[_count] = _buffers.z[begin];
            _buffers.m[_count] = _buffers.m[begin];
            ++_count;
            ++_closed;
        }
        return BUILD_OK;
    }

    const Source& _source;
    const Target& _target;
    const tvConversionSettings& _settings;
    tvShapeBuffers& _buffers;
    size_t _count = 0;
    size_t _parts = 0;
    int _closed = 0;
};

// The parts of a line or polygon geometry, checked and assembled.
BuildResult buildParts(const Source& p_source, const Target& p_target,
                       const tvConversionSettings& p_settings, bool p_polygon, bool p_close,
                       tvShapeBuffers& p_buffers, Prepared& p_shape) {
    BuildResult checked = checkOrdinates(p_source);
    if (checked != BUILD_OK) return checked;
    if (p_source.vertexCount > static_cast<size_t>(INT_MAX) ||
        p_source.triplets > static_cast<size_t>(INT_MAX)) {
        return malformed("Malformed geometry, too many vertices : ",
                         static_cast<long long>(p_source.vertexCount));
    }
    Assembler assembler(p_source, p_target, p_settings, p_buffers);
    BuildResult built = assembler.run(p_polygon, p_close);
    if (built != BUILD_OK) return built;
    p_shape.type = p_target.type;
    p_shape.parts = static_cast<int>(assembler.parts());
    p_shape.vertices = static_cast<int>(assembler.vertices());
    p_shape.measured = p_target.alwaysM || (p_target.m && p_source.m);
    p_shape.partTypes = false;
    p_shape.closedRings = assembler.closedRings();
    if (p_target.kind == KIND_MULTIPOINT) p_shape.parts = 0;
    return BUILD_OK;
}

BuildResult buildLine(const Source& p_source, const Target& p_target,
                      const tvConversionSettings& p_settings, tvShapeBuffers& p_buffers,
                      Prepared& p_shape) {
    if (g_log_level >= LOG_DEBUG) {
        tvLog("Entering createLineFromOrdinates", "", LOG_DEBUG);
        tvLog("Number of parts to line ", static_cast<int>(p_source.triplets), LOG_DEBUG);
        tvLog("Number of segments in entire line ", static_cast<int>(p_source.vertexCount), LOG_DEBUG);
    }
    // Under a forced type, a line's vertices may become the points of a multipoint.
    if (p_target.kind != KIND_LINE && !(p_settings.forced && p_target.kind == KIND_MULTIPOINT)) {
        return kindMismatch(KIND_LINE, p_source.z, p_source.m, p_target);
    }
    if (checkElements(p_source, false, p_settings.arcStep > 0) != BUILD_OK) return BUILD_FAILED;
    return buildParts(p_source, p_target, p_settings, false, false, p_buffers, p_shape);
}

BuildResult buildPolygon(const Source& p_source, const Target& p_target,
                         const tvConversionSettings& p_settings, tvShapeBuffers& p_buffers,
                         Prepared& p_shape) {
    // Under a forced type, rings may become closed lines, and vertices points.
    const bool rings = p_target.kind == KIND_POLYGON || p_target.kind == KIND_MULTIPATCH;
    const bool asLines = p_settings.forced && p_target.kind == KIND_LINE;
    const bool asPoints = p_settings.forced && p_target.kind == KIND_MULTIPOINT;
    if (!rings && !asLines && !asPoints) return kindMismatch(KIND_POLYGON, p_source.z, p_source.m, p_target);
    if (checkElements(p_source, true, p_settings.arcStep > 0) != BUILD_OK) return BUILD_FAILED;
    BuildResult built = buildParts(p_source, p_target, p_settings, true, !asPoints, p_buffers, p_shape);
    if (built != BUILD_OK || !rings) return built;

    const size_t parts = static_cast<size_t>(p_shape.parts);
    int* roles = p_buffers.ringRole.data();
    tvOrientRings(parts, p_buffers.partStart.data(), static_cast<size_t>(p_shape.vertices), roles,
                  p_buffers.x.data(), p_buffers.y.data(), p_buffers.z.data(), p_buffers.m.data());

    if (p_target.kind == KIND_MULTIPATCH) {
        // With holes, every exterior ring starts a polygon as an outer ring
        // and every hole is an inner ring; without, all are plain rings.
        bool holes = false;
        for (size_t i = 0; i < parts; ++i) holes = holes || roles[i] == TV_RING_INNER;
        int* types = p_buffers.partType.data();
        for (size_t i = 0; i < parts; ++i) {
            types[i] = !holes ? SHPP_RING : (roles[i] == TV_RING_INNER ? SHPP_INNERRING : SHPP_OUTERRING);
        }
        p_shape.partTypes = true;
    }
    return BUILD_OK;
}

int forcedShapeType(int p_type) {
    std::map<std::string, std::string>::const_iterator found = g_args.find("forcetype");
    if (found != g_args.end() && !found->second.empty()) return std::atoi(found->second.c_str());
    return p_type;
}

bool hasUsablePoint(const SDOGeometry* p_geometry) {
    const SDOPointType* point = p_geometry->getSdo_point();
    return point != nullptr && !point->isNull() && !point->getX().isNull() &&
           !point->getY().isNull();
}

// Chooses the conversion from the gtype, SDO_POINT and the first element
// triplet. Unsupported elements are logged and reported as BUILD_FAILED.
BuildResult buildGeometry(const SDOGeometry* p_geometry, const Target& p_target,
                          const tvConversionSettings& p_settings, tvShapeBuffers& p_buffers,
                          Prepared& p_shape) {
    if (p_geometry == nullptr) return BUILD_EMPTY;
    const Source source(p_geometry);

    // The point path: a point gtype with a usable SDO_POINT, or SDO_POINT as
    // the only content of the geometry.
    if ((isPointGType(source.gtype) || source.elem.empty()) && hasUsablePoint(p_geometry)) {
        return buildSdoPoint(p_geometry->getSdo_point(), source.gtype, p_target, p_buffers, p_shape);
    }
    if (source.triplets == 0) {
        if (source.elem.empty() && source.ord.empty()) {
            // Only an SDO_POINT, and it is not usable: with one of X and Y
            // NULL it is refused; with both NULL it holds no vertex.
            const SDOPointType* point = p_geometry->getSdo_point();
            if (point != nullptr && !point->isNull() &&
                point->getX().isNull() != point->getY().isNull()) {
                return malformed("Malformed geometry, NULL X or Y ordinate at vertex : ", 0);
            }
            return BUILD_EMPTY;
        }
        return malformed("Malformed geometry, element info shorter than a triplet : ",
                         static_cast<long long>(source.elem.size()));
    }
    BuildResult whole = checkElementInfo(source);
    if (whole != BUILD_OK) return whole;

    const bool curves = p_settings.arcStep > 0;
    const int etype = source.etype(0);
    const int interpretation = source.interpretation(0);
    const bool line = etype == SDO_ETYPE_LINE || (curves && isCompoundEtype(etype, false));
    const bool polygon = isRingEtype(etype) || (curves && isCompoundEtype(etype, true));
    if (etype != SDO_ETYPE_POINT && !line && !polygon) return unsupportedEtype(etype);
    if (g_log_level >= LOG_DEBUG) tvLog("Creating simple type : ", etype, LOG_DEBUG);

    if (etype == SDO_ETYPE_POINT) {
        return buildPoints(source, p_target, false, p_buffers, p_shape);
    }
    if (line) {
        if (etype == SDO_ETYPE_LINE && interpretation != SDO_INTERPRETATION_LINE &&
            !(curves && interpretation == SDO_INTERPRETATION_ARC_LINES)) {
            return unsupportedInterpretation(interpretation, false);
        }
        return buildLine(source, p_target, p_settings, p_buffers, p_shape);
    }
    if (isRingEtype(etype) && interpretation != SDO_INTERPRETATION_POLYGON &&
        !(curves && (interpretation == SDO_INTERPRETATION_ARC_POLYGON ||
                     interpretation == SDO_INTERPRETATION_RECTANGLE ||
                     interpretation == SDO_INTERPRETATION_CIRCLE))) {
        return unsupportedInterpretation(interpretation, true);
    }
    return buildPolygon(source, p_target, p_settings, p_buffers, p_shape);
}

// A new shapelib object holding the prepared shape, or a null shape for
// BUILD_EMPTY; null for BUILD_FAILED.
SHPObject* newObject(BuildResult p_built, const Prepared& p_shape, const tvShapeBuffers& p_buffers) {
    if (p_built == BUILD_FAILED) return nullptr;
    if (p_built == BUILD_EMPTY) return SHPCreateSimpleObject(SHPT_NULL, 0, nullptr, nullptr, nullptr);
    const Target target = targetFor(p_shape.type);
    return SHPCreateObject(p_shape.type, -1, p_shape.parts,
                           p_shape.parts > 0 ? p_buffers.partStart.data() : nullptr,
                           p_shape.partTypes ? p_buffers.partType.data() : nullptr, p_shape.vertices,
                           p_buffers.x.data(), p_buffers.y.data(),
                           target.z ? p_buffers.z.data() : nullptr,
                           p_shape.measured ? p_buffers.m.data() : nullptr);
}

SHPObject* finishBuilder(BuildResult p_built, const Prepared& p_shape,
                         const tvShapeBuffers& p_buffers, const char* p_failure) {
    SHPObject* object = newObject(p_built, p_shape, p_buffers);
    if (object == nullptr) tvLog(p_failure, "", LOG_ERROR);
    return object;
}

}  // namespace

SHPObject* createShapePointFromSdoPoint(SDOPointType* p_point, unsigned short p_gtype) {
    tvShapeBuffers buffers;
    Prepared shape = {SHPT_NULL, 0, 0, false, false, 0};
    BuildResult built = BUILD_FAILED;
    if (p_point != nullptr && !p_point->isNull()) {
        built = buildSdoPoint(p_point, p_gtype, targetFor(getShapeTypeForGType(p_gtype)), buffers,
                              shape);
    }
    return finishBuilder(built, shape, buffers,
                         "Failed to create point using createShapePointFromSdoPoint");
}

namespace {

// A single point (p_single) or a point cluster from the ordinates, as its own
// shape object; the file's type plays no part here.
SHPObject* pointsFromOrdinates(SDOGeometry* p_geometry, bool p_single) {
    tvShapeBuffers buffers;
    Prepared shape = {SHPT_NULL, 0, 0, false, false, 0};
    BuildResult built = BUILD_FAILED;
    if (p_geometry != nullptr) {
        const Source source(p_geometry);
        const int type = p_single ? getShapeTypeForGType(source.gtype)
                                  : (source.z ? SHPT_MULTIPOINTZ : SHPT_MULTIPOINT);
        if (source.triplets == 0) {
            built = malformed("Malformed geometry, element info shorter than a triplet : ",
                              static_cast<long long>(source.elem.size()));
        } else {
            built = buildPoints(source, targetFor(type), p_single, buffers, shape);
        }
    }
    return finishBuilder(built, shape, buffers,
                         "Failed to create point using createShapePointFromOrdinates");
}

}  // namespace

SHPObject* createShapePointFromOrdinates(SDOGeometry* p_geometry) {
    return pointsFromOrdinates(p_geometry, true);
}

SHPObject* createMultiShapePointFromOrdinates(SDOGeometry* p_geometry) {
    return pointsFromOrdinates(p_geometry, false);
}

SHPObject* createLineFromOrdinates(SDOGeometry* p_geometry) {
    tvShapeBuffers buffers;
    Prepared shape = {SHPT_NULL, 0, 0, false, false, 0};
    BuildResult built = BUILD_FAILED;
    if (p_geometry != nullptr) {
        const Source source(p_geometry);
        const Target target = targetFor(source.z ? SHPT_ARCZ : (source.m ? SHPT_ARCM : SHPT_ARC));
        built = checkElementInfo(source);
        if (built == BUILD_OK) built = buildLine(source, target, tvReadConversionSettings(), buffers, shape);
    }
    return finishBuilder(built, shape, buffers,
                         "Failed to create point using createLineFromOrdinates");
}

SHPObject* createPolygonFromOrdinates(SDOGeometry* p_geometry, SHPHandle p_shpHandle) {
    tvShapeBuffers buffers;
    Prepared shape = {SHPT_NULL, 0, 0, false, false, 0};
    BuildResult built = BUILD_FAILED;
    if (p_geometry != nullptr) {
        const Source source(p_geometry);
        int type = source.z ? SHPT_POLYGONZ : (source.m ? SHPT_POLYGONM : SHPT_POLYGON);
        if (p_shpHandle != nullptr && p_shpHandle->nShapeType != type) type = p_shpHandle->nShapeType;
        type = forcedShapeType(type);
        built = checkElementInfo(source);
        if (built == BUILD_OK) {
            built = buildPolygon(source, targetFor(type), tvReadConversionSettings(), buffers, shape);
        }
    }
    return finishBuilder(built, shape, buffers,
                         "Failed to create point using createPolygonFromOrdinates");
}

bool tvShapeWriter::writeShapeGeometry(SDOGeometry* p_geometry) {
    if (_shpHandle == nullptr) return false;

    const Target target = targetFor(tvShpShapeType(_shpHandle));
    Prepared shape = {SHPT_NULL, 0, 0, false, false, 0};
    BuildResult built = buildGeometry(p_geometry, target, _conversion, _buffers, shape);
    if (built == BUILD_OK && !_reprojection.apply(p_geometry, shape.type, shape.parts, shape.vertices, _buffers)) {
        built = BUILD_FAILED;  // no source system, or outside the transformation's domain
    }
    bool replaced = false;
    if (built == BUILD_FAILED) {
        // Unsupported or malformed: a null shape when tolerated.
        if (!_ignore) return false;
        built = BUILD_EMPTY;
        replaced = true;
    }

    SHPObject object;
    std::memset(&object, 0, sizeof object);
    object.nShapeId = -1;
    if (built == BUILD_EMPTY) {
        object.nSHPType = SHPT_NULL;
    } else {
        object.nSHPType = shape.type;
        object.nParts = shape.parts;
        object.panPartStart = shape.parts > 0 ? _buffers.partStart.data() : nullptr;
        object.panPartType = shape.partTypes ? _buffers.partType.data() : nullptr;
        object.nVertices = shape.vertices;
        object.padfX = _buffers.x.data();
        object.padfY = _buffers.y.data();
        object.padfZ = _buffers.z.data();
        object.padfM = _buffers.m.data();
        object.bMeasureIsUsed = shape.measured ? 1 : 0;
        tvComputeExtents(&object);
    }
    if (!writeShapeObject(&object)) return false;
    if (built == BUILD_OK) _closedRings += shape.closedRings;
    if (replaced) ++_nullShapes;
    return true;
}

void tvShapeWriter::reportMendedRings() {
    if (_closedRings > 0) {
        tvLog("[WARNING] Rings closed by repeating their first vertex : ", std::to_string(_closedRings),
              LOG_BASIC);
    }
    _closedRings = 0;
    if (_nullShapes > 0) {
        tvLog("[WARNING] Geometries that cannot be written replaced by null shapes (-i) : ",
              std::to_string(_nullShapes), LOG_BASIC);
    }
    _nullShapes = 0;
}

tvConversionSettings tvReadConversionSettings() {
    tvConversionSettings settings;
    std::map<std::string, std::string>::const_iterator found = g_args.find("arcs");
    if (found != g_args.end() && !found->second.empty()) {
        const double degrees = std::atof(found->second.c_str());
        // The parser admits only 0 < degrees <= 90.
        if (degrees > 0 && degrees <= 90) settings.arcStep = degrees * 3.14159265358979323846 / 180.0;
    }
    found = g_args.find("forcetype");
    settings.forced = found != g_args.end() && !found->second.empty();
    return settings;
}

bool tvShapeWriter::writeShapeObject(SHPObject* p_object) {
    int id = tvShpWriteObject(_shpHandle, p_object);
    if (id == -1 || tvIOFailed()) {
        tvLog("Failed to write object using SHPWriteObject : ", _currentRecord,
              tvIOFailed() ? LOG_DEBUG : LOG_ERROR);
        return false;
    }
    if (g_log_level >= LOG_DETAILED) tvLog("Written shape id of : ", id, LOG_DETAILED);
    return true;
}
