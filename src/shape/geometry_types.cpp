// The shape type a row needs: kinds of shape types, the type of a kind in
// given dimensions, and what a type's vertices carry.
#include <shapefil.h>

#include <cstdlib>
#include <map>
#include <string>

#include "diag/log.h"
#include "settings/settings.h"
#include "shape/geometry_parts.h"

namespace tvgeom {

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

// Logs a geometry that the file's shape type cannot hold.
BuildResult kindMismatch(ShapeKind p_kind, bool p_z, bool p_m, const Target& p_target) {
    int own = shapeTypeOf(p_kind, p_z, p_m);
    tvLog("Geometry does not match the shapefile's shape type : ",
          std::to_string(own) + " (" + SHPTypeName(own) + ") into " + std::to_string(p_target.type) +
              " (" + SHPTypeName(p_target.type) + ")",
          LOG_ERROR);
    return BUILD_FAILED;
}

int forcedShapeType(int p_type) {
    std::map<std::string, std::string>::const_iterator found = g_args.find("forcetype");
    if (found != g_args.end() && !found->second.empty()) return std::atoi(found->second.c_str());
    return p_type;
}

int raisedShapeType(int p_fileType, const SDOGeometry* p_geometry, unsigned short p_gtype, bool p_forced) {
    if (p_forced || p_geometry == nullptr) return p_fileType;
    const Target file = targetFor(p_fileType);
    const Target row = targetFor(tvNaturalShapeType(p_gtype));  // not forced here
    ShapeKind kind = file.kind;
    if (file.kind == KIND_POINT && row.kind == KIND_MULTIPOINT) kind = KIND_MULTIPOINT;
    if (row.kind != kind && !(kind == KIND_MULTIPOINT && row.kind == KIND_POINT)) return p_fileType;
    if (kind != KIND_POINT && kind != KIND_MULTIPOINT && kind != KIND_LINE && kind != KIND_POLYGON) {
        return p_fileType;
    }
    return shapeTypeOf(kind, file.z || row.z, file.m || row.m);
}

}  // namespace tvgeom
