// The coordinate system lookups of the .prj writer, shared with the
// reprojection.
#ifndef TARVEX_SHAPE_PRJ_H
#define TARVEX_SHAPE_PRJ_H

#include <string>

// The EPSG code of p_srid, or 0: the catalogue's own when its authority is
// EPSG; else Oracle's mapping of its legacy SRIDs; else p_srid itself when
// Oracle's coordinate system table says it comes from EPSG and is no legacy
// SRID. A database that cannot answer the mapping gives 0, with the reason
// in p_note. Runs its queries on the global connection (0 without one).
int tvEpsgCodeForSrid(int p_srid, std::string& p_note);

#endif
