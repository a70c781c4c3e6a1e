#include "app/row_router.h"

#include <shapefil.h>
#include <sys/stat.h>

#include <set>

#include "app/export.h"
#include "diag/log.h"
#include "oracle/sdo.h"
#include "settings/settings.h"
#include "shape/collection.h"
#include "shape/gtype.h"
#include "shape/spatial_index.h"

int tvShapeFamilyOf(int p_shapeType) {
    switch (p_shapeType) {
        case SHPT_POINT: case SHPT_POINTZ: case SHPT_POINTM:
        case SHPT_MULTIPOINT: case SHPT_MULTIPOINTZ: case SHPT_MULTIPOINTM: return TV_FAMILY_POINT;
        case SHPT_ARC: case SHPT_ARCZ: case SHPT_ARCM: return TV_FAMILY_LINE;
        case SHPT_POLYGON: case SHPT_POLYGONZ: case SHPT_POLYGONM: return TV_FAMILY_POLYGON;
        default: return TV_FAMILY_COUNT;
    }
}

namespace {

// The family's name in the names of its sets, empty for none.
const char* familyName(int p_family) {
    switch (p_family) {
        case TV_FAMILY_POINT: return "point";
        case TV_FAMILY_LINE: return "line";
        case TV_FAMILY_POLYGON: return "polygon";
        default: return "";
    }
}

}  // namespace

struct tvRowRouter::Parts {
    SDOGeometry geometry[TV_FAMILY_COUNT];
};

tvRowRouter::tvRowRouter(tvOutputSet& p_plain, const std::string& p_base, bool p_split,
                         unsigned long long p_maxSize)
    : _plain(p_plain), _base(p_base), _split(p_split), _maxSize(p_maxSize) {}

tvRowRouter::~tvRowRouter() {
    for (std::unique_ptr<Target>& target : _targets) {
        target->writer.reset();
        if (target->set) tvRemoveActiveOutputSet(target->set.get());
    }
}

std::string tvRowRouter::nameOf(int p_family, int p_part) const {
    return _base + (_splitDone ? std::string("_") + familyName(p_family) : std::string()) +
           (p_part > 1 ? "_" + std::to_string(p_part) : "");
}

bool tvRowRouter::begin(unsigned short p_shapeType, const std::vector<oracle::occi::MetaData>& p_columns,
                        const std::string& p_geomColumn, int p_srid) {
    _columns = p_columns;
    _geomColumn = p_geomColumn;
    _srid = p_srid;
    std::unique_ptr<Target> plain(new Target());
    plain->family = tvShapeFamilyOf(p_shapeType);
    plain->writer.reset(new tvShapeWriter());
    // A set of no family (multipatch, or no geometry at all) takes every row.
    if (plain->family == TV_FAMILY_COUNT) _split = false;
    bool created = plain->writer->createShapeFile(_base, p_shapeType, p_columns, p_geomColumn, p_srid);
    plain->writer->setMaxSize(_maxSize);
    _targets.push_back(std::move(plain));
    return created;
}

bool tvRowRouter::ownName(const std::string& p_name) const {
    // Another export of the run plans this name: writing it would replace
    // that export's set, or be replaced by it.
    if (tvPlannedOutputNames().count(p_name) != 0) {
        tvLog("Output name needed by this export is another export's : ", p_name + " (for " + _base + ")",
              LOG_ERROR);
        return false;
    }
    return true;
}

tvRowRouter::Target* tvRowRouter::addTarget(int p_family, int p_part, int p_shapeType) {
    std::unique_ptr<Target> added(new Target());
    added->family = p_family;
    added->part = p_part;
    added->set.reset(new tvOutputSet());
    const std::string name = nameOf(p_family, p_part);
    if (!ownName(name) || !added->set->begin(name)) return nullptr;
    tvAddActiveOutputSet(added->set.get());
    added->writer.reset(new tvShapeWriter());
    const bool created = added->writer->createShapeFile(name, static_cast<unsigned short>(p_shapeType), _columns,
                                                         _geomColumn, _srid);
    added->writer->setMaxSize(_maxSize);
    _targets.push_back(std::move(added));
    return created ? _targets.back().get() : nullptr;
}

bool tvRowRouter::close(Target& p_target, bool p_index) {
    if (p_target.closed) return true;
    p_target.closed = true;
    p_target.count = p_target.writer->getRecordCount();
    p_target.largest = p_target.writer->largestFileSize();
    // The index is made from the closed files and joins their set.
    return p_target.writer->closeShapeFile() &&
           (!p_index || tvWriteRequestedSpatialIndex(nameOf(p_target.family, p_target.part)));
}

bool tvRowRouter::splitPlainSet() {
    // The rows written so far are of the plain set's family: its files, and
    // those of its parts, become that family's sets.
    _splitDone = true;
    for (std::unique_ptr<Target>& target : _targets) {
        std::unique_ptr<tvOutputSet> set(new tvOutputSet());
        const std::string name = nameOf(target->family, target->part);
        if (!ownName(name) || !set->begin(name)) return false;
        set->adopt(target->set ? *target->set : _plain);
        tvAddActiveOutputSet(set.get());
        // a part's own set is left empty: released, the previous set of its
        // name untouched
        if (target->set) tvRemoveActiveOutputSet(target->set.get());
        target->set = std::move(set);
    }
    return true;
}

tvRowRouter::Target* tvRowRouter::current(int p_family) {
    for (size_t i = _targets.size(); i-- > 0;) {
        if (_targets[i]->family == p_family) return _targets[i].get();
    }
    return nullptr;
}

