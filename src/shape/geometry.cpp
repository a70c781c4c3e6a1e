// Conversion of one SDO_GEOMETRY into one shape record.
//
// Every geometry is converted straight into the shape type of the open file:
// vertices gain or lose Z and M as that type needs (a missing Z is 0, a
// missing or NULL M is g_shp_null_vertex), and a geometry of another kind
// than the file's is refused, since shapelib aborts on a shape of another
// type than its file. Element information and ordinates are checked before
// they are read, so that malformed values are refused instead of read out
// of bounds.
#include <shapefil.h>

#include <climits>
#include <cstdlib>
#include <map>
#include <cstring>
#include <string>

#include "diag/log.h"
#include "oracle/sdo.h"
#include "settings/settings.h"
#include "shape/buffered_io.h"
#include "shape/gtype.h"
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
        if (takeZ) {
            z[v] = ordinates[2].isNull() ? nullVertex : static_cast<double>(ordinates[2]);
        } else {
            z[v] = 0.0;
        }
        if (takeM) {
            const Number& measure = ordinates[mOffset];
            m[v] = measure.isNull() ? nullVertex : static_cast<double>(measure);
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

// Every element of a line must be a line of straight segments, every element
// of a polygon a ring of straight segments: arcs, circles, rectangles and
// compound elements cannot be written, wherever they appear.
BuildResult checkElements(const Source& p_source, bool p_polygon) {
    for (size_t t = 0; t < p_source.triplets; ++t) {
        const int etype = p_source.etype(t);
        const bool ring = etype == SDO_ETYPE_POLYRING || etype == SDO_ETYPE_EXTERIOR_POLYGON ||
                          etype == SDO_ETYPE_INTERIOR_POLYGON;
        if (p_polygon ? !ring : etype != SDO_ETYPE_LINE) {
            tvLog("Unsupported ETYPE within element info : ", etype, LOG_ERROR);
            return BUILD_FAILED;
        }
        const int interpretation = p_source.interpretation(t);
        if (interpretation != 1) {
            tvLog(p_polygon ? "Unsupported interpretation for polygon type : "
                            : "Unsupported interpretation for line type : ",
                  interpretation, LOG_ERROR);
            return BUILD_FAILED;
        }
    }
    return BUILD_OK;
}

// Parts from the element triplets (one per triplet, starting at its offset)
// and the vertices from the first part's start to the end of the ordinates.
BuildResult buildParts(const Source& p_source, const Target& p_target, tvShapeBuffers& p_buffers,
                       Prepared& p_shape) {
    BuildResult checked = checkOrdinates(p_source);
    if (checked != BUILD_OK) return checked;
    if (p_source.vertexCount > static_cast<size_t>(INT_MAX) ||
        p_source.triplets > static_cast<size_t>(INT_MAX)) {
        return malformed("Malformed geometry, too many vertices : ",
                         static_cast<long long>(p_source.vertexCount));
    }

    const size_t parts = p_source.triplets;
    ensureParts(p_buffers, parts);
    int* starts = p_buffers.partStart.data();
    for (size_t i = 0; i < parts; ++i) {
        int offset = p_source.offset(i);
        if (offset < 1 || static_cast<size_t>(offset - 1) >= p_source.ord.size()) {
            return malformed("Malformed geometry, element offset outside the ordinates : ", offset);
        }
        size_t start = static_cast<size_t>(offset - 1) / p_source.stride;
        if (start >= p_source.vertexCount) {
            return malformed("Malformed geometry, element offset outside the ordinates : ", offset);
        }
        if (i > 0 && static_cast<int>(start) <= starts[i - 1]) {
            return malformed("Malformed geometry, element offsets out of order : ", offset);
        }
        starts[i] = static_cast<int>(start);
    }

    const size_t first = static_cast<size_t>(starts[0]);
    const size_t vertices = p_source.vertexCount - first;
    ensureVertices(p_buffers, vertices);
    BuildResult copied = copyVertices(p_source, p_target, first, vertices, p_buffers, 0);
    if (copied != BUILD_OK) return copied;
    for (size_t i = 0; i < parts; ++i) starts[i] -= static_cast<int>(first);

    p_shape.type = p_target.type;
    p_shape.parts = static_cast<int>(parts);
    p_shape.vertices = static_cast<int>(vertices);
    p_shape.measured = p_target.alwaysM || (p_target.m && p_source.m);
    p_shape.partTypes = false;
    return BUILD_OK;
}

BuildResult buildLine(const Source& p_source, const Target& p_target, tvShapeBuffers& p_buffers,
                      Prepared& p_shape) {
    if (g_log_level >= LOG_DEBUG) {
        tvLog("Entering createLineFromOrdinates", "", LOG_DEBUG);
        tvLog("Number of parts to line ", static_cast<int>(p_source.triplets), LOG_DEBUG);
        tvLog("Number of segments in entire line ", static_cast<int>(p_source.vertexCount), LOG_DEBUG);
    }
    if (p_target.kind != KIND_LINE) return kindMismatch(KIND_LINE, p_source.z, p_source.m, p_target);
    if (checkElements(p_source, false) != BUILD_OK) return BUILD_FAILED;
    return buildParts(p_source, p_target, p_buffers, p_shape);
}

const int RING_OUTER = 1;
const int RING_INNER = 2;

// Twice the signed area of a ring: positive when counter-clockwise.
double ringArea(const double* p_x, const double* p_y, size_t p_count) {
    if (p_count < 3) return 0.0;
    const double x0 = p_x[0];
    const double y0 = p_y[0];
    double area = 0.0;
    for (size_t i = 1; i + 1 < p_count; ++i) {
        area += (p_x[i] - x0) * (p_y[i + 1] - y0) - (p_x[i + 1] - x0) * (p_y[i] - y0);
    }
    return area;
}

bool pointInRing(double p_px, double p_py, const double* p_x, const double* p_y, size_t p_count) {
    bool inside = false;
    for (size_t i = 0, j = p_count - 1; i < p_count; j = i++) {
        if ((p_y[i] > p_py) != (p_y[j] > p_py)) {
            double crossing = p_x[i] + (p_py - p_y[i]) * (p_x[j] - p_x[i]) / (p_y[j] - p_y[i]);
            if (p_px < crossing) inside = !inside;
        }
    }
    return inside;
}

void reverseRange(double* p_values, size_t p_begin, size_t p_end) {
    size_t i = p_begin;
    size_t j = p_end - 1;
    while (i < j) {
        double swap = p_values[i];
        p_values[i] = p_values[j];
        p_values[j] = swap;
        ++i;
        --j;
    }
}

// Exterior rings clockwise, holes counter-clockwise. The role of a ring is
// its element type (1003 exterior, 2003 interior); for any other element
// type a ring inside an odd number of other rings is a hole.
void orientRings(const Source& p_source, tvShapeBuffers& p_buffers, const Prepared& p_shape) {
    const size_t parts = static_cast<size_t>(p_shape.parts);
    const size_t total = static_cast<size_t>(p_shape.vertices);
    const int* starts = p_buffers.partStart.data();
    int* roles = p_buffers.ringRole.data();
    double* x = p_buffers.x.data();
    double* y = p_buffers.y.data();
    bool nestingNeeded = false;
    for (size_t i = 0; i < parts; ++i) {
        int etype = p_source.etype(i);
        roles[i] = etype == SDO_ETYPE_EXTERIOR_POLYGON ? RING_OUTER
                   : etype == SDO_ETYPE_INTERIOR_POLYGON ? RING_INNER
                                                         : 0;
        if (roles[i] == 0) nestingNeeded = true;
    }
    auto ringEnd = [&](size_t i) {
        return i + 1 < parts ? static_cast<size_t>(starts[i + 1]) : total;
    };

    if (nestingNeeded) {
        std::vector<double> bounds(parts * 4);
        for (size_t i = 0; i < parts; ++i) {
            size_t b = static_cast<size_t>(starts[i]);
            size_t e = ringEnd(i);
            double minX = x[b], maxX = x[b], minY = y[b], maxY = y[b];
            for (size_t v = b + 1; v < e; ++v) {
                if (x[v] < minX) minX = x[v];
                if (x[v] > maxX) maxX = x[v];
                if (y[v] < minY) minY = y[v];
                if (y[v] > maxY) maxY = y[v];
            }
            bounds[i * 4] = minX;
            bounds[i * 4 + 1] = minY;
            bounds[i * 4 + 2] = maxX;
            bounds[i * 4 + 3] = maxY;
        }
        for (size_t i = 0; i < parts; ++i) {
            if (roles[i] != 0) continue;
            size_t b = static_cast<size_t>(starts[i]);
            int depth = 0;
            for (size_t j = 0; j < parts; ++j) {
                if (j == i) continue;
                size_t jb = static_cast<size_t>(starts[j]);
                size_t je = ringEnd(j);
                if (je - jb < 3) continue;
                if (x[b] < bounds[j * 4] || x[b] > bounds[j * 4 + 2] || y[b] < bounds[j * 4 + 1] ||
                    y[b] > bounds[j * 4 + 3]) {
                    continue;
                }
                if (pointInRing(x[b], y[b], x + jb, y + jb, je - jb)) ++depth;
            }
            roles[i] = (depth % 2 == 1) ? RING_INNER : RING_OUTER;
        }
    }

    for (size_t i = 0; i < parts; ++i) {
        size_t b = static_cast<size_t>(starts[i]);
        size_t e = ringEnd(i);
        double area = ringArea(x + b, y + b, e - b);
        bool reverse = (roles[i] == RING_OUTER && area > 0.0) || (roles[i] == RING_INNER && area < 0.0);
        if (reverse) {
            reverseRange(x, b, e);
            reverseRange(y, b, e);
            reverseRange(p_buffers.z.data(), b, e);
            reverseRange(p_buffers.m.data(), b, e);
        }
    }
}

BuildResult buildPolygon(const Source& p_source, const Target& p_target, tvShapeBuffers& p_buffers,
                         Prepared& p_shape) {
    if (p_target.kind != KIND_POLYGON && p_target.kind != KIND_MULTIPATCH) {
        return kindMismatch(KIND_POLYGON, p_source.z, p_source.m, p_target);
    }
    if (checkElements(p_source, true) != BUILD_OK) return BUILD_FAILED;
    BuildResult built = buildParts(p_source, p_target, p_buffers, p_shape);
    if (built != BUILD_OK) return built;
    orientRings(p_source, p_buffers, p_shape);

    if (p_target.kind == KIND_MULTIPATCH) {
        // Holes are inner rings and make the first ring an outer ring; any
        // other ring is a plain ring.
        int* types = p_buffers.partType.data();
        for (int i = 0; i < p_shape.parts; ++i) {
            if (p_source.etype(static_cast<size_t>(i)) == SDO_ETYPE_INTERIOR_POLYGON) {
                types[i] = SHPP_INNERRING;
                if (types[0] != SHPP_OUTERRING) types[0] = SHPP_OUTERRING;
            } else {
                types[i] = SHPP_RING;
            }
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
                          tvShapeBuffers& p_buffers, Prepared& p_shape) {
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

    const int etype = source.etype(0);
    const int interpretation = source.interpretation(0);
    if (etype != SDO_ETYPE_POINT && etype != SDO_ETYPE_LINE && etype != SDO_ETYPE_POLYRING &&
        etype != SDO_ETYPE_EXTERIOR_POLYGON && etype != SDO_ETYPE_INTERIOR_POLYGON) {
        tvLog("Unsupported ETYPE within element info : ", etype, LOG_ERROR);
        return BUILD_FAILED;
    }
    if (g_log_level >= LOG_DEBUG) tvLog("Creating simple type : ", etype, LOG_DEBUG);

    if (etype == SDO_ETYPE_POINT) {
        return buildPoints(source, p_target, false, p_buffers, p_shape);
    }
    if (etype == SDO_ETYPE_LINE) {
        if (interpretation != SDO_INTERPRETATION_LINE) {
            tvLog("Unsupported interpretation for line type : ", interpretation, LOG_ERROR);
            return BUILD_FAILED;
        }
        return buildLine(source, p_target, p_buffers, p_shape);
    }
    if (interpretation != SDO_INTERPRETATION_POLYGON) {
        tvLog("Unsupported interpretation for polygon type : ", interpretation, LOG_ERROR);
        return BUILD_FAILED;
    }
    return buildPolygon(source, p_target, p_buffers, p_shape);
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
    Prepared shape = {SHPT_NULL, 0, 0, false, false};
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
    Prepared shape = {SHPT_NULL, 0, 0, false, false};
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
    Prepared shape = {SHPT_NULL, 0, 0, false, false};
    BuildResult built = BUILD_FAILED;
    if (p_geometry != nullptr) {
        const Source source(p_geometry);
        const Target target = targetFor(source.z ? SHPT_ARCZ : (source.m ? SHPT_ARCM : SHPT_ARC));
        built = buildLine(source, target, buffers, shape);
    }
    return finishBuilder(built, shape, buffers,
                         "Failed to create point using createLineFromOrdinates");
}

SHPObject* createPolygonFromOrdinates(SDOGeometry* p_geometry, SHPHandle p_shpHandle) {
    tvShapeBuffers buffers;
    Prepared shape = {SHPT_NULL, 0, 0, false, false};
    BuildResult built = BUILD_FAILED;
    if (p_geometry != nullptr) {
        const Source source(p_geometry);
        int type = source.z ? SHPT_POLYGONZ : (source.m ? SHPT_POLYGONM : SHPT_POLYGON);
        if (p_shpHandle != nullptr && p_shpHandle->nShapeType != type) type = p_shpHandle->nShapeType;
        type = forcedShapeType(type);
        built = buildPolygon(source, targetFor(type), buffers, shape);
    }
    return finishBuilder(built, shape, buffers,
                         "Failed to create point using createPolygonFromOrdinates");
}

bool tvShapeWriter::writeShapeGeometry(SDOGeometry* p_geometry) {
    if (_shpHandle == nullptr) return false;

    const Target target = targetFor(tvShpShapeType(_shpHandle));
    Prepared shape = {SHPT_NULL, 0, 0, false, false};
    BuildResult built = buildGeometry(p_geometry, target, _buffers, shape);
    if (built == BUILD_FAILED) {
        // Unsupported or malformed: a null shape when tolerated.
        if (!_ignore) return false;
        built = BUILD_EMPTY;
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
        SHPComputeExtents(&object);
    }
    return writeShapeObject(&object);
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
