#include "diag/clock.h"

#include <string>

tdclass::tdclass() { reset(); }

void tdclass::reset() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    // localtime_r: the same breakdown as localtime, without its static buffer.
    if (now == static_cast<std::time_t>(-1) || localtime_r(&now, &local) == nullptr) return;
    set(local);
}

void tdclass::set(const std::tm& p_tm) {
    static const char* const DAYS[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                       "Thursday", "Friday", "Saturday"};
    static const char* const MONTHS[] = {"January", "February", "March",     "April",
                                         "May",     "June",     "July",      "August",
                                         "September", "October", "November", "December"};

    if (p_tm.tm_wday >= 0 && p_tm.tm_wday <= 6) {
        _time.dayName = DAYS[p_tm.tm_wday];
    } else {
        _time.dayName = "Error finding day";
    }
    if (p_tm.tm_mon >= 0 && p_tm.tm_mon <= 11) _time.monthName = MONTHS[p_tm.tm_mon];

    _time.month = p_tm.tm_mon + 1;
    _time.year = p_tm.tm_year + 1900;
    _time.day = p_tm.tm_mday;
    _time.hour = p_tm.tm_hour;

    // 12-hour clock: 00:xx is 12 AM, 01:xx-11:xx AM, 12:xx is 12 PM,
    // 13:xx-23:xx PM.
    _time.pm = _time.hour >= 12;
    _time.ampm = _time.pm ? "PM" : "AM";
    _time.hour12 = _time.hour % 12;
    if (_time.hour12 == 0) _time.hour12 = 12;

    _time.minute = p_tm.tm_min;
    _time.second = p_tm.tm_sec;
}

std::string tdclass::IntToString(int p_value) { return std::to_string(p_value); }

namespace {

std::string twoDigits(tdclass& p_clock, int p_value) {
    return (p_value <= 9 ? "0" : "") + p_clock.IntToString(p_value);
}

}  // namespace

std::string tdclass::time24(bool p_seconds) {
    std::string text = IntToString(_time.hour) + ":" + twoDigits(*this, _time.minute);
    if (p_seconds) text += "." + twoDigits(*this, _time.second);
    return text;
}

std::string tdclass::time12(bool p_seconds) {
    std::string text = IntToString(_time.hour12) + ":" + twoDigits(*this, _time.minute);
    if (p_seconds) text += "." + twoDigits(*this, _time.second);
    return text;
}

std::string tdclass::date() {
    return _time.dayName + " " + _time.monthName + " " + IntToString(_time.day) + ", " +
           IntToString(_time.year);
}
