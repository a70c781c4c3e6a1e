// Dates, timestamps and numbers as text: the stored forms, Oracle datetime
// format models (TO_CHAR / TO_DATE style) and Oracle's rendering of numbers.
#include "internal.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace oracle {
namespace occi {

using embedded::DateTime;

// ---------------------------------------------------------------- Date

Date::Date() : year_(1), month_(1), day_(1), hour_(0), minute_(0), second_(0), null_(true) {}

Date::Date(const Environment* /*envp*/, int year, unsigned int month, unsigned int day,
           unsigned int hour, unsigned int minute, unsigned int seconds)
    : year_(year), month_(month), day_(day), hour_(hour), minute_(minute),
      second_(seconds), null_(false) {}

namespace {

DateTime dateTimeOf(int p_year, unsigned int p_month, unsigned int p_day, unsigned int p_hour,
                    unsigned int p_minute, unsigned int p_second) {
    DateTime v;
    v.year = p_year;
    v.month = p_month;
    v.day = p_day;
    v.hour = p_hour;
    v.minute = p_minute;
    v.second = p_second;
    return v;
}

}  // namespace

bool Date::isNull() const { return null_; }
void Date::setNull() { null_ = true; }

void Date::getDate(int& year, unsigned int& month, unsigned int& day, unsigned int& hour,
                   unsigned int& min, unsigned int& sec) const {
    year = year_;
    month = month_;
    day = day_;
    hour = hour_;
    min = minute_;
    sec = second_;
}

std::string Date::toText(const std::string& fmt, const std::string& /*nlsParam*/) const {
    if (null_) return "";
    DateTime v = dateTimeOf(year_, month_, day_, hour_, minute_, second_);
    return embedded::formatDateTime(v, fmt.empty() ? "DD-MON-YY" : fmt, 0, false);
}

// ---------------------------------------------------------------- Timestamp

Timestamp::Timestamp()
    : year_(1), month_(1), day_(1), hour_(0), minute_(0), second_(0), fs_(0), tzHour_(0),
      tzMinute_(0), null_(true) {}

Timestamp::Timestamp(const Environment* /*env*/, int year, unsigned int month,
                     unsigned int day, unsigned int hour, unsigned int min, unsigned int sec,
                     unsigned int fs, int tzhour, int tzminute)
    : year_(year), month_(month), day_(day), hour_(hour), minute_(min), second_(sec),
      fs_(fs), tzHour_(tzhour), tzMinute_(tzminute), null_(false) {}

bool Timestamp::isNull() const { return null_; }
void Timestamp::setNull() { null_ = true; }

void Timestamp::getDate(int& year, unsigned int& month, unsigned int& day) const {
    year = year_;
    month = month_;
    day = day_;
}

void Timestamp::getTime(unsigned int& hour, unsigned int& minute, unsigned int& second,
                        unsigned int& fs) const {
    hour = hour_;
    minute = minute_;
    second = second_;
    fs = fs_;
}

void Timestamp::getTimeZoneOffset(int& hour, int& minute) const {
    hour = tzHour_;
    minute = tzMinute_;
}

std::string Timestamp::toText(const std::string& fmt, unsigned int fsprec,
                              const std::string& /*nlsParam*/) const {
    if (null_) return "";
    DateTime v = dateTimeOf(year_, month_, day_, hour_, minute_, second_);
    v.fraction = fs_;
    v.hasZone = tzHour_ != 0 || tzMinute_ != 0;
    v.tzHour = tzHour_;
    v.tzMinute = tzMinute_;
    return embedded::formatDateTime(v, fmt.empty() ? "DD-MON-YY HH.MI.SSXFF AM" : fmt,
                                    fsprec, true);
}

namespace embedded {

namespace {

const char* const MONTHS[12] = {"JANUARY", "FEBRUARY", "MARCH",     "APRIL",
                                "MAY",     "JUNE",     "JULY",      "AUGUST",
                                "SEPTEMBER", "OCTOBER", "NOVEMBER", "DECEMBER"};
const char* const DAYS[7] = {"SUNDAY",   "MONDAY", "TUESDAY", "WEDNESDAY",
                             "THURSDAY", "FRIDAY", "SATURDAY"};

bool isLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

unsigned daysInMonth(int y, unsigned m) {
    static const unsigned d[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (m < 1 || m > 12) return 0;
    return m == 2 && isLeap(y) ? 29 : d[m - 1];
}

// 0 = Sunday (proleptic Gregorian, Sakamoto's method).
int weekday(int y, unsigned m, unsigned d) {
    static const int t[12] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
    if (m < 3) y -= 1;
    int r = (y + y / 4 - y / 100 + y / 400 + t[(m - 1) % 12] + static_cast<int>(d)) % 7;
    return r < 0 ? r + 7 : r;
}

unsigned dayOfYear(int y, unsigned m, unsigned d) {
    unsigned n = d;
    for (unsigned i = 1; i < m && i <= 12; ++i) n += daysInMonth(y, i);
    return n;
}

// Case of a name element by the way the element is written: "MON" gives
// upper case, "Mon" capitalised, "mon" lower case.
enum NameCase { UPPER_CASE, CAPITALISED, LOWER_CASE };

NameCase caseOf(const std::string& fmt, size_t pos) {
    char c0 = fmt[pos];
    char c1 = pos + 1 < fmt.size() ? fmt[pos + 1] : 'X';
    if (std::islower(static_cast<unsigned char>(c0))) return LOWER_CASE;
    if (std::islower(static_cast<unsigned char>(c1))) return CAPITALISED;
    return UPPER_CASE;
}

std::string applyCase(std::string name, NameCase c) {
    for (size_t i = 0; i < name.size(); ++i) {
        unsigned char ch = static_cast<unsigned char>(name[i]);
        if (c == LOWER_CASE || (c == CAPITALISED && i > 0))
            name[i] = static_cast<char>(std::tolower(ch));
        else
            name[i] = static_cast<char>(std::toupper(ch));
    }
    return name;
}

bool startsWithNoCase(const std::string& s, size_t pos, const char* word) {
    size_t n = std::strlen(word);
    if (pos + n > s.size()) return false;
    for (size_t i = 0; i < n; ++i)
        if (std::toupper(static_cast<unsigned char>(s[pos + i])) != word[i]) return false;
    return true;
}

std::string digits(long value, int width) {
    char buf[32];
    if (value < 0) {
        std::snprintf(buf, sizeof buf, "-%0*ld", width, -value);
    } else {
        std::snprintf(buf, sizeof buf, "%0*ld", width, value);
    }
    return buf;
}

// The elements of a format model, longest spellings first.
const char* const ELEMENTS[] = {
    "YYYY", "RRRR", "SYYYY", "YYY", "YY", "RR", "Y",   "MONTH", "MON", "MM",  "DDD", "DD",
    "DAY",  "DY",   "D",     "HH24", "HH12", "HH", "MI",   "SSSSS", "SS",  "FF1", "FF2",
    "FF3",  "FF4",  "FF5",   "FF6",  "FF7", "FF8", "FF9",  "FF",    "A.M.", "P.M.", "AM",
    "PM",   "TZH",  "TZM",   "TZR",  "Q",   "FM",  "X",    "J",     nullptr};

const char* matchElement(const std::string& fmt, size_t pos) {
    for (int i = 0; ELEMENTS[i]; ++i)
        if (startsWithNoCase(fmt, pos, ELEMENTS[i])) return ELEMENTS[i];
    return nullptr;
}

[[noreturn]] void badFormat() { raise(1821, "date format not recognized"); }

long julianDay(int y, unsigned m, unsigned d) {
    long a = (14 - static_cast<long>(m)) / 12;
    long yy = y + 4800 - a;
    long mm = static_cast<long>(m) + 12 * a - 3;
    return static_cast<long>(d) + (153 * mm + 2) / 5 + 365 * yy + yy / 4 - yy / 100 +
           yy / 400 - 32045;
}

}  // namespace

std::string formatDateTime(const DateTime& v, const std::string& fmt, unsigned fsprec,
                           bool isTimestamp) {
    std::string out;
    out.reserve(fmt.size() + 16);
    bool fill = true;  // FM toggles the padding of names and numbers
    size_t i = 0;
    while (i < fmt.size()) {
        char c = fmt[i];
        if (c == '"') {
            size_t end = fmt.find('"', i + 1);
            if (end == std::string::npos) badFormat();
            out.append(fmt, i + 1, end - i - 1);
            i = end + 1;
            continue;
        }
        if (!std::isalpha(static_cast<unsigned char>(c))) {
            out += c;
            ++i;
            continue;
        }
        const char* el = matchElement(fmt, i);
        if (!el) badFormat();
        std::string e = el;
        NameCase nc = caseOf(fmt, i);
        i += e.size();
        unsigned h12 = v.hour % 12 == 0 ? 12 : v.hour % 12;
        if (e == "YYYY" || e == "RRRR" || e == "SYYYY") {
            out += digits(v.year, 4);
        } else if (e == "YYY") {
            out += digits(std::abs(v.year) % 1000, 3);
        } else if (e == "YY" || e == "RR") {
            out += digits(std::abs(v.year) % 100, 2);
        } else if (e == "Y") {
            out += digits(std::abs(v.year) % 10, 1);
        } else if (e == "MONTH") {
            std::string name = v.month >= 1 && v.month <= 12 ? MONTHS[v.month - 1] : "";
            if (fill) name.resize(9, ' ');
            out += applyCase(name, nc);
        } else if (e == "MON") {
            std::string name = v.month >= 1 && v.month <= 12 ? MONTHS[v.month - 1] : "";
            out += applyCase(name.substr(0, 3), nc);
        } else if (e == "MM") {
            out += fill ? digits(v.month, 2) : std::to_string(v.month);
        } else if (e == "DDD") {
            out += digits(dayOfYear(v.year, v.month, v.day), fill ? 3 : 1);
        } else if (e == "DD") {
            out += fill ? digits(v.day, 2) : std::to_string(v.day);
        } else if (e == "DAY") {
            std::string name = DAYS[weekday(v.year, v.month, v.day)];
            if (fill) name.resize(9, ' ');
            out += applyCase(name, nc);
        } else if (e == "DY") {
            out += applyCase(std::string(DAYS[weekday(v.year, v.month, v.day)]).substr(0, 3), nc);
        } else if (e == "D") {
            out += std::to_string(weekday(v.year, v.month, v.day) + 1);
        } else if (e == "HH24") {
            out += fill ? digits(v.hour, 2) : std::to_string(v.hour);
        } else if (e == "HH12" || e == "HH") {
            out += fill ? digits(h12, 2) : std::to_string(h12);
        } else if (e == "MI") {
            out += fill ? digits(v.minute, 2) : std::to_string(v.minute);
        } else if (e == "SSSSS") {
            out += digits(v.hour * 3600L + v.minute * 60L + v.second, 5);
        } else if (e == "SS") {
            out += fill ? digits(v.second, 2) : std::to_string(v.second);
        } else if (e[0] == 'F' && e[1] == 'F') {
            if (!isTimestamp) badFormat();
            unsigned n = e.size() == 3 ? static_cast<unsigned>(e[2] - '0') : fsprec;
            if (n > 9) n = 9;
            std::string all = digits(v.fraction % 1000000000u, 9);
            out += all.substr(0, n);
        } else if (e == "AM" || e == "PM" || e == "A.M." || e == "P.M.") {
            bool pm = v.hour >= 12;
            std::string m = e.size() == 2 ? (pm ? "PM" : "AM") : (pm ? "P.M." : "A.M.");
            out += applyCase(m, nc == CAPITALISED ? UPPER_CASE : nc);
        } else if (e == "TZH" || e == "TZM" || e == "TZR") {
            if (!isTimestamp) badFormat();
            bool negative = v.tzHour < 0 || v.tzMinute < 0;
            if (e == "TZH") {
                out += (negative ? "-" : "+") + digits(std::abs(v.tzHour), 2);
            } else if (e == "TZM") {
                out += digits(std::abs(v.tzMinute), 2);
            } else {
                out += (negative ? "-" : "+") + digits(std::abs(v.tzHour), 2) + ":" +
                       digits(std::abs(v.tzMinute), 2);
            }
        } else if (e == "Q") {
            out += std::to_string((v.month + 2) / 3);
        } else if (e == "FM") {
            fill = !fill;
        } else if (e == "X") {
            out += '.';
        } else if (e == "J") {
            out += std::to_string(julianDay(v.year, v.month, v.day));
        }
    }
    return out;
}

namespace {

[[noreturn]] void mismatch() { raise(1861, "literal does not match format string"); }

// Reads up to maxDigits digits (at least one) at pos.
long readNumber(const std::string& s, size_t& pos, int maxDigits, int* count = nullptr) {
    int n = 0;
    long v = 0;
    while (pos < s.size() && n < maxDigits && std::isdigit(static_cast<unsigned char>(s[pos]))) {
        v = v * 10 + (s[pos] - '0');
        ++pos;
        ++n;
    }
    if (n == 0) mismatch();
    if (count) *count = n;
    return v;
}

void skipSpaces(const std::string& s, size_t& pos) {
    while (pos < s.size() && s[pos] == ' ') ++pos;
}

}  // namespace

DateTime parseByFormat(const std::string& text, const std::string& fmt) {
    DateTime v;
    bool pm = false, havePm = false, hour12 = false;
    size_t p = 0, i = 0;
    time_t now = std::time(nullptr);
    struct tm local;
    localtime_r(&now, &local);
    v.year = local.tm_year + 1900;
    v.month = static_cast<unsigned>(local.tm_mon + 1);
    v.day = 1;
    while (i < fmt.size()) {
        char c = fmt[i];
        if (c == '"') {
            size_t end = fmt.find('"', i + 1);
            if (end == std::string::npos) badFormat();
            size_t len = end - i - 1;
            if (text.compare(p, len, fmt, i + 1, len) != 0) mismatch();
            p += len;
            i = end + 1;
            continue;
        }
        if (!std::isalpha(static_cast<unsigned char>(c))) {
            // punctuation in the model matches any punctuation or blanks
            ++i;
            if (p < text.size() && !std::isalnum(static_cast<unsigned char>(text[p]))) ++p;
            continue;
        }
        const char* el = matchElement(fmt, i);
        if (!el) badFormat();
        std::string e = el;
        i += e.size();
        skipSpaces(text, p);
        if (e == "YYYY" || e == "RRRR" || e == "SYYYY") {
            v.year = static_cast<int>(readNumber(text, p, 4));
        } else if (e == "YY" || e == "RR") {
            int n = 0;
            long y = readNumber(text, p, 4, &n);
            if (n <= 2) y += (e == "RR" && y >= 50) ? 1900 : 2000;
            v.year = static_cast<int>(y);
        } else if (e == "MONTH" || e == "MON") {
            bool found = false;
            for (int m = 0; m < 12 && !found; ++m) {
                std::string full = MONTHS[m];
                if (startsWithNoCase(text, p, full.c_str())) {
                    p += full.size();
                    v.month = static_cast<unsigned>(m + 1);
                    found = true;
                } else if (startsWithNoCase(text, p, full.substr(0, 3).c_str())) {
                    p += 3;
                    v.month = static_cast<unsigned>(m + 1);
                    found = true;
                }
            }
            if (!found) raise(1843, "not a valid month");
        } else if (e == "MM") {
            v.month = static_cast<unsigned>(readNumber(text, p, 2));
        } else if (e == "DD") {
            v.day = static_cast<unsigned>(readNumber(text, p, 2));
        } else if (e == "HH24") {
            v.hour = static_cast<unsigned>(readNumber(text, p, 2));
        } else if (e == "HH12" || e == "HH") {
            v.hour = static_cast<unsigned>(readNumber(text, p, 2));
            hour12 = true;
        } else if (e == "MI") {
            v.minute = static_cast<unsigned>(readNumber(text, p, 2));
        } else if (e == "SS") {
            v.second = static_cast<unsigned>(readNumber(text, p, 2));
        } else if (e[0] == 'F' && e[1] == 'F') {
            int maxd = e.size() == 3 ? e[2] - '0' : 9;
            int n = 0;
            long f = readNumber(text, p, maxd, &n);
            v.fractionDigits = n;
            for (int k = n; k < 9; ++k) f *= 10;
            v.fraction = static_cast<unsigned>(f);
        } else if (e == "AM" || e == "PM" || e == "A.M." || e == "P.M.") {
            havePm = true;
            if (startsWithNoCase(text, p, "PM") || startsWithNoCase(text, p, "P.M.")) pm = true;
            else if (!(startsWithNoCase(text, p, "AM") || startsWithNoCase(text, p, "A.M.")))
                raise(1855, "AM/A.M. or PM/P.M. required");
            p += (p + 1 < text.size() && text[p + 1] == '.') ? 4 : 2;
        } else if (e == "TZH") {
            int sign = 1;
            if (p < text.size() && (text[p] == '+' || text[p] == '-')) sign = text[p++] == '-' ? -1 : 1;
            v.tzHour = sign * static_cast<int>(readNumber(text, p, 2));
            v.hasZone = true;
        } else if (e == "TZM") {
            int m = static_cast<int>(readNumber(text, p, 2));
            v.tzMinute = v.tzHour < 0 ? -m : m;
        } else if (e == "TZR") {
            int sign = 1;
            if (p < text.size() && (text[p] == '+' || text[p] == '-')) sign = text[p++] == '-' ? -1 : 1;
            v.tzHour = sign * static_cast<int>(readNumber(text, p, 2));
            if (p < text.size() && text[p] == ':') ++p;
            v.tzMinute = sign * static_cast<int>(readNumber(text, p, 2));
            v.hasZone = true;
        } else if (e == "X") {
            if (p < text.size() && text[p] == '.') ++p;
        } else if (e != "FM") {
            badFormat();
        }
    }
    skipSpaces(text, p);
    if (p != text.size()) raise(1830, "date format picture ends before converting entire input string");
    if (hour12) {
        if (v.hour < 1 || v.hour > 12) raise(1849, "hour must be between 1 and 12");
        if (havePm && pm && v.hour != 12) v.hour += 12;
        if (havePm && !pm && v.hour == 12) v.hour = 0;
    }
    if (v.month < 1 || v.month > 12) raise(1843, "not a valid month");
    if (v.day < 1 || v.day > daysInMonth(v.year, v.month))
        raise(1847, "day of month must be between 1 and last day of month");
    if (v.hour > 23) raise(1850, "hour must be between 0 and 23");
    if (v.minute > 59) raise(1851, "minutes must be between 0 and 59");
    if (v.second > 59) raise(1852, "seconds must be between 0 and 59");
    return v;
}

namespace {

bool readFixed(const char* s, size_t n, size_t& p, unsigned width, unsigned& out) {
    if (p + width > n) return false;
    unsigned v = 0;
    for (unsigned k = 0; k < width; ++k) {
        char c = s[p + k];
        if (c < '0' || c > '9') return false;
        v = v * 10 + static_cast<unsigned>(c - '0');
    }
    p += width;
    out = v;
    return true;
}

}  // namespace

bool parseStoredDateTime(const char* s, size_t n, DateTime& v) {
    size_t p = 0;
    bool negative = false;
    if (p < n && s[p] == '-') {
        negative = true;
        ++p;
    }
    unsigned y = 0;
    if (!readFixed(s, n, p, 4, y)) return false;
    v.year = negative ? -static_cast<int>(y) : static_cast<int>(y);
    if (p >= n || s[p++] != '-' || !readFixed(s, n, p, 2, v.month)) return false;
    if (p >= n || s[p++] != '-' || !readFixed(s, n, p, 2, v.day)) return false;
    v.hour = v.minute = v.second = 0;
    v.fraction = 0;
    v.fractionDigits = 0;
    v.hasZone = false;
    v.tzHour = v.tzMinute = 0;
    if (p < n && (s[p] == ' ' || s[p] == 'T')) {
        size_t save = p++;
        if (readFixed(s, n, p, 2, v.hour)) {
            if (p >= n || s[p++] != ':' || !readFixed(s, n, p, 2, v.minute)) return false;
            if (p < n && s[p] == ':') {
                ++p;
                if (!readFixed(s, n, p, 2, v.second)) return false;
            }
            if (p < n && s[p] == '.') {
                ++p;
                unsigned f = 0;
                int d = 0;
                while (p < n && s[p] >= '0' && s[p] <= '9') {
                    if (d < 9) {
                        f = f * 10 + static_cast<unsigned>(s[p] - '0');
                        ++d;
                    }
                    ++p;
                }
                v.fractionDigits = d;
                for (int k = d; k < 9; ++k) f *= 10;
                v.fraction = f;
            }
        } else {
            p = save;
        }
    }
    while (p < n && s[p] == ' ') ++p;
    if (p < n && (s[p] == '+' || s[p] == '-')) {
        int sign = s[p++] == '-' ? -1 : 1;
        unsigned th = 0, tm = 0;
        if (!readFixed(s, n, p, 2, th)) return false;
        if (p < n && s[p] == ':') ++p;
        if (p < n && !readFixed(s, n, p, 2, tm)) return false;
        v.hasZone = true;
        v.tzHour = sign * static_cast<int>(th);
        v.tzMinute = sign * static_cast<int>(tm);
    }
    if (p != n) return false;
    if (v.month < 1 || v.month > 12 || v.day < 1 || v.day > daysInMonth(v.year, v.month) ||
        v.hour > 23 || v.minute > 59 || v.second > 59)
        return false;
    return true;
}

std::string storedDate(const DateTime& v) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "%04d-%02u-%02u %02u:%02u:%02u", v.year, v.month, v.day,
                  v.hour, v.minute, v.second);
    return buf;
}

std::string storedTimestamp(const DateTime& v, bool withZone) {
    std::string s = storedDate(v);
    if (v.fractionDigits > 0) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "%09u", v.fraction);
        s += '.';
        s.append(buf, static_cast<size_t>(v.fractionDigits));
    }
    if (withZone) {
        bool negative = v.tzHour < 0 || v.tzMinute < 0;
        char buf[32];
        std::snprintf(buf, sizeof buf, " %c%02d:%02d", negative ? '-' : '+', std::abs(v.tzHour),
                      std::abs(v.tzMinute));
        s += buf;
    }
    return s;
}

