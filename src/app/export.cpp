// exportSQLAsShape: the rows of one query into one shapefile set.
#include "app/export.h"

#include <occi.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <set>
#include <string>
#include <typeinfo>
#include <vector>

#include "app/progress.h"
#include "app/row_router.h"
#include "app/statement_guard.h"
#include "diag/clock.h"
#include "diag/log.h"
#include "diag/strings.h"
#include "oracle/globals.h"
#include "oracle/identifier.h"
#include "oracle/sdo.h"
#include "oracle/spatial_metadata.h"
#include "settings/settings.h"
#include "shape/collection.h"
#include "shape/gtype.h"
#include "shape/output_set.h"
#include "shape/shape_writer.h"

using oracle::occi::MetaData;
using oracle::occi::Number;
using oracle::occi::PObject;
using oracle::occi::ResultSet;
using oracle::occi::SQLException;

namespace {

// Rows fetched per round trip by the main query.
const unsigned int EXPORT_PREFETCH_ROWS = 1000;

const unsigned short MULTIPATCH_SHAPE_TYPE = 31;

// Set while this process exports one part of a table: the shape decided
// for the whole table, used instead of the part's own sample.
const tvShapeChoice* g_part_shape = nullptr;

std::string setting(const std::string& p_key) {
    auto it = g_args.find(p_key);
    return it == g_args.end() ? std::string() : it->second;
}

// Geometries kept under the "nofree" setting: released only when the
// export ends, whichever way it ends.
class KeptGeometries {
public:
    KeptGeometries() = default;
    ~KeptGeometries() {
        for (SDOGeometry* geometry : _geometries) delete geometry;
    }
    KeptGeometries(const KeptGeometries&) = delete;
    KeptGeometries& operator=(const KeptGeometries&) = delete;

    void keep(SDOGeometry* p_geometry) { _geometries.push_back(p_geometry); }

private:
    std::vector<SDOGeometry*> _geometries;
};

// Owns one fetched geometry. reset() releases it: deleted at once, or handed
// to the kept list when the "nofree" setting asks to keep fetched objects;
// destroy() always deletes.
class GeometryHolder {
public:
    explicit GeometryHolder(KeptGeometries* p_kept) : _kept(p_kept) {}
    ~GeometryHolder() { reset(); }
    GeometryHolder(const GeometryHolder&) = delete;
    GeometryHolder& operator=(const GeometryHolder&) = delete;

