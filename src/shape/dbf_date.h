// The .dbf header's date of last update.
#ifndef TARVEX_SHAPE_DBF_DATE_H
#define TARVEX_SHAPE_DBF_DATE_H

#include <shapefil.h>

#include <ctime>

// Sets the header date of p_dbf (written when the file is closed) to the
// local day of p_now, instead of the fixed date shapelib gives a new file.
void tvSetDbfDate(DBFHandle p_dbf, std::time_t p_now = std::time(nullptr));

#endif