tvRowRouter::Target* tvRowRouter::targetFor(int p_family, unsigned short p_gtype) {
    const int first = _targets.front()->family;
    if (!_split || p_family == TV_FAMILY_COUNT || p_family == first) return current(first);
    Target* found = current(p_family);
    if (found != nullptr) return found;
    if (!_splitDone && !splitPlainSet()) return nullptr;
    return addTarget(p_family, 1, getShapeTypeForGType(p_gtype));
}

bool tvRowRouter::write(Target* p_target, SDOGeometry* p_geometry, unsigned short p_gtype,
                        oracle::occi::ResultSet* p_row) {
    if (p_target == nullptr) return false;
    if (!p_target->writer->rowFits(p_geometry, p_gtype)) {
        // The part is full: the family's rows go on in the next one.
        if (p_target->writer->getRecordCount() > 0) {
            const int type = p_target->writer->shapeType();
            if (!close(*p_target)) return false;
            p_target = addTarget(p_target->family, p_target->part + 1, type);
        }
        if (p_target == nullptr) return false;
        if (!p_target->writer->rowFits(p_geometry, p_gtype)) {
            tvLog("Row larger than the largest file size (--max-size) : ", std::to_string(_maxSize) + " bytes",
                  LOG_ERROR);
            return false;
        }
    }
    return p_target->writer->writeShapeRecord(p_geometry, p_gtype, p_row);
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
               write(current(_targets.front()->family), nullptr, 0, p_row);
    }
    for (int f = 0; f < TV_FAMILY_COUNT; ++f) {
        if (!present[f]) continue;
        const unsigned short gtype = tvGTypeCode(parts[f]);
        if (!write(targetFor(tvShapeFamilyOf(getShapeTypeForGType(gtype)), gtype), parts[f], gtype, p_row)) return false;
    }
    return true;
}

bool tvRowRouter::route(SDOGeometry* p_geometry, unsigned short p_gtype, oracle::occi::ResultSet* p_row) {
    const unsigned short gtype = p_gtype;
    if (_split && tvIsCollectionGType(gtype)) return routeCollection(*p_geometry, p_row);
    // The family matters only when the rows are split, which they never are
    // under a forced type: the gtype's own shape type tells it.
    const int family = gtype == 0 || !_split ? TV_FAMILY_COUNT : tvShapeFamilyOf(tvNaturalShapeType(gtype));
    return write(targetFor(family, gtype), p_geometry, gtype, p_row);
}

// The format's offsets reach 4 GiB; ESRI's own software reads no file above 2.
const unsigned long long ESRI_FILE_LIMIT = 2ULL << 30;

bool tvRowRouter::finish(bool p_ok, bool p_part) {
    bool ok = p_ok;
    for (std::unique_ptr<Target>& target : _targets) {
        if (!close(*target, !p_part)) ok = false;
    }
    if (!ok) return false;
    // Only complete sets replace the previous ones, all together.
    std::vector<tvOutputSet*> sets(1, &_plain);
    for (std::unique_ptr<Target>& target : _targets) {
        if (target->set) sets.push_back(target->set.get());
    }
    if (!tvCommitOutputSets(sets)) return false;
    if (p_part) {
        tvLog("Part of the table written, rows : ", _targets.front()->count, LOG_DETAILED);
        return true;
    }
    std::string written;
    std::string large;
    for (std::unique_ptr<Target>& target : _targets) {
        const std::string name = nameOf(target->family, target->part);
        tvLog("Successfully written " + std::to_string(target->count) + " rows to ", "'" + name + ".shp'",
              LOG_BASIC);
        written += (written.empty() ? "" : ", ") + name + " (" + std::to_string(target->count) + ")";
        if (target->largest > ESRI_FILE_LIMIT) large += (large.empty() ? "" : ", ") + name;
    }
    if (_splitDone) {
        tvLog("[WARNING] Rows of several kinds written to one set per kind : ", written, LOG_BASIC);
    }
    const std::string beside = setsLeftBeside();
    if (!beside.empty()) {
        tvLog("[WARNING] Sets of an earlier run stand beside this export's, left as they are : ", beside, LOG_BASIC);
    }
    if (!large.empty()) {
        tvLog("[WARNING] ESRI's software reads no file of a set above 2 GiB, use --max-size 2G for : ", large,
              LOG_BASIC);
    }
    return true;
}

namespace {

bool setExists(const std::string& p_name) {
    struct stat found;
    return ::lstat((p_name + ".shp").c_str(), &found) == 0 || ::lstat((p_name + ".dbf").c_str(), &found) == 0;
}

}  // namespace

std::string tvRowRouter::setsLeftBeside() const {
    // Names this export could have written and did not: sets of other
    // kinds, parts past the last one. They may be another table's, so they
    // stay; another export of the run planned for a name is no leftover.
    std::set<std::string> written;
    for (const std::unique_ptr<Target>& target : _targets) written.insert(nameOf(target->family, target->part));
    std::vector<std::string> stems;  // names whose parts are looked for
    for (const char* family : {"point", "line", "polygon"}) stems.push_back(_base + "_" + family);
    stems.push_back(_base);
    std::string found;
    for (const std::string& stem : stems) {
        for (int part = 1;; ++part) {
            const std::string name = part > 1 ? stem + "_" + std::to_string(part) : stem;
            if (written.count(name) != 0) continue;
            if (part > 1 && !setExists(name)) break;
            if (part == 1 && (stem == _base || !setExists(name))) continue;
            if (tvPlannedOutputNames().count(name) == 0) found += (found.empty() ? "" : ", ") + name;
        }
    }
    return found;
}