    SDOGeometry* get() const { return _geometry; }
    void take(SDOGeometry* p_geometry) {
        reset();
        _geometry = p_geometry;
    }
    void reset() {
        if (_geometry != nullptr && _kept != nullptr) {
            _kept->keep(_geometry);
        } else {
            delete _geometry;
        }
        _geometry = nullptr;
    }
    void destroy() {
        delete _geometry;
        _geometry = nullptr;
    }

private:
    KeptGeometries* _kept;
    SDOGeometry* _geometry = nullptr;
};

// Reads the geometry at p_position of the current row into p_holder (left
// empty for a NULL value). False when the column holds another kind of value.
bool fetchGeometry(ResultSet* p_resultSet, unsigned int p_position, GeometryHolder& p_holder) {
    p_holder.take(nullptr);
    if (p_resultSet->isNull(p_position)) return true;
    PObject* object = p_resultSet->getObject(p_position);
    if (object == nullptr) return true;
    // An SDOGeometry itself, the common case, is told by its type alone;
    // anything else goes through the full cast.
    SDOGeometry* geometry = typeid(*object) == typeid(SDOGeometry) ? static_cast<SDOGeometry*>(object)
                                                                    : dynamic_cast<SDOGeometry*>(object);
    if (geometry == nullptr) {
        delete object;
        tvLog("Geometry column does not hold MDSYS.SDO_GEOMETRY values, column : ",
              static_cast<int>(p_position), LOG_ERROR);
        return false;
    }
    if (geometry->isNull()) {
        delete geometry;
        return true;
    }
    p_holder.take(geometry);
    return true;
}

// The gtype as stored, for the log: made only when a line needs it, not for
// every row.
std::string gtypeText(const SDOGeometry* p_geometry) {
    const Number gtype = p_geometry->getSdo_gtype();
    if (gtype.isNull()) return "NULL";
    const double value = static_cast<double>(gtype);
    if (value >= 0 && value <= 65535 && value == std::floor(value)) {
        return std::to_string(static_cast<int>(value));
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

// What the column pass learns about the main query's result.
struct ColumnPlan {
    std::vector<MetaData> columns;
    int geomPosition = -1;         // 1-based, -1 while not found
    std::string geomName;          // the geometry column's name as reported
    bool skipped = false;          // a LONG / RAW column is present
    int skippedBeforeGeometry = 0;
    std::string keptColumns;       // select list without the skipped columns
};

// Shape type and SRID taken from the sample geometry.
struct SampleInfo {
    unsigned short shapeType = 0;
    int srid = -1;
};

// Column pass: geometry column, skipped types, columns kept.
bool findColumns(ResultSet* p_rows, const std::string& p_sql, const std::string& p_geom_column,
                 ColumnPlan& p_plan) {
    p_plan.columns = p_rows->getColumnListMetaData();
    for (size_t i = 0; i < p_plan.columns.size(); ++i) {
        std::string name = p_plan.columns[i].getString(MetaData::ATTR_NAME);
        std::string upperName = name;
        upper(upperName);
        bool skipped = isSkippedColumnType(p_plan.columns[i].getInt(MetaData::ATTR_DATA_TYPE));
        // A column of a skipped type cannot hold the geometry.
        if (upperName == p_geom_column && !skipped) {
            p_plan.geomPosition = static_cast<int>(i) + 1;
            p_plan.geomName = name;
        }
        if (skipped) {
            p_plan.skipped = true;
            if (p_plan.geomPosition == -1) ++p_plan.skippedBeforeGeometry;
            tvLog("[WARNING] RAW / LONG RAW column will be skipped : ", name, LOG_BASIC);
        } else {
            if (!p_plan.keptColumns.empty()) p_plan.keptColumns += ",";
            p_plan.keptColumns += selectListName(name);
        }
    }
    if (p_plan.geomPosition == -1) {
        tvLog("Couldn't find geometry column (" + p_geom_column + ") in query : ", p_sql, LOG_ERROR);
        return false;
    }
    tvLog("Found geometry column (" + p_geom_column + ") at position : ", p_plan.geomPosition,
          LOG_DETAILED);
    return true;
}

// Probe: the first non-null geometry gives shape type and SRID. The query
// stands on lines of its own, so that a trailing comment cannot swallow the
// closing parenthesis; the geometry column is named as the query reports it.
bool probeSample(const std::string& p_sql, const ColumnPlan& p_plan, KeptGeometries* p_keepList,
                 SampleInfo& p_sample) {
    const std::string column = selectListName(p_plan.geomName);
    std::string probeSql = "select " + column + " from (\n" + p_sql + "\n) where " + column +
                           " is not null and rownum = 1";
    tvLog("Executing check geom type query : ", probeSql, LOG_DEBUG);
    StatementGuard probe;
    probe.create(probeSql);
    ResultSet* probeRows = probe.execute();

    bool result = true;
    if (probeRows->next()) {
        tvLog("Got check row", "", LOG_DEBUG);
        GeometryHolder sample(p_keepList);
        result = fetchGeometry(probeRows, 1, sample);
        if (sample.get() != nullptr) {
            unsigned short gtype = tvGTypeCode(sample.get());
            p_sample.shapeType = getShapeTypeForGType(gtype);
            tvLog("Got shape type :", static_cast<int>(p_sample.shapeType), LOG_DEBUG);
            tvLog("From GTYPE     :", static_cast<int>(gtype), LOG_DEBUG);
            if (setting("output_proj") == "yes") {
                Number sridNumber = sample.get()->getSdo_srid();
                if (sridNumber.isNull()) {
                    tvLog("SRID is NULL", "", LOG_DETAILED);
                } else {
                    p_sample.srid = static_cast<int>(sridNumber);
                    tvLog("Got SRID : ", p_sample.srid, LOG_DETAILED);
                }
            }
            tvLog("Deleting check geometry", "", LOG_DEBUG);
            sample.reset();
            tvLog("Deleted check geometry", "", LOG_DEBUG);
        }
    }
    if (!probe.release()) result = false;
    return result;
}

// Inner rings: an export whose rows hold polygons with holes is written as
// multipatch, unless the shape type is forced. The check reads the export's
// own rows, a table's or a free query's alike.
void checkInnerRings(const std::string& p_sql, const ColumnPlan& p_plan, SampleInfo& p_sample) {
    if (setting("inner_ring_check") != "yes" || !setting("forcetype").empty()) return;
    if (areInnerRingsPresentInQuery(conn, p_sql, selectListName(p_plan.geomName))) {
        p_sample.shapeType = MULTIPATCH_SHAPE_TYPE;
        tvLog("Forcing type to be multi-patch as inner-rings detected", "", LOG_BASIC);
    }
}

// LONG / RAW columns cannot be fetched: re-run a "select *" query with the
// kept columns only.
bool rewriteWithoutSkipped(StatementGuard& p_main, const std::string& p_sql, ColumnPlan& p_plan) {
    std::string newSql;
    if (!p_plan.skipped || !rewriteSelectStar(p_sql, p_plan.keptColumns, newSql)) return true;
    tvLog("Fixing SQL statement to remove LONG / RAW : ", p_sql, LOG_DEBUG);
    tvLog("New SQL statement : ", newSql, LOG_DEBUG);
    if (!p_main.release()) return false;
    p_main.create(newSql)->setPrefetchRowCount(EXPORT_PREFETCH_ROWS);
    p_plan.columns = p_main.execute()->getColumnListMetaData();
    p_plan.geomPosition -= p_plan.skippedBeforeGeometry;
    return true;
}

// Creates the files of the set, with the attribute fields of the columns.
bool createFiles(tvRowRouter& p_router, const std::string& p_shapefile, const ColumnPlan& p_plan,
                 const std::string& p_geom_column, const SampleInfo& p_sample) {
    if (setting("output_proj") == "yes" && p_sample.srid == -1 && setting("t_srs").empty()) {
        tvLog("[WARNING] No .prj written, no geometry or a first geometry without SRID : ", p_shapefile, LOG_BASIC);
    }
    bool result = p_router.begin(p_sample.shapeType, p_plan.columns, p_geom_column, p_sample.srid);
    if (result) {
        tvLog("Created shape file of type : ", static_cast<int>(p_sample.shapeType), LOG_DETAILED);
    } else {
        tvLog("Failed to created shape file of type : ", static_cast<int>(p_sample.shapeType),
              LOG_DETAILED);
    }
    return result;
}

// Row loop: one row and one geometry alive at a time.
bool writeRows(ResultSet* p_rows, unsigned int p_position, tvRowRouter& p_router,
               KeptGeometries* p_keepList, tvProgress& p_progress) {
    bool result = true;
    const bool debug = g_log_level >= LOG_DEBUG;
    const bool ignore = setting("ignore") == "yes";
    GeometryHolder geometry(p_keepList);
    // Rows of a table mostly share one gtype: its support is looked up again
    // only when the gtype changes.
    unsigned short lastGtype = 0;
    bool lastSupported = isGTypeSupported(lastGtype);
    while (result && p_rows->next()) {
        if (!fetchGeometry(p_rows, p_position, geometry)) return false;
        // The gtype is read once here and goes with the row down to its
        // conversion.
        unsigned short gtype = 0;
        if (geometry.get() != nullptr) {
            gtype = tvGTypeCode(geometry.get());
            if (gtype != lastGtype) {
                lastGtype = gtype;
                lastSupported = isGTypeSupported(gtype) || (p_router.splits() && tvIsCollectionGType(gtype));
            }
            if (!lastSupported) {
                tvLog("Unsupported GTYPE in Geometry : ", gtypeText(geometry.get()), LOG_ERROR);
                geometry.destroy();
                gtype = 0;
                result = ignore;
            }
        }
        if (debug && geometry.get() != nullptr) {
            tvLog("Dump of next geometry object", "", LOG_DEBUG);
            dumpGeometryObject(geometry.get());
        }
        if (result) {
            result = p_router.route(geometry.get(), gtype, p_rows);
            if (result) p_progress.row();
        }
        if (geometry.get() != nullptr) {
            if (debug) tvLog("Deleting geometry", "", LOG_DEBUG);
            geometry.reset();
            if (debug) tvLog("Deleted geometry", "", LOG_DEBUG);
        }
    }
    return result;
}

// Everything after the main query's execution: columns, probe, inner rings,
// rewrite, create, row loop, and the commit of the set. SQLExceptions from
// the client are caught here: the export then fails with the client's
// message, and the files, the statements and the fetched geometries are
// released.
bool exportResultSet(StatementGuard& p_main, const std::string& p_sql,
                     const std::string& p_geom_column, const std::string& p_shapefile,
                     tvOutputSet& p_set) {
    bool result = true;
    KeptGeometries kept;
    KeptGeometries* keepList = setting("nofree") == "yes" ? &kept : nullptr;
    // Rows of other families than the first get sets of their own, unless
    // a forced type holds every row.
    const unsigned long long maxSize =
        setting("max_size").empty() ? TARVEX_MAX_FILE_SIZE : parseMaxSize(setting("max_size"));
    tvRowRouter router(p_set, p_shapefile, setting("forcetype").empty(), maxSize);
    bool begun = false;

    try {
        ColumnPlan plan;
        SampleInfo sample;
        result = findColumns(p_main.resultSet(), p_sql, p_geom_column, plan);
        if (result && g_part_shape != nullptr) {
            sample.shapeType = g_part_shape->shapeType;
            sample.srid = g_part_shape->srid;
        } else {
            if (result) result = probeSample(p_sql, plan, keepList, sample);
            if (result) checkInnerRings(p_sql, plan, sample);
        }
        if (result) result = rewriteWithoutSkipped(p_main, p_sql, plan);
        if (result) {
            begun = true;
            result = createFiles(router, p_shapefile, plan, p_geom_column, sample);
        }
        if (result) {
            // Asked for progress: the row count, for a percentage.
            const long long total = progressRequested() ? countQueryRows(p_sql) : -1;
            tvProgress progress(p_shapefile + ".shp", total, true);
            result = writeRows(p_main.resultSet(), static_cast<unsigned int>(plan.geomPosition),
                               router, keepList, progress);
        }
    } catch (const SQLException& e) {
        tvLog("Error exporting query : ", p_sql, LOG_ERROR);
        tvLog(e.getMessage(), "", LOG_ERROR);
        result = false;
    }

    // Only complete sets replace the previous ones; a part of a table is
    // kept for the parent's merge.
    if (begun) result = router.finish(result, g_part_shape != nullptr);
    return result;
}

}  // namespace

namespace {
std::set<std::string> g_plannedOutputNames;
}  // namespace

void tvSetPlannedOutputNames(const std::set<std::string>& p_names) { g_plannedOutputNames = p_names; }

const std::set<std::string>& tvPlannedOutputNames() { return g_plannedOutputNames; }

bool isSkippedColumnType(int p_type) {
    return p_type == 8 || p_type == 24 || p_type == 95 || p_type == 23;
}

std::string selectListName(const std::string& p_name) {
    bool ordinary = !p_name.empty() && p_name.size() <= 128 && p_name[0] >= 'A' && p_name[0] <= 'Z';
    for (char c : p_name) {
        if (!ordinary) break;
        ordinary = (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '$' ||
                   c == '#';
    }
    return ordinary ? p_name : quoteIdentifier(p_name);
}

bool rewriteSelectStar(const std::string& p_sql, const std::string& p_columns,
                       std::string& p_result) {
    if (p_sql.compare(0, 8, "select *") != 0 && p_sql.compare(0, 8, "SELECT *") != 0) return false;
    p_result = p_sql;
    p_result.replace(7, 1, p_columns);
    return true;
}

bool decideQueryShape(const std::string& p_sql, const std::string& p_geom_column, tvShapeChoice& p_choice) {
    bool result = true;
    KeptGeometries kept;
    StatementGuard main;
    try {
        main.create(p_sql)->setPrefetchRowCount(1);
        main.execute();
        ColumnPlan plan;
        SampleInfo sample;
        result = findColumns(main.resultSet(), p_sql, p_geom_column, plan);
        if (result) result = probeSample(p_sql, plan, setting("nofree") == "yes" ? &kept : nullptr, sample);
        if (result) checkInnerRings(p_sql, plan, sample);
        p_choice.shapeType = sample.shapeType;
        p_choice.srid = sample.srid;
    } catch (const SQLException& e) {
        tvLog("Error executing query : ", p_sql, LOG_ERROR);
        tvLog(e.getMessage(), "", LOG_ERROR);
        result = false;
    }
    if (!main.release()) result = false;
    return result;
}

void setPartShape(const tvShapeChoice* p_choice) { g_part_shape = p_choice; }

bool exportSQLAsShape(std::string p_sql, std::string p_geom_column, std::string p_shapefile,
                      std::string p_table, std::string p_owner) {
    // The inner-ring check reads the export's own rows: the table and its
    // owner are not needed for it.
    (void)p_table;
    (void)p_owner;
    bool result = true;
    tdclass timer;
    const bool timings = !setting("output_timings").empty();
    if (timings) {
        tvLog("Export run for '" + p_shapefile + "' started at : ", timer.time24(true), LOG_BASIC);
    }

    // The set is locked first: a second writer of the same set stops at once.
    tvOutputSet outputSet;
    result = outputSet.begin(p_shapefile);
    if (result) {
        tvSetActiveOutputSet(&outputSet);
        StatementGuard mainQuery;
        try {
            mainQuery.create(p_sql)->setPrefetchRowCount(EXPORT_PREFETCH_ROWS);
            mainQuery.execute();
        } catch (const SQLException& e) {
            tvLog("Error executing query : ", p_sql, LOG_ERROR);
            tvLog(e.getMessage(), "", LOG_ERROR);
            result = false;
        }
        if (result) {
            result = exportResultSet(mainQuery, p_sql, p_geom_column, p_shapefile, outputSet);
        }
        if (!mainQuery.release()) result = false;
        tvSetActiveOutputSet(nullptr);
        outputSet.abandon();  // what is left of a failed export
    }

    if (timings) {
        timer.reset();
        tvLog("Export run for '" + p_shapefile + "' ended at : ", timer.time24(true), LOG_BASIC);
    }
    return result;
}
