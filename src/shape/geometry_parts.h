// Shared pieces of the conversion of one SDO_GEOMETRY into one shape record
// (shape/geometry*.cpp): what the geometry holds (Source), the shape type it
// is converted to (Target), and the shape waiting in the writer's buffers
// (Prepared). Each builder reads the geometry in place, checks what it
// reads, and fills the buffers in the target's dimensions.
#ifndef TARVEX_SHAPE_GEOMETRY_PARTS_H
#define TARVEX_SHAPE_GEOMETRY_PARTS_H

#include <occi.h>
#include <shapefil.h>

#include <cstddef>
#include <vector>

#include "oracle/sdo.h"
#include "shape/gtype.h"
#include "shape/shape_writer.h"

namespace tvgeom {

using oracle::occi::Number;

// --- The shape type a row needs (geometry_types.cpp) ---

enum ShapeKind { KIND_NULL, KIND_POINT, KIND_MULTIPOINT, KIND_LINE, KIND_POLYGON, KIND_MULTIPATCH, KIND_OTHER };

ShapeKind kindOf(int p_type);

// The shape type of a kind in the dimensions of a geometry.
int shapeTypeOf(ShapeKind p_kind, bool p_z, bool p_m);

// The shape type a geometry is converted to, and what its vertices carry.
struct Target {
    int type;
    ShapeKind kind;
    bool z;        // the type stores Z
    bool m;        // the type can store M
    bool alwaysM;  // the type always stores M (the M types)
};

// Inline: it runs several times a row, and a call returning the struct
// through memory costs more than the few comparisons.
inline Target targetFor(int p_type) {
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

// The shape type a file of type p_fileType must become to hold p_geometry
// as it is: the kind raised from point to multipoint for a multipoint, the
// dimensions raised to the union of the file's and the geometry's. The
// file's own type when it holds the geometry already, when the geometry is
// of another family (refused further on), and under a forced type.
// p_gtype: the geometry's gtype, as gtypeOf reads it.
int raisedShapeType(int p_fileType, const SDOGeometry* p_geometry, unsigned short p_gtype, bool p_forced);

// The "forcetype" setting's shape type, else p_type.
int forcedShapeType(int p_type);

// --- Element information and ordinates (geometry_elements.cpp) ---

// An element-information entry as an int; NULL reads as 0, values beyond the
// int range as the nearest limit.
int elemInt(const Number& p_value);
unsigned short gtypeOf(const SDOGeometry* p_geometry);

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

    explicit Source(const SDOGeometry* p_geometry) : Source(p_geometry, gtypeOf(p_geometry)) {}
    // p_gtype: gtypeOf(p_geometry), which the caller has read already.
    Source(const SDOGeometry* p_geometry, unsigned short p_gtype)
        : elem(p_geometry->getSdo_elem_info()),
          ord(p_geometry->getSdo_ordinates()),
          gtype(p_gtype),
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
    bool rings = false;  // the parts are rings, still to be oriented
};

enum BuildResult { BUILD_OK, BUILD_EMPTY, BUILD_FAILED };

void ensureVertices(tvShapeBuffers& p_buffers, size_t p_count);
void ensureParts(tvShapeBuffers& p_buffers, size_t p_count);
// Logs p_text with p_value at LOG_ERROR: BUILD_FAILED.
BuildResult malformed(const char* p_text, long long p_value);

// Copies p_count vertices of the source from vertex p_first into the buffers
// at p_at, in the target's dimensions. Fails on a NULL X or Y.
BuildResult copyVertices(const Source& p_source, const Target& p_target, size_t p_first,
                         size_t p_count, tvShapeBuffers& p_buffers, size_t p_at);
// The ordinates and the element offsets into them: BUILD_EMPTY without
// ordinates, BUILD_FAILED (logged) for less than one vertex, a trailing
// partial vertex or triplet, or an offset off a vertex, beyond the ordinates
// or before the one ahead of it.
BuildResult checkOrdinates(const Source& p_source);
// Element information holds whole numbers only.
BuildResult checkElementInfo(const Source& p_source);

bool isRingEtype(int p_etype);
// Compound elements: a line string (4) and rings (1005 exterior, 2005
// interior), each followed by as many line subelements as its third value.
const int ETYPE_COMPOUND_EXTERIOR_RING = 1005;
const int ETYPE_COMPOUND_INTERIOR_RING = 2005;
bool isCompoundEtype(int p_etype, bool p_polygon);
BuildResult unsupportedEtype(int p_etype);
BuildResult unsupportedInterpretation(int p_interpretation, bool p_polygon);
// Every element of a line or polygon is one the conversion knows.
BuildResult checkElements(const Source& p_source, bool p_polygon, bool p_curves);

// Logs a geometry that the file's shape type cannot hold.
BuildResult kindMismatch(ShapeKind p_kind, bool p_z, bool p_m, const Target& p_target);

// --- Points (geometry_points.cpp) ---

bool hasUsablePoint(const SDOGeometry* p_geometry);
// A point from SDO_POINT.
BuildResult buildSdoPoint(const SDOPointType* p_point, unsigned short p_gtype,
                          const Target& p_target, tvShapeBuffers& p_buffers, Prepared& p_shape);
// The points of the point elements; with p_firstOnly only the first one.
BuildResult buildPoints(const Source& p_source, const Target& p_target, bool p_firstOnly,
                        tvShapeBuffers& p_buffers, Prepared& p_shape);

// --- Lines, polygons and rings (geometry_rings.cpp) ---

BuildResult buildLine(const Source& p_source, const Target& p_target,
                      const tvConversionSettings& p_settings, tvShapeBuffers& p_buffers,
                      Prepared& p_shape);
// The rings are left as stored: finishRings() orients them.
BuildResult buildPolygon(const Source& p_source, const Target& p_target,
                         const tvConversionSettings& p_settings, tvShapeBuffers& p_buffers,
                         Prepared& p_shape);
// Turns the rings of a prepared polygon or multipatch clockwise (exterior)
// and counter-clockwise (holes), and sets a multipatch's part types.
void finishRings(const Target& p_target, tvShapeBuffers& p_buffers, Prepared& p_shape);

// --- Multipatch (geometry_multipatch.cpp) ---

// The part types of a multipatch from the roles of its oriented rings.
void setMultipatchPartTypes(tvShapeBuffers& p_buffers, Prepared& p_shape);

}  // namespace tvgeom

#endif
