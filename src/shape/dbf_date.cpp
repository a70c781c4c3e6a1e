#include "shape/dbf_date.h"

void tvSetDbfDate(DBFHandle p_dbf, std::time_t p_now) {
    std::tm day{};
    if (p_dbf == nullptr || localtime_r(&p_now, &day) == nullptr) return;
    // The header holds the year as years since 1900 in one byte.
    if (day.tm_year < 0 || day.tm_year > 255) return;
    DBFSetLastModifiedDate(p_dbf, day.tm_year, day.tm_mon + 1, day.tm_mday);
}
