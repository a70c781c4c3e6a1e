#include "shape/gtype.h"

#include <shapefil.h>

#include <cmath>
#include <cstdlib>
#include <iostream>
#include <map>

#include "oracle/sdo.h"
#include "settings/settings.h"
#include "shape/sdo_constants.h"

using oracle::occi::Number;

std::string getGTypeString(unsigned short gtype) {
    switch (gtype) {
        case SDO_GTYPE_2D_UNKNOWN: return "SDO_GTYPE_2D_UNKNOWN";
        case SDO_GTYPE_2D_POINT: return "SDO_GTYPE_2D_POINT";
        case SDO_GTYPE_2D_LINE: return "SDO_GTYPE_2D_LINE";
        case SDO_GTYPE_2D_POLYGON: return "SDO_GTYPE_2D_POLYGON";
        case SDO_GTYPE_2D_COLLECTION: return "SDO_GTYPE_2D_COLLECTION";
        case SDO_GTYPE_2D_MULTIPOINT: return "SDO_GTYPE_2D_MULTIPOINT";
        case SDO_GTYPE_2D_MULTILINE: return "SDO_GTYPE_2D_MULTILINE";
        case SDO_GTYPE_2D_MULTIPOLYGON: return "SDO_GTYPE_2D_MULTIPOLYGON";
        default: return "";
    }
}

unsigned short getShapeTypeForGType(unsigned short gtype) {
    std::map<std::string, std::string>::const_iterator forced = g_args.find("forcetype");
    if (forced != g_args.end() && !forced->second.empty()) {
        return static_cast<unsigned short>(std::atoi(forced->second.c_str()));
    }
    return tvNaturalShapeType(gtype);
}

unsigned short tvNaturalShapeType(unsigned short gtype) {
    switch (gtype) {
        case SDO_GTYPE_2D_POINT:
            return SHPT_POINT;
        case SDO_GTYPE_2D_LINE:
        case SDO_GTYPE_2D_MULTILINE:
            return SHPT_ARC;
        case SDO_GTYPE_2D_POLYGON:
        case SDO_GTYPE_2D_MULTIPOLYGON:
            return SHPT_POLYGON;
        case SDO_GTYPE_2D_MULTIPOINT:
            return SHPT_MULTIPOINT;
        case SDO_GTYPE_3D_POINT:
        case SDO_GTYPE_4D_POINT:
        case SDO_GTYPE_3DM_POINT:
            return SHPT_POINTZ;
        case SDO_GTYPE_3D_LINE:
        case SDO_GTYPE_3D_MULTILINE:
        case SDO_GTYPE_4D_LINE:
        case SDO_GTYPE_4D_MULTILINE:
        case SDO_GTYPE_3DM_LINE:
        case SDO_GTYPE_3DM_MULTILINE:
            return SHPT_ARCZ;
        case SDO_GTYPE_3D_POLYGON:
        case SDO_GTYPE_3D_MULTIPOLYGON:
        case SDO_GTYPE_4D_POLYGON:
        case SDO_GTYPE_4D_MULTIPOLYGON:
        case SDO_GTYPE_3DM_POLYGON:
        case SDO_GTYPE_3DM_MULTIPOLYGON:
            return SHPT_POLYGONZ;
        case SDO_GTYPE_3D_MULTIPOINT:
        case SDO_GTYPE_4D_MULTIPOINT:
        case SDO_GTYPE_3DM_MULTIPOINT:
            return SHPT_MULTIPOINTZ;
        case SDO_GTYPE_2DM_POINT:
            return SHPT_POINTM;
        case SDO_GTYPE_2DM_LINE:
        case SDO_GTYPE_2DM_MULTILINE:
            return SHPT_ARCM;
        case SDO_GTYPE_2DM_POLYGON:
        case SDO_GTYPE_2DM_MULTIPOLYGON:
            return SHPT_POLYGONM;
        case SDO_GTYPE_2DM_MULTIPOINT:
            // Clusters are converted without their measures.
            return SHPT_MULTIPOINT;
        default:
            return SHPT_NULL;
    }
}

