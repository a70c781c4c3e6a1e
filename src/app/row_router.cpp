#include "app/row_router.h"

#include <shapefil.h>

#include "diag/log.h"
#include "oracle/sdo.h"
#include "settings/settings.h"
#include "shape/collection.h"
#include "shape/gtype.h"

namespace {

// The gtype of a geometry as a 16-bit code, 0 when it is none.
unsigned short gtypeOf(const SDOGeometry* p_geometry) {
    if (p_geometry == nullptr) return 0;
    const oracle::occi::Number gtype = p_geometry->getSdo_gtype();
    if (gtype.isNull()) return 0;
    const double value = static_cast<double>(gtype);
    return value >= 0 && value <= 65535 ? static_cast<unsigned short>(value) : 0;
}

}  // namespace

std::string tvShapeFamily(int p_shapeType) {
    switch (p_shapeType) {
        case SHPT_POINT: case SHPT_POINTZ: case SHPT_POINTM:
        case SHPT_MULTIPOINT: case SHPT_MULTIPOINTZ: case SHPT_MULTIPOINTM: return "point";
        case SHPT_ARC: case SHPT_ARCZ: case SHPT_ARCM: return "line";
        case SHPT_POLYGON: case SHPT_POLYGONZ: case SHPT_POLYGONM: return "polygon";
        default: return "";
    }
}

struct tvRowRouter::Parts {
    SDOGeometry geometry[TV_FAMILY_COUNT];
};

tvRowRouter::tvRowRouter(tvOutputSet& p_plain, const std::string& p_base, bool p_split)
    : _plain(p_plain), _base(p_base), _split(p_split) {}

tvRowRouter::~tvRowRouter() {
    for (Target& target : _targets) {
        target.writer.reset();
        if (target.set) tvRemoveActiveOutputSet(target.set.get());
    }
}

bool tvRowRouter::begin(unsigned short p_shapeType, const std::vector<oracle::occi::MetaData>& p_columns,
                        const std::string& p_geomColumn, int p_srid) {
    _columns = p_columns;
    _geomColumn = p_geomColumn;
    _srid = p_srid;
    Target plain;
    plain.family = tvShapeFamily(p_shapeType);
    plain.writer.reset(new tvShapeWriter());
    // A set of no family (multipatch, or no geometry at all) takes every row.
    if (plain.family.empty()) _split = false;
    const bool created = plain.writer->createShapeFile(_base, p_shapeType, p_columns, p_geomColumn, p_srid);
    _targets.push_back(std::move(plain));
    return created;
}

bool tvRowRouter::splitPlainSet() {
    // The rows written so far are of the plain set's family: its files
    // become that family's set.
    Target& first = _targets.front();
    std::unique_ptr<tvOutputSet> set(new tvOutputSet());
    if (!set->begin(_base + "_" + first.family)) return false;
    set->adopt(_plain);
    tvAddActiveOutputSet(set.get());
    first.set = std::move(set);
    _splitDone = true;
    return true;
}

tvRowRouter::Target* tvRowRouter::targetFor(const std::string& p_family, unsigned short p_gtype) {
    Target& first = _targets.front();
    if (!_split || p_family.empty() || p_family == first.family) return &first;
    for (Target& target : _targets) {
        if (target.family == p_family) return &target;
    }
    if (!_splitDone && !splitPlainSet()) return nullptr;
    Target added;
    added.family = p_family;
    added.set.reset(new tvOutputSet());
    if (!added.set->begin(_base + "_" + p_family)) return nullptr;
    tvAddActiveOutputSet(added.set.get());
    added.writer.reset(new tvShapeWriter());
    const bool created = added.writer->createShapeFile(_base + "_" + p_family, getShapeTypeForGType(p_gtype),
                                                        _columns, _geomColumn, _srid);
    _targets.push_back(std::move(added));
    return created ? &_targets.back() : nullptr;
}

bool tvRowRouter::routeCollection(const SDOGeometry& p_collection, oracle::occi::ResultSet* p_row) {
    if (!_parts) _parts.reset(new Parts());
    SDOGeometry* parts[TV_FAMILY_COUNT];
    bool present[TV_FAMILY_COUNT];
    for (int f = 0; f < TV_FAMILY_COUNT; ++f) parts[f] = &_parts->geometry[f];
    if (!tvSplitCollection(p_collection, parts, present)) {
        // Refused as a whole: a null shape in the first set when tolerated.
        auto found = g_args.find("ignore");
        return found != g_args.end() && found->second == "yes" &&
               _targets.front().writer->writeShapeRecord(nullptr, p_row);
    }
    for (int f = 0; f < TV_FAMILY_COUNT; ++f) {
        if (!present[f]) continue;
        const unsigned short gtype = gtypeOf(parts[f]);
        Target* target = targetFor(tvShapeFamily(getShapeTypeForGType(gtype)), gtype);
        if (target == nullptr || !target->writer->writeShapeRecord(parts[f], p_row)) return false;
    }
    return true;
}

bool tvRowRouter::route(SDOGeometry* p_geometry, oracle::occi::ResultSet* p_row) {
    const unsigned short gtype = gtypeOf(p_geometry);
    if (_split && tvIsCollectionGType(gtype)) return routeCollection(*p_geometry, p_row);
    const std::string family = gtype == 0 ? std::string() : tvShapeFamily(getShapeTypeForGType(gtype));
    Target* target = targetFor(family, gtype);
    return target != nullptr && target->writer->writeShapeRecord(p_geometry, p_row);
}

bool tvRowRouter::finish(bool p_ok) {
    bool ok = p_ok;
    std::vector<int> counts;
    for (Target& target : _targets) {
        counts.push_back(target.writer->getRecordCount());
        if (!target.writer->closeShapeFile()) ok = false;
    }
    if (!ok) return false;
    // Only complete sets replace the previous ones, all together.
    std::vector<tvOutputSet*> sets(1, &_plain);
    for (Target& target : _targets) {
        if (target.set) sets.push_back(target.set.get());
    }
    if (!tvCommitOutputSets(sets)) return false;
    std::string written;
    for (size_t i = 0; i < _targets.size(); ++i) {
        const std::string name = _splitDone ? _base + "_" + _targets[i].family : _base;
        tvLog("Successfully written " + std::to_string(counts[i]) + " rows to ", "'" + name + ".shp'", LOG_BASIC);
        written += (written.empty() ? "" : ", ") + name + " (" + std::to_string(counts[i]) + ")";
    }
    if (_splitDone) {
        tvLog("[WARNING] Rows of several kinds written to one set per kind : ", written, LOG_BASIC);
    }
    return true;
}
