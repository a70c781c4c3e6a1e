// exportSQLAsShape: the rows of one query into one shapefile set.
#include "app/export.h"

#include <occi.h>

#include <memory>
#include <string>
#include <vector>

#include "app/progress.h"
#include "app/statement_guard.h"
#include "diag/clock.h"
#include "diag/log.h"
#include "diag/strings.h"
#include "oracle/globals.h"
#include "oracle/sdo.h"
#include "oracle/spatial_metadata.h"
#include "settings/settings.h"
#include "shape/gtype.h"
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
    SDOGeometry* geometry = dynamic_cast<SDOGeometry*>(object);
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

// Everything after the main query's execution. SQLExceptions from the client
// are caught here: the export then fails with the client's message, and the
// files, the probe statement and the fetched geometries are released.
bool exportResultSet(StatementGuard& p_main, const std::string& p_sql,
                     const std::string& p_geom_column, const std::string& p_shapefile,
                     const std::string& p_table, const std::string& p_owner) {
    bool result = true;
    const bool debug = g_log_level >= LOG_DEBUG;
    KeptGeometries kept;
    KeptGeometries* keepList = setting("nofree") == "yes" ? &kept : nullptr;
    std::unique_ptr<tvShapeWriter> writer;
    StatementGuard probe;
    GeometryHolder geometry(keepList);

    try {
        // Column pass: geometry column, skipped types, columns kept.
        std::vector<MetaData> columns = p_main.resultSet()->getColumnListMetaData();
        int geomPosition = -1;
        int skipPosition = -1;
        int skippedBeforeGeometry = 0;
        std::string keptColumns;
        for (size_t i = 0; i < columns.size(); ++i) {
            std::string name = columns[i].getString(MetaData::ATTR_NAME);
            std::string upperName = name;
            upper(upperName);
            int type = columns[i].getInt(MetaData::ATTR_DATA_TYPE);
            bool skipped = isSkippedColumnType(type);
            // A column of a skipped type cannot hold the geometry.
            if (upperName == p_geom_column && !skipped) geomPosition = static_cast<int>(i) + 1;
            if (skipped) {
                skipPosition = static_cast<int>(i) + 1;
                if (geomPosition == -1) ++skippedBeforeGeometry;
                tvLog("[WARNING] RAW / LONG RAW column will be skipped : ", name, LOG_BASIC);
            } else {
                if (!keptColumns.empty()) keptColumns += ",";
                keptColumns += selectListName(name);
            }
        }

        if (geomPosition == -1) {
            tvLog("Couldn't find geometry column (" + p_geom_column + ") in query : ", p_sql,
                  LOG_ERROR);
            result = false;
        }

        if (result) {
            tvLog("Found geometry column (" + p_geom_column + ") at position : ", geomPosition,
                  LOG_DETAILED);
            writer.reset(new tvShapeWriter());

            // Probe: the first non-null geometry gives shape type and SRID.
            std::string probeSql = "select " + p_geom_column + " from (" + p_sql + ") where " +
                                   p_geom_column + " is not null and rownum = 1";
            tvLog("Executing check geom type query : ", probeSql, LOG_DEBUG);
            probe.create(probeSql);
            ResultSet* probeRows = probe.execute();

            unsigned short shapeType = 0;
            int srid = -1;
            if (probeRows->next()) {
                tvLog("Got check row", "", LOG_DEBUG);
                GeometryHolder sample(keepList);
                result = fetchGeometry(probeRows, 1, sample);
                if (sample.get() != nullptr) {
                    unsigned short gtype = static_cast<unsigned short>(sample.get()->getSdo_gtype());
                    shapeType = getShapeTypeForGType(gtype);
                    tvLog("Got shape type :", static_cast<int>(shapeType), LOG_DEBUG);
                    tvLog("From GTYPE     :", static_cast<int>(gtype), LOG_DEBUG);
                    if (setting("output_proj") == "yes") {
                        Number sridNumber = sample.get()->getSdo_srid();
                        if (sridNumber.isNull()) {
                            tvLog("SRID is NULL", "", LOG_DETAILED);
                        } else {
                            srid = static_cast<int>(sridNumber);
                            tvLog("Got SRID : ", srid, LOG_DETAILED);
                        }
                    }
                    tvLog("Deleting check geometry", "", LOG_DEBUG);
                    sample.reset();
                    tvLog("Deleted check geometry", "", LOG_DEBUG);
                }
            }

            // The inner-ring check reads the export's own rows, a table's or a
            // free query's alike.
            (void)p_table;
            (void)p_owner;
            if (result && setting("inner_ring_check") == "yes" && setting("forcetype").empty()) {
                if (areInnerRingsPresentInQuery(conn, p_sql, p_geom_column)) {
                    shapeType = MULTIPATCH_SHAPE_TYPE;
                    tvLog("Forcing type to be multi-patch as inner-rings detected", "", LOG_BASIC);
                }
            }

            // LONG / RAW columns cannot be fetched: re-run a "select *" query
            // with the kept columns only.
            std::string newSql;
            if (result && skipPosition != -1 && rewriteSelectStar(p_sql, keptColumns, newSql)) {
                tvLog("Fixing SQL statement to remove LONG / RAW : ", p_sql, LOG_DEBUG);
                tvLog("New SQL statement : ", newSql, LOG_DEBUG);
                result = p_main.release();
                if (result) {
                    p_main.create(newSql)->setPrefetchRowCount(EXPORT_PREFETCH_ROWS);
                    columns = p_main.execute()->getColumnListMetaData();
                    geomPosition -= skippedBeforeGeometry;
                }
            }

            if (result) {
                result = writer->createShapeFile(p_shapefile, shapeType, columns, p_geom_column, srid);
                if (result) {
                    tvLog("Created shape file of type : ", static_cast<int>(shapeType), LOG_DETAILED);
                } else {
                    tvLog("Failed to created shape file of type : ", static_cast<int>(shapeType),
                          LOG_DETAILED);
                }
            }

            if (!probe.release()) result = false;

            // Asked for progress: the row count, for a percentage.
            const long long total = result && progressRequested() ? countQueryRows(p_sql) : -1;
            tvProgress progress(p_shapefile + ".shp", total, result);

            // Row loop: one row and one geometry alive at a time.
            ResultSet* rows = p_main.resultSet();
            const bool ignore = setting("ignore") == "yes";
            const unsigned int position = static_cast<unsigned int>(geomPosition);
            // Rows of a table mostly share one gtype: its support is looked
            // up again only when the gtype changes.
            unsigned short lastGtype = 0;
            bool lastSupported = isGTypeSupported(lastGtype);
            while (result && rows->next()) {
                if (!fetchGeometry(rows, position, geometry)) {
                    result = false;
                    break;
                }
                if (geometry.get() != nullptr) {
                    unsigned short gtype = static_cast<unsigned short>(geometry.get()->getSdo_gtype());
                    if (gtype != lastGtype) {
                        lastGtype = gtype;
                        lastSupported = isGTypeSupported(gtype);
                    }
                    if (!lastSupported) {
                        tvLog("Unsupported GTYPE in Geometry : ", static_cast<int>(gtype), LOG_ERROR);
                        geometry.destroy();
                        result = ignore;
                    }
                }
                if (debug && geometry.get() != nullptr) {
                    tvLog("Dump of next geometry object", "", LOG_DEBUG);
                    dumpGeometryObject(geometry.get());
                }
                if (result) {
                    result = writer->writeShapeRecord(geometry.get(), rows);
                    if (result) progress.row();
                }
                if (geometry.get() != nullptr) {
                    if (debug) tvLog("Deleting geometry", "", LOG_DEBUG);
                    geometry.reset();
                    if (debug) tvLog("Deleted geometry", "", LOG_DEBUG);
                }
            }
            progress.finish();
        }
    } catch (const SQLException& e) {
        tvLog("Error exporting query : ", p_sql, LOG_ERROR);
        tvLog(e.getMessage(), "", LOG_ERROR);
        result = false;
    }

    geometry.reset();
    if (!probe.release()) result = false;
    if (writer) {
        if (!writer->closeShapeFile()) result = false;
        if (result) {
            tvLog("Successfully written " + std::to_string(writer->getRecordCount()) + " rows to ",
                  "'" + p_shapefile + ".shp'", LOG_BASIC);
        }
        writer.reset();
    }
    return result;
}

}  // namespace

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
    if (ordinary) return p_name;
    std::string quoted = "\"";
    for (char c : p_name) {
        quoted += c;
        if (c == '"') quoted += '"';
    }
    return quoted + "\"";
}

bool rewriteSelectStar(const std::string& p_sql, const std::string& p_columns,
                       std::string& p_result) {
    if (p_sql.compare(0, 8, "select *") != 0 && p_sql.compare(0, 8, "SELECT *") != 0) return false;
    p_result = p_sql;
    p_result.replace(7, 1, p_columns);
    return true;
}

bool exportSQLAsShape(std::string p_sql, std::string p_geom_column, std::string p_shapefile,
                      std::string p_table, std::string p_owner) {
    bool result = true;
    tdclass timer;
    const bool timings = !setting("output_timings").empty();
    if (timings) {
        tvLog("Export run for '" + p_shapefile + "' started at : ", timer.time24(true), LOG_BASIC);
    }

    {
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
            result = exportResultSet(mainQuery, p_sql, p_geom_column, p_shapefile, p_table, p_owner);
        }
        if (!mainQuery.release()) result = false;
    }

    if (timings) {
        timer.reset();
        tvLog("Export run for '" + p_shapefile + "' ended at : ", timer.time24(true), LOG_BASIC);
    }
    return result;
}