bool isGTypeSupported(unsigned short gtype) { return getShapeTypeForGType(gtype) != 0; }

bool isKnownShapeType(int p_shapeType) {
    switch (p_shapeType) {
        case SHPT_POINT: case SHPT_ARC: case SHPT_POLYGON: case SHPT_MULTIPOINT:
        case SHPT_POINTZ: case SHPT_ARCZ: case SHPT_POLYGONZ: case SHPT_MULTIPOINTZ:
        case SHPT_POINTM: case SHPT_ARCM: case SHPT_POLYGONM: case SHPT_MULTIPOINTM:
        case SHPT_MULTIPATCH:
            return true;
        default:
            return false;
    }
}

bool is3DGType(unsigned short gtype) {
    return (gtype >= SDO_GTYPE_3D_UNKNOWN && gtype <= SDO_GTYPE_3D_MULTIPOLYGON) ||
           (gtype >= SDO_GTYPE_4D_UNKNOWN && gtype <= SDO_GTYPE_4D_MULTIPOLYGON) ||
           (gtype >= SDO_GTYPE_3DM_UNKNOWN && gtype <= SDO_GTYPE_3DM_MULTIPOLYGON);
}

bool isGTypeWithM(unsigned short gtype) {
    return (gtype >= SDO_GTYPE_2DM_POINT && gtype <= SDO_GTYPE_2DM_MULTIPOLYGON) ||
           (gtype >= SDO_GTYPE_3DM_UNKNOWN && gtype <= SDO_GTYPE_3DM_MULTIPOLYGON) ||
           (gtype >= SDO_GTYPE_4D_POINT && gtype <= SDO_GTYPE_4D_MULTIPOLYGON);
}

bool isPointGType(unsigned short gtype) {
    return gtype == SDO_GTYPE_2D_POINT || gtype == SDO_GTYPE_3D_POINT ||
           gtype == SDO_GTYPE_2DM_POINT || gtype == SDO_GTYPE_4D_POINT;
}

void dumpGeometryObject(SDOGeometry* p_geometry) {
    if (p_geometry == nullptr) return;
    std::cout << "-----------Geometry Object ------------" << std::endl;
    std::cout << "SDO GTYPE = " << static_cast<int>(p_geometry->getSdo_gtype()) << std::endl;

    Number srid = p_geometry->getSdo_srid();
    if (srid.isNull()) {
        std::cout << "SDO SRID = " << "Null" << std::endl;
    } else {
        std::cout << "SDO SRID = " << static_cast<int>(srid) << std::endl;
    }

    SDOPointType* point = p_geometry->getSdo_point();
    if (point == nullptr || point->isNull() || point->getX().isNull() || point->getY().isNull()) {
        std::cout << "SDO POINT = " << "Null" << std::endl;
    } else {
        std::cout << "SDO POINT = (" << static_cast<int>(point->getX()) << ","
                  << static_cast<int>(point->getY()) << ")" << std::endl;
    }

    const std::vector<Number>& elemInfo = p_geometry->getSdo_elem_info();
    std::cout << "SDO ELEM INFO = (";
    for (const Number& entry : elemInfo) std::cout << static_cast<unsigned int>(entry) << ",";
    std::cout << ")" << std::endl;

    const std::vector<Number>& ordinates = p_geometry->getSdo_ordinates();
    std::cout << "SDO ORDINATES = (";
    const size_t shown = ordinates.size() < 100 ? ordinates.size() : 100;
    for (size_t i = 0; i < shown; ++i) std::cout << static_cast<float>(ordinates[i]) << ",";
    std::cout << ") (first 100 only)" << std::endl;
    std::cout << "-----------------------------------------" << std::endl;
}

unsigned short tvGTypeCode(const SDOGeometry* p_geometry) {
    if (p_geometry == nullptr) return 0;
    const oracle::occi::Number gtype = p_geometry->getSdo_gtype();
    if (gtype.isNull()) return 0;
    const double value = static_cast<double>(gtype);
    if (value >= 0 && value <= 65535 && value == std::floor(value)) return static_cast<unsigned short>(value);
    return 0;
}