std::string numberText(double value) {
    if (std::isnan(value)) return "Nan";
    if (std::isinf(value)) return value < 0 ? "-~" : "~";
    if (value == 0) return "0";
    char buf[512];
    // an integral double below 2^64 is written with all its digits, as
    // Oracle's exact arithmetic would give them (2^63 is 9223372036854775808)
    if (std::fabs(value) < 1.8446744073709552e19 && value == std::trunc(value)) {
        std::snprintf(buf, sizeof buf, "%.0f", value);
        return buf;
    }
    // Shortest text that reads back as the same double.
    int precision = 15;
    for (; precision < 17; ++precision) {
        std::snprintf(buf, sizeof buf, "%.*e", precision - 1, value);
        if (std::strtod(buf, nullptr) == value) break;
    }
    std::snprintf(buf, sizeof buf, "%.*e", precision - 1, value);
    // Expand the exponent form into plain decimal notation.
    std::string s = buf;
    bool negative = s[0] == '-';
    if (negative) s.erase(0, 1);
    size_t epos = s.find('e');
    int exponent = std::atoi(s.c_str() + epos + 1);
    std::string mantissa;
    for (size_t k = 0; k < epos; ++k)
        if (s[k] != '.') mantissa += s[k];
    while (mantissa.size() > 1 && mantissa.back() == '0') mantissa.pop_back();
    if (exponent > 125 || exponent < -130) {
        std::string out = negative ? "-" : "";
        out += mantissa.substr(0, 1);
        if (mantissa.size() > 1) out += "." + mantissa.substr(1);
        out += "E" + std::string(exponent < 0 ? "-" : "+") + std::to_string(std::abs(exponent));
        return out;
    }
    std::string out;
    int point = exponent + 1;  // digits before the decimal point
    if (point <= 0) {
        out = "." + std::string(static_cast<size_t>(-point), '0') + mantissa;
    } else if (static_cast<size_t>(point) >= mantissa.size()) {
        out = mantissa + std::string(static_cast<size_t>(point) - mantissa.size(), '0');
    } else {
        out = mantissa.substr(0, static_cast<size_t>(point)) + "." +
              mantissa.substr(static_cast<size_t>(point));
    }
    return negative ? "-" + out : out;
}

}  // namespace embedded
}  // namespace occi
}  // namespace oracle
