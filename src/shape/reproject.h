// Reprojection of the exported vertices with PROJ ("--t-srs", "--s-srs").
//
// The rows' coordinate system is their SRID's EPSG code, found as for the
// .prj in ESRI's dialect (shape/prj.h); rows without an SRID, or with one
// that has no EPSG code PROJ knows, take the "--s-srs" system, or are
// refused. Every transformation works in the traditional GIS axis order
// (x is easting or longitude), transforms Z only when one of the two
// systems has a vertical axis, and leaves M alone.
#ifndef TARVEX_SHAPE_REPROJECT_H
#define TARVEX_SHAPE_REPROJECT_H

#include <map>
#include <string>
#include <vector>

struct pj_ctx;
struct PJconsts;
class SDOGeometry;
struct tvShapeBuffers;

// Checks the "t_srs" and "s_srs" settings: each must be a coordinate system
// PROJ can build (an AUTH:CODE such as EPSG:3857, or any definition that
// proj_create accepts). False, with one LOG_ERROR line naming the option,
// when one is not; a "--s-srs" without "--t-srs" only earns a warning.
bool tvCheckSrsSettings(const std::map<std::string, std::string>& p_args);

// The reprojection of one export: built when the file set is created, used
// for every geometry, reported when the set is closed. Inactive (every call
// a no-op that succeeds) when "t_srs" is not set.
class tvReprojection {
public:
    tvReprojection() = default;
    ~tvReprojection();
    tvReprojection(const tvReprojection&) = delete;
    tvReprojection& operator=(const tvReprojection&) = delete;

    // Reads "t_srs" and "s_srs" and builds the target (and fallback source)
    // system. False, with one LOG_ERROR line, when PROJ cannot build them.
    bool begin();
    bool active() const { return _context != nullptr; }

    // Transforms the p_vertices vertices of a geometry of shape type p_type
    // in p_buffers in place, in one PROJ call, with the transformation from
    // the geometry's SRID (made at the first geometry of that SRID, then
    // kept), and turns the rings of a polygon or multipatch type again as
    // the format requires, since a transformation may mirror them. False,
    // with one LOG_ERROR line, when the geometry has no source system or a
    // vertex lies outside the transformation's domain (the caller then
    // applies the "-i" rule); the buffers are then undefined.
    bool apply(const SDOGeometry* p_geometry, int p_type, int p_parts, int p_vertices,
               tvShapeBuffers& p_buffers);

    // Under "-i" (refused geometries became null shapes): logs one
    // [WARNING] line per kind of refused geometry, with counts, and fails
    // (one LOG_ERROR line) when geometries came and none could be
    // transformed. Resets the counts: a second call reports nothing.
    bool finish();

    // The .prj text of the target system in ESRI's dialect (PROJ's WKT1 in
    // GDAL's dialect when it has no ESRI text, with p_note saying so); false
    // when PROJ can describe it in neither.
    bool targetWkt(std::string& p_wkt, std::string& p_note) const;
    const std::string& targetName() const { return _targetText; }

private:
    struct Source {
        PJconsts* operation = nullptr;  // null: refused
        bool owned = false;             // else the fallback's, shared by several SRIDs
        bool vertical = false;          // Z is transformed
    };
    const Source& sourceFor(const SDOGeometry* p_geometry);
    Source makeSource(long long p_srid);
    PJconsts* operationFrom(PJconsts* p_source, bool& p_vertical);
    void clearSources();

    pj_ctx* _context = nullptr;
    PJconsts* _target = nullptr;
    PJconsts* _fallback = nullptr;            // "--s-srs", or null
    std::string _targetText;
    std::string _fallbackText;
    bool _targetVertical = false;
    bool _ignore = false;                     // "ignore" ("-i"): refused geometries become null shapes
    std::map<long long, Source> _sources;     // by SRID; NO_SRID for none
    long long _lastSrid = 0;
    const Source* _last = nullptr;
    Source _fallbackSource;                   // from "--s-srs", made when first needed
    bool _fallbackTried = false;
    std::vector<double> _savedZ;              // Z before the transformation

    long _geometries = 0;       // geometries given with vertices
    long _transformed = 0;
    long _noSource = 0;         // refused: no source system
    long _outside = 0;          // refused: vertices outside the domain
    long _outsideVertices = 0;
};

#endif
