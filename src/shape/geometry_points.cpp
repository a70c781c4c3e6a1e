// Points: SDO_POINT, point elements and point clusters, into a point or
// multipoint shape.
#include <cmath>

#include "diag/log.h"
#include "settings/settings.h"
#include "shape/geometry_parts.h"
#include "shape/sdo_constants.h"

namespace tvgeom {

namespace {

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

}  // namespace

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
    const double xValue = static_cast<double>(x);
    const double yValue = static_cast<double>(y);
    if (!std::isfinite(xValue) || !std::isfinite(yValue) || (!third.isNull() && !std::isfinite(thirdValue))) {
        return malformed("Malformed geometry, infinite or NaN ordinate at vertex : ", 0);
    }

    ensureVertices(p_buffers, 1);
    p_buffers.x[0] = xValue;
    p_buffers.y[0] = yValue;
    p_buffers.z[0] = (p_target.z && hasZ) ? thirdValue : (p_target.z ? nullVertex : 0.0);
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

bool hasUsablePoint(const SDOGeometry* p_geometry) {
    const SDOPointType* point = p_geometry->getSdo_point();
    return point != nullptr && !point->isNull() && !point->getX().isNull() &&
           !point->getY().isNull();
}

}  // namespace tvgeom
