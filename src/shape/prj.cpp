// The .prj file: the coordinate system's well-known text from MDSYS.CS_SRS.
#include <string>

#include "diag/log.h"
#include "oracle/globals.h"
#include "shape/buffered_io.h"
#include "shape/shape_writer.h"

using oracle::occi::Number;
using oracle::occi::ResultSet;
using oracle::occi::Statement;

namespace {

// The WKT of p_srid, or the empty text when the catalogue has none. The
// statement is released also when the client raises an error.
std::string lookUpWkt(int p_srid) {
    std::string wkt;
    if (conn == nullptr) return wkt;
    Statement* statement = conn->createStatement("");
    ResultSet* rows = nullptr;
    try {
        statement->setSQL("select wktext from mdsys.cs_srs where srid = :1");
        statement->setNumber(1, Number(p_srid));
        rows = statement->executeQuery("");
        if (rows->next()) {
            wkt = rows->getString(1);
            tvLog("Obtained projection string (" + wkt + ") from SRID : ", p_srid, LOG_DEBUG);
        }
        statement->closeResultSet(rows);
        rows = nullptr;
    } catch (...) {
        if (rows != nullptr) statement->closeResultSet(rows);
        conn->terminateStatement(statement);
        throw;
    }
    conn->terminateStatement(statement);
    return wkt;
}

}  // namespace

bool tvShapeWriter::writePrjFile(std::string p_filename, int p_srid) {
    std::string wkt = lookUpWkt(p_srid);
    if (wkt.empty()) {
        tvLog("No SRS associated with this SRID : ", p_srid, LOG_DETAILED);
        return true;
    }

    std::string name = p_filename + ".prj";
    tvLog("Writing projection string to : ", name, LOG_DETAILED);
    // Through the file layer, so that the file joins the set being written.
    SAHooks hooks = tvBufferedHooks();
    SAFile file = hooks.FOpen(name.c_str(), "wb");
    bool result = file != nullptr;
    if (result) {
        std::string text = wkt + "\n";
        result = hooks.FWrite(&text[0], 1, text.size(), file) == text.size();
        if (hooks.FClose(file) != 0) result = false;
    }
    if (!result) tvLog("Can't write projection file : ", name, LOG_ERROR);
    return result;
}
