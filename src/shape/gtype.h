// Classification of SDO_GTYPE codes and their shapefile shape types.
#ifndef TARVEX_SHAPE_GTYPE_H
#define TARVEX_SHAPE_GTYPE_H

#include <string>

class SDOGeometry;

std::string getGTypeString(unsigned short gtype);
// The geometry's gtype as a 16-bit code. No geometry, and a value that is
// no such code (NULL, negative, fractional or above 65535), give 0, which no
// conversion supports.
unsigned short tvGTypeCode(const SDOGeometry* p_geometry);
// The shape type for a gtype; the "forcetype" setting overrides it.
unsigned short getShapeTypeForGType(unsigned short gtype);
// The shape type for a gtype, whatever "forcetype" says: for the row path,
// which knows whether a type is forced and looks the setting up only once.
unsigned short tvNaturalShapeType(unsigned short gtype);
bool isGTypeSupported(unsigned short gtype);
// Whether p_shapeType is a shape type a set can be written as: the types the
// gtypes map to, measured multipoints and multipatch (not the null type).
bool isKnownShapeType(int p_shapeType);
bool is3DGType(unsigned short gtype);
bool isGTypeWithM(unsigned short gtype);
bool isPointGType(unsigned short gtype);
void dumpGeometryObject(SDOGeometry* p_geometry);

#endif
