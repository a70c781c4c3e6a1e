// Numbers as text: Oracle number format models (Number::toText, TO_CHAR
// style) and the text of BINARY_FLOAT / BINARY_DOUBLE values.
#include "internal.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace oracle {
namespace occi {
namespace embedded {

namespace {

bool endsWith(const std::string& s, const char* tail) {
    std::string t = tail;
    return s.size() >= t.size() && s.compare(s.size() - t.size(), t.size(), t) == 0;
}

// Decimal digits of |value| rounded to frac fractional digits: integer part
// and fraction part.
void decimalDigits(bool exact, long long integer, double value, int frac, std::string& ip, std::string& fp) {
    if (exact) {
        unsigned long long magnitude =
            integer < 0 ? 0ULL - static_cast<unsigned long long>(integer) : static_cast<unsigned long long>(integer);
        ip = std::to_string(magnitude);
        fp = std::string(static_cast<size_t>(frac), '0');
        return;
    }
    char buf[512];
    std::snprintf(buf, sizeof buf, "%.*f", frac, std::fabs(value));
    std::string s = buf;
    size_t dot = s.find('.');
    ip = dot == std::string::npos ? s : s.substr(0, dot);
    fp = dot == std::string::npos ? "" : s.substr(dot + 1);
}

}  // namespace

std::string integerText(long long value) { return std::to_string(value); }

std::string formatNumber(bool exact, long long integer, double value, const std::string& model) {
    std::string f;
    for (char c : model) f += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (f.empty() || f == "TM" || f == "TM9") return exact ? integerText(integer) : numberText(value);
    bool fm = false, leadingS = false, trailingS = false, mi = false, eeee = false;
    if (f.compare(0, 2, "FM") == 0) {
        fm = true;
        f.erase(0, 2);
    }
    if (!f.empty() && f[0] == 'S') {
        leadingS = true;
        f.erase(0, 1);
    }
    if (endsWith(f, "MI")) {
        mi = true;
        f.erase(f.size() - 2);
    } else if (!leadingS && !f.empty() && f.back() == 'S') {
        trailingS = true;
        f.erase(f.size() - 1);
    }
    if (endsWith(f, "EEEE")) {
        eeee = true;
        f.erase(f.size() - 4);
    }
    // [0 9 , G]* [. D] [0 9]*
    std::string intPattern;
    int frac = 0;
    bool decimal = false;
    int firstZero = -1, slots = 0;
    for (char c : f) {
        if (c == '9' || c == '0') {
            if (decimal) {
                ++frac;
            } else {
                if (c == '0' && firstZero < 0) firstZero = slots;
                ++slots;
                intPattern += '9';
            }
        } else if ((c == ',' || c == 'G') && !decimal) {
            if (slots == 0) raise(1481, "invalid number format model");
            intPattern += ',';
        } else if ((c == '.' || c == 'D') && !decimal) {
            decimal = true;
        } else {
            raise(1481, "invalid number format model");
        }
    }
    if (slots == 0 && frac == 0) raise(1481, "invalid number format model");
    size_t width = intPattern.size() + (decimal ? 1 + static_cast<size_t>(frac) : 0) + 1 + (eeee ? 5 : 0);
    std::string overflow(width, '#');
    if (!exact && !std::isfinite(value)) return overflow;
    bool negative = exact ? integer < 0 : std::signbit(value) && value != 0;
    std::string body;
    if (eeee) {
        if (slots != 1) raise(1481, "invalid number format model");
        char buf[64];
        double v = exact ? static_cast<double>(integer) : value;
        std::snprintf(buf, sizeof buf, "%.*e", frac, std::fabs(v));
        std::string s = buf;
        size_t e = s.find('e');
        int exponent = std::atoi(s.c_str() + e + 1);
        char ex[16];
        std::snprintf(ex, sizeof ex, "E%c%02d", exponent < 0 ? '-' : '+', std::abs(exponent));
        body = s.substr(0, e) + ex;
    } else {
        std::string ip, fp;
        decimalDigits(exact, integer, value, frac, ip, fp);
        if (ip == "0") ip.clear();
        if (ip.empty() && (fp.find_first_not_of('0') == std::string::npos) && firstZero < 0) ip = "0";
        if (ip.size() > static_cast<size_t>(slots)) return overflow;
        std::string padded(static_cast<size_t>(slots) - ip.size(), ' ');
        for (size_t k = 0; k < padded.size(); ++k)
            if (firstZero >= 0 && static_cast<int>(k) >= firstZero) padded[k] = '0';
        padded += ip;
        size_t next = 0;
        for (char c : intPattern) {
            if (c == '9') {
                body += padded[next++];
            } else {
                bool digitBefore = !body.empty() && std::isdigit(static_cast<unsigned char>(body.back()));
                body += digitBefore ? ',' : ' ';
            }
        }
        if (decimal) {
            if (fm) {
                // FM drops the fraction's trailing zeros
                while (!fp.empty() && fp.back() == '0') fp.pop_back();
            }
            body += "." + fp;
        }
    }
    std::string out;
    if (mi) {
        out = body + (negative ? "-" : " ");
    } else if (leadingS || trailingS) {
        size_t first = body.find_first_not_of(' ');
        std::string sign = negative ? "-" : "+";
        if (leadingS) out = first == std::string::npos ? sign + body : body.substr(0, first) + sign + body.substr(first);
        else out = body + sign;
    } else {
        size_t first = body.find_first_not_of(' ');
        if (first == std::string::npos) first = body.size();
        out = " " + body;
        if (negative) out[first] = '-';
    }
    if (fm) {
        size_t a = out.find_first_not_of(' ');
        size_t b = out.find_last_not_of(' ');
        out = a == std::string::npos ? "" : out.substr(a, b - a + 1);
    }
    return out;
}

std::string binaryText(double value, bool isFloat) {
    if (std::isnan(value)) return "Nan";
    if (std::isinf(value)) return value < 0 ? "-Inf" : "Inf";
    if (value == 0) return "0";
    // shortest mantissa that reads back as the same value
    char buf[64];
    int digits = 1;
    for (; digits < 17; ++digits) {
        std::snprintf(buf, sizeof buf, "%.*e", digits - 1, value);
        if (isFloat ? std::strtof(buf, nullptr) == static_cast<float>(value) : std::strtod(buf, nullptr) == value)
            break;
    }
    std::snprintf(buf, sizeof buf, "%.*e", digits < 2 ? 1 : digits - 1, value);
    std::string s = buf;
    size_t e = s.find('e');
    int exponent = std::atoi(s.c_str() + e + 1);
    char ex[16];
    std::snprintf(ex, sizeof ex, "E%c%03d", exponent < 0 ? '-' : '+', std::abs(exponent));
    return s.substr(0, e) + ex;
}

}  // namespace embedded
}  // namespace occi
}  // namespace oracle
