// The .prj file: the coordinate system's well-known text from MDSYS.CS_SRS,
// or, on request, ESRI's dialect of it made by PROJ from the EPSG code.
#include <proj.h>

#include <string>

#include "diag/log.h"
#include "diag/strings.h"
#include "oracle/globals.h"
#include "settings/settings.h"
#include "shape/buffered_io.h"
#include "shape/prj.h"
#include "shape/reproject.h"
#include "shape/shape_writer.h"

using oracle::occi::Number;
using oracle::occi::ResultSet;
using oracle::occi::SQLException;
using oracle::occi::Statement;

namespace {

// Runs p_sql with p_srid bound to :1 and hands the first row, if any, to
// p_read. The statement is released also when the client raises an error.
template <typename Reader>
void queryBySrid(const std::string& p_sql, int p_srid, Reader p_read) {
    Statement* statement = conn->createStatement("");
    ResultSet* rows = nullptr;
    try {
        statement->setSQL(p_sql);
        statement->setNumber(1, Number(p_srid));
        rows = statement->executeQuery("");
        if (rows->next()) p_read(rows);
        statement->closeResultSet(rows);
        rows = nullptr;
    } catch (...) {
        if (rows != nullptr) statement->closeResultSet(rows);
        conn->terminateStatement(statement);
        throw;
    }
    conn->terminateStatement(statement);
}

// The WKT of p_srid, or the empty text when the catalogue has none.
std::string lookUpWkt(int p_srid) {
    std::string wkt;
    if (conn == nullptr) return wkt;
    queryBySrid("select wktext from mdsys.cs_srs where srid = :1", p_srid, [&](ResultSet* p_rows) {
        wkt = p_rows->getString(1);
        tvLog("Obtained projection string (" + wkt + ") from SRID : ", p_srid, LOG_DEBUG);
    });
    return wkt;
}

}  // namespace

// Oracle's own catalogue names the authority Oracle also for EPSG systems,
// hence the third lookup. A database that cannot answer the mapping (an
// older server, no grant) gives 0; p_note says why.
int tvEpsgCodeForSrid(int p_srid, std::string& p_note) {
    int code = 0;
    if (conn == nullptr) return code;
    queryBySrid("select auth_name, auth_srid from mdsys.cs_srs where srid = :1", p_srid,
                [&](ResultSet* p_rows) {
                    std::string authority = p_rows->getString(1);
                    upper(authority);
                    if (authority == "EPSG" && !p_rows->isNull(2)) code = p_rows->getInt(2);
                });
    if (code > 0) return code;
    code = 0;
    try {
        queryBySrid("select sdo_cs.map_oracle_srid_to_epsg(:1) from dual", p_srid,
                    [&](ResultSet* p_rows) {
                        if (!p_rows->isNull(1)) code = p_rows->getInt(1);
                    });
    } catch (const SQLException& e) {
        p_note = e.getMessage();
        code = 0;
    }
    if (code > 0) return code;
    code = 0;
    try {
        queryBySrid("select data_source, is_legacy from mdsys.sdo_coord_ref_sys where srid = :1",
                    p_srid, [&](ResultSet* p_rows) {
                        std::string source = p_rows->getString(1);
                        std::string legacy = p_rows->getString(2);
                        upper(source);
                        upper(legacy);
                        if (source == "EPSG" && legacy == "FALSE") code = p_srid;
                    });
    } catch (const SQLException&) {
        code = 0;  // no such table here: the first two answers stand
    }
    return code > 0 ? code : 0;
}

namespace {

// Writes p_text and a newline to p_name through the file layer, so that the
// file joins the set being written.
bool writeTextFile(const std::string& p_name, const std::string& p_text) {
    tvLog("Writing projection string to : ", p_name, LOG_DETAILED);
    SAHooks hooks = tvBufferedHooks();
    SAFile file = hooks.FOpen(p_name.c_str(), "wb");
    bool result = file != nullptr;
    if (result) {
        std::string text = p_text + "\n";
        result = hooks.FWrite(&text[0], 1, text.size(), file) == text.size();
        if (hooks.FClose(file) != 0) result = false;
    }
    if (!result) tvLog("Can't write projection file : ", p_name, LOG_ERROR);
    return result;
}

}  // namespace

bool esriWktFromEpsg(int p_code, std::string& p_wkt, std::string& p_reason) {
    PJ_CONTEXT* context = proj_context_create();
    if (context == nullptr) {
        p_reason = "PROJ could not start";
        return false;
    }
    proj_log_level(context, PJ_LOG_NONE);  // reasons are reported here, not on standard error
    bool result = false;
    const std::string code = std::to_string(p_code);
    PJ* crs = proj_create_from_database(context, "EPSG", code.c_str(), PJ_CATEGORY_CRS, 0, nullptr);
    if (crs == nullptr) {
        p_reason = proj_context_get_database_path(context) == nullptr
                       ? "PROJ finds no proj.db, which the package proj-data installs"
                       : "PROJ does not know EPSG:" + code;
    } else {
        const char* text = proj_as_wkt(context, crs, PJ_WKT1_ESRI, nullptr);
        if (text == nullptr || *text == '\0') {
            p_reason = "PROJ has no ESRI text for EPSG:" + code;
        } else {
            p_wkt = text;
            result = true;
        }
        proj_destroy(crs);
    }
    proj_context_destroy(context);
    return result;
}

bool tvShapeWriter::writePrjFile(std::string p_filename, int p_srid) {
    // Reprojected vertices: the target's system, whatever the rows' SRID.
    if (_reprojection.active()) {
        if (getArg(g_args, "output_proj", "", false) != "yes") return true;
        std::string text;
        std::string note;
        if (!_reprojection.targetWkt(text, note)) {
            tvLog("[WARNING] No .prj written, PROJ cannot describe the target coordinate system : ",
                  _reprojection.targetName(), LOG_BASIC);
            return true;
        }
        if (!note.empty()) tvLog("[WARNING] " + note + " : ", _reprojection.targetName(), LOG_BASIC);
        return writeTextFile(p_filename + ".prj", text);
    }

    std::string wkt = lookUpWkt(p_srid);
    if (wkt.empty()) {
        tvLog("No SRS associated with this SRID : ", p_srid, LOG_DETAILED);
        if (p_srid != -1) {
            tvLog("[WARNING] No .prj written, MDSYS.CS_SRS holds no text for SRID : ", p_srid, LOG_BASIC);
        }
        return true;
    }

    if (getArg(g_args, "esri_prj", "", false) == "yes") {
        std::string note;
        int code = tvEpsgCodeForSrid(p_srid, note);
        std::string esri;
        std::string reason;
        if (code == 0) {
            tvLog("[WARNING] No EPSG code known for this SRID" +
                      (note.empty() ? std::string() : " (" + note + ")") +
                      ", the .prj holds the database's text : ",
                  p_srid, LOG_BASIC);
        } else if (!esriWktFromEpsg(code, esri, reason)) {
            tvLog("[WARNING] No ESRI text (" + reason + "), the .prj holds the database's text for SRID : ",
                  p_srid, LOG_BASIC);
        } else {
            tvLog("Projection string in ESRI's dialect from EPSG code : ", code, LOG_DETAILED);
            wkt = esri;
        }
    }

    return writeTextFile(p_filename + ".prj", wkt);
}
