// Conversion of one SDO_GEOMETRY into one shape record: the choice of the
// builder, and the record's way into the file.
//
// Every geometry is converted straight into the shape type of the open file:
// vertices gain or lose Z and M as that type needs (a missing or NULL Z or
// M is g_shp_null_vertex), and a geometry of another kind
// than the file's is refused, since shapelib aborts on a shape of another
// type than its file; only under a forced type do polygons become lines (one
// closed line per ring) and lines or polygons multipoints (their vertices).
// Element information and ordinates are checked before they are read
// (geometry_elements.cpp), so that malformed values are refused instead of
// written. Points are built in geometry_points.cpp, lines and polygons in
// geometry_rings.cpp (curves stroked there on request, shape/curves.h),
// multipatch part types in geometry_multipatch.cpp, and the shape types
// themselves are reasoned about in geometry_types.cpp.
#include <shapefil.h>

#include <cstring>
#include <map>
#include <string>

#include "diag/log.h"
#include "oracle/sdo.h"
#include "settings/settings.h"
#include "shape/buffered_io.h"
#include "shape/geometry_parts.h"
#include "shape/gtype.h"
#include "shape/sdo_constants.h"
#include "shape/shape_writer.h"

namespace {

using namespace tvgeom;

// Chooses the conversion from the gtype, SDO_POINT and the first element
// triplet. Unsupported elements are logged and reported as BUILD_FAILED.
BuildResult chooseBuilder(const SDOGeometry* p_geometry, unsigned short p_gtype, const Target& p_target,
                          const tvConversionSettings& p_settings, tvShapeBuffers& p_buffers,
                          Prepared& p_shape) {
    if (p_geometry == nullptr) return BUILD_EMPTY;
    const Source source(p_geometry, p_gtype);

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

// The geometry, of gtype p_gtype (as gtypeOf reads it), converted into the
// buffers, rings oriented.
BuildResult buildGeometry(const SDOGeometry* p_geometry, unsigned short p_gtype, const Target& p_target,
                          const tvConversionSettings& p_settings, tvShapeBuffers& p_buffers,
                          Prepared& p_shape) {
    BuildResult built = chooseBuilder(p_geometry, p_gtype, p_target, p_settings, p_buffers, p_shape);
    if (built != BUILD_OK) return built;
    // Here, and only here, every vertex of the shape is in p_buffers (x, y,
    // z, m, p_shape.vertices of them, in the file's dimensions) and no ring
    // has been oriented yet: a change of the coordinates belongs here.
    finishRings(p_target, p_buffers, p_shape);
    return BUILD_OK;
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
            const Target target = targetFor(type);
            built = buildPolygon(source, target, tvReadConversionSettings(), buffers, shape);
            if (built == BUILD_OK) finishRings(target, buffers, shape);
        }
    }
    return finishBuilder(built, shape, buffers,
                         "Failed to create point using createPolygonFromOrdinates");
}

bool tvShapeWriter::convert(SDOGeometry* p_geometry, unsigned short p_gtype) {
    // tvGTypeCode is gtypeOf's value wherever it is not 0; a gtype it gives
    // 0 for (a fraction, under a forced type) is read as gtypeOf reads it.
    const unsigned short gtype = p_gtype != 0 || p_geometry == nullptr ? p_gtype : gtypeOf(p_geometry);
    // A row that needs more than the file holds (more dimensions, M in a Z
    // file whose records have none, or a multipoint in a point file) raises
    // the file's type once it is known to convert: the records written
    // before are rewritten in the new type.
    const int fileType = tvShpShapeType(_shpHandle);
    const bool fileMeasured = tvShpMeasured(_shpHandle);
    // Rows of a table mostly share one gtype: the raised type is worked out
    // again only when the file's type or the gtype changes (no geometry
    // raises nothing).
    int rowType = fileType;
    if (p_geometry != nullptr) {
        if (fileType != _raised.fileType || gtype != _raised.gtype) {
            _raised.fileType = fileType;
            _raised.gtype = gtype;
            _raised.rowType = raisedShapeType(fileType, p_geometry, gtype, _conversion.forced);
        }
        rowType = _raised.rowType;
    }
    const Target target = targetFor(rowType);
    const bool raising = !_conversion.forced && target.kind != KIND_MULTIPATCH;
    Prepared shape = {SHPT_NULL, 0, 0, false, false, 0};
    BuildResult built = buildGeometry(p_geometry, gtype, target, _conversion, _buffers, shape);
    // A transformation (--t-srs) turns the rings again once it has moved
    // the vertices: it may mirror them.
    if (built == BUILD_OK && !_reprojection.apply(p_geometry, shape.type, shape.parts, shape.vertices, _buffers)) {
        built = BUILD_FAILED;  // no source system, or outside the transformation's domain
    }
    Converted& converted = _converted;
    converted = Converted();
    if (built == BUILD_FAILED) {
        // Unsupported or malformed: a null shape when tolerated.
        if (!_ignore) return false;
        built = BUILD_EMPTY;
        converted.replaced = true;
    }
    converted.rowType = fileType;
    converted.rowMeasured = fileMeasured;
    if (built == BUILD_OK && raising) {
        // Once one record carries M, all do (the missing ones the null value,
        // already in the buffers): readers take M from the first record.
        converted.rowType = rowType;
        converted.rowMeasured = fileMeasured || shape.measured;
        shape.measured = converted.rowMeasured;
    }
    converted.built = built == BUILD_OK ? 0 : 1;
    converted.type = shape.type;
    converted.parts = shape.parts;
    converted.vertices = shape.vertices;
    converted.measured = shape.measured;
    converted.partTypes = shape.partTypes;
    converted.closedRings = shape.closedRings;
    converted.valid = true;
    return true;
}

void tvShapeWriter::fillObject(SHPObject& p_object) const {
    std::memset(&p_object, 0, sizeof p_object);
    p_object.nShapeId = -1;
    if (_converted.built != 0) {
        p_object.nSHPType = SHPT_NULL;
        return;
    }
    tvShapeBuffers& buffers = const_cast<tvShapeBuffers&>(_buffers);
    p_object.nSHPType = _converted.type;
    p_object.nParts = _converted.parts;
    p_object.panPartStart = _converted.parts > 0 ? buffers.partStart.data() : nullptr;
    p_object.panPartType = _converted.partTypes ? buffers.partType.data() : nullptr;
    p_object.nVertices = _converted.vertices;
    p_object.padfX = buffers.x.data();
    p_object.padfY = buffers.y.data();
    // A 2D record holds no Z or M, and its Z and M in the buffers are all
    // 0.0, which leave the file's Z and M bounds at the 0.0 they start
    // from: they are not handed on.
    const int type = _converted.type;
    const bool flat = type == SHPT_POINT || type == SHPT_ARC || type == SHPT_POLYGON || type == SHPT_MULTIPOINT;
    p_object.padfZ = flat ? nullptr : buffers.z.data();
    p_object.padfM = flat ? nullptr : buffers.m.data();
    p_object.bMeasureIsUsed = _converted.measured ? 1 : 0;
    // The bounds are left unset: tvShpWriteShape computes them as it
    // encodes the vertices.
}

bool tvShapeWriter::rowFits(SDOGeometry* p_geometry, unsigned short p_gtype) {
    _converted.valid = false;
    _convertedGeometry = nullptr;
    if (!dbfFits()) return false;
    if (_shpHandle == nullptr) return true;
    _convertedGeometry = nullptr;
    if (!convert(p_geometry, p_gtype)) {
        _converted.valid = false;
        return true;  // refused when it is written
    }
    _convertedGeometry = p_geometry;
    unsigned long long shp = tvShpFileSize(_shpHandle);
    if (_converted.rowType != tvShpShapeType(_shpHandle) || _converted.rowMeasured != tvShpMeasured(_shpHandle)) {
        shp = tvShpRaisedSize(_shpHandle, _converted.rowType, _converted.rowMeasured, g_shp_null_vertex);
        if (shp == 0) return true;  // the rewrite fails, and says why
    }
    const unsigned long long index = 100 + 8ULL * (static_cast<unsigned long long>(tvShpRecordCount(_shpHandle)) + 1);
    // Most rows fit by far: the record is measured only near the limit (a
    // record takes at most 128 bytes, 8 per part and 32 per vertex).
    const unsigned long long most = 128 + 8ULL * static_cast<unsigned long long>(_converted.parts) +
                                    32ULL * static_cast<unsigned long long>(_converted.vertices);
    if (shp + most <= _maxSize && index <= _maxSize) return true;
    SHPObject object;
    fillObject(object);
    const unsigned long long record = tvShpRecordSize(_shpHandle, &object);
    if (shp + record <= _maxSize && index <= _maxSize) return true;
    // the row goes to another set: this conversion will not be written here
    _converted.valid = false;
    _convertedGeometry = nullptr;
    return false;
}

bool tvShapeWriter::writeShapeGeometry(SDOGeometry* p_geometry) {
    return writeShapeGeometry(p_geometry, tvGTypeCode(p_geometry));
}

bool tvShapeWriter::writeShapeGeometry(SDOGeometry* p_geometry, unsigned short p_gtype) {
    if (_shpHandle == nullptr) return false;
    const bool ready = _converted.valid && _convertedGeometry == p_geometry;
    _convertedGeometry = nullptr;
    if (!ready && !convert(p_geometry, p_gtype)) {
        _converted.valid = false;
        return false;
    }
    _converted.valid = false;
    const int fileType = tvShpShapeType(_shpHandle);
    if (_converted.rowType != fileType || _converted.rowMeasured != tvShpMeasured(_shpHandle)) {
        const int rowType = _converted.rowType;
        tvLog("Shape type raised to hold every row : ",
              std::to_string(fileType) + " (" + SHPTypeName(fileType) + ") to " + std::to_string(rowType) + " (" +
                  SHPTypeName(rowType) + (_converted.rowMeasured ? ", measured" : "") + ") at record " +
                  std::to_string(tvShpRecordCount(_shpHandle) + 1),
              LOG_DETAILED);
        if (!tvShpRaiseType(_shpHandle, rowType, _converted.rowMeasured, g_shp_null_vertex)) {
            if (!tvIOFailed()) {
                tvLog("Cannot write shape record, the .shp file would pass its largest size : ",
                      std::to_string(_maxSize) + " bytes", LOG_ERROR);
            }
            return false;
        }
    }
    SHPObject object;
    fillObject(object);
    if (!writeShapeObject(&object)) return false;
    if (_converted.built == 0) _closedRings += _converted.closedRings;
    if (_converted.replaced) ++_nullShapes;
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
    int id = tvShpWriteShape(_shpHandle, p_object);
    if (id == TV_SHP_FULL) {
        tvLog("Cannot write shape record, the .shp file would pass its largest size : ",
              std::to_string(_maxSize) + " bytes", LOG_ERROR);
        return false;
    }
    if (id == -1 || tvIOFailed()) {
        tvLog("Failed to write object using SHPWriteObject : ", _currentRecord,
              tvIOFailed() ? LOG_DEBUG : LOG_ERROR);
        return false;
    }
    if (g_log_level >= LOG_DETAILED) tvLog("Written shape id of : ", id, LOG_DETAILED);
    return true;
}
