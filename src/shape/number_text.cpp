#include "shape/number_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>

namespace {

// Drops leading and trailing zeros of the digits, keeping the value.
void normalize(tvDecimal& p_value) {
    size_t first = p_value.digits.find_first_not_of('0');
    if (first == std::string::npos) {
        p_value.digits.clear();
        p_value.exponent = 0;
        return;
    }
    p_value.digits.erase(0, first);
    size_t last = p_value.digits.find_last_not_of('0');
    p_value.exponent += static_cast<int>(p_value.digits.size() - 1 - last);
    p_value.digits.erase(last + 1);
}

// The power of ten of the leading digit (0 for zero).
int leadPower(const tvDecimal& p_value) {
    return p_value.digits.empty() ? 0 : static_cast<int>(p_value.digits.size()) - 1 + p_value.exponent;
}

// p_value rounded to a multiple of 10^p_power, half away from zero.
tvDecimal roundTo(const tvDecimal& p_value, int p_power) {
    if (p_value.digits.empty() || p_value.exponent >= p_power) return p_value;
    tvDecimal out;
    out.negative = p_value.negative;
    out.exponent = p_power;
    const long long size = static_cast<long long>(p_value.digits.size());
    const long long drop = static_cast<long long>(p_power) - p_value.exponent;
    if (drop > size) return out;  // below half a unit: zero
    const size_t keep = static_cast<size_t>(size - drop);
    out.digits = p_value.digits.substr(0, keep);
    if (p_value.digits[keep] >= '5') {
        size_t i = out.digits.size();
        while (i > 0 && out.digits[i - 1] == '9') out.digits[--i] = '0';
        if (i == 0) out.digits.insert(0, 1, '1');
        else ++out.digits[i - 1];
    }
    normalize(out);
    return out;
}

// Fixed-point text with exactly p_decimals decimals (the value already
// rounded to them).
std::string fixedText(const tvDecimal& p_value, int p_decimals) {
    std::string text;
    if (p_value.negative) text += '-';
    const int lead = std::max(leadPower(p_value), 0);
    const int size = static_cast<int>(p_value.digits.size());
    const int top = leadPower(p_value);
    for (int power = lead; power >= -p_decimals; --power) {
        if (power == -1) text += '.';
        int index = top - power;
        text += !p_value.digits.empty() && index >= 0 && index < size ? p_value.digits[static_cast<size_t>(index)]
                                                                       : '0';
    }
    return text;
}

size_t fixedLength(const tvDecimal& p_value, int p_decimals) {
    return (p_value.negative ? 1 : 0) + static_cast<size_t>(std::max(leadPower(p_value), 0)) + 1 +
           (p_decimals > 0 ? static_cast<size_t>(p_decimals) + 1 : 0);
}

// Exponent form of a non-zero value, every digit shown: "d.ddde+XX".
std::string exponentText(const tvDecimal& p_value) {
    std::string text;
    if (p_value.negative) text += '-';
    text += p_value.digits[0];
    if (p_value.digits.size() > 1) {
        text += '.';
        text.append(p_value.digits, 1, std::string::npos);
    }
    const int power = leadPower(p_value);
    text += power < 0 ? "e-" : "e+";
    std::string digits = std::to_string(std::abs(power));
    if (digits.size() < 2) digits.insert(0, 1, '0');
    return text + digits;
}

}  // namespace

bool tvParseDecimal(const std::string& p_text, tvDecimal& p_value) {
    size_t i = 0, end = p_text.size();
    while (i < end && p_text[i] == ' ') ++i;
    while (end > i && p_text[end - 1] == ' ') --end;
    tvDecimal value;
    if (i < end && (p_text[i] == '-' || p_text[i] == '+')) value.negative = p_text[i++] == '-';
    size_t fraction = 0;
    bool point = false, anyDigit = false;
    for (; i < end; ++i) {
        char c = p_text[i];
        if (c >= '0' && c <= '9') {
            value.digits += c;
            anyDigit = true;
            if (point) ++fraction;
        } else if (c == '.' && !point) {
            point = true;
        } else {
            break;
        }
    }
    if (!anyDigit) return false;
    long exponent = 0;
    if (i < end && (p_text[i] == 'e' || p_text[i] == 'E')) {
        ++i;
        bool negative = false;
        if (i < end && (p_text[i] == '-' || p_text[i] == '+')) negative = p_text[i++] == '-';
        size_t start = i;
        for (; i < end && p_text[i] >= '0' && p_text[i] <= '9'; ++i) {
            if (exponent > 100000) return false;
            exponent = exponent * 10 + (p_text[i] - '0');
        }
        if (i == start) return false;
        if (negative) exponent = -exponent;
    }
    if (i != end) return false;
    value.exponent = static_cast<int>(exponent) - static_cast<int>(fraction);
    normalize(value);
    p_value = value;
    return true;
}

bool tvDecimalFromDouble(double p_value, tvDecimal& p_out) {
    if (!std::isfinite(p_value)) return false;
    char buffer[64];
    std::to_chars_result r = std::to_chars(buffer, buffer + sizeof buffer, p_value);
    return r.ec == std::errc() && tvParseDecimal(std::string(buffer, r.ptr), p_out);
}

bool tvDecimalFromFloat(float p_value, tvDecimal& p_out) {
    if (!std::isfinite(p_value)) return false;
    char buffer[64];
    std::to_chars_result r = std::to_chars(buffer, buffer + sizeof buffer, p_value);
    return r.ec == std::errc() && tvParseDecimal(std::string(buffer, r.ptr), p_out);
}

tvNumberFit tvFormatNumberField(const tvDecimal& p_value, int p_width, int p_decimals,
                                std::string& p_text) {
    p_text.clear();
    if (p_width <= 0) return NUMBER_UNFIT;
    const size_t width = static_cast<size_t>(p_width);
    const int decimals = std::max(p_decimals, 0);
    const int digitCount = static_cast<int>(p_value.digits.size());

    // Fixed-point: the most decimals up to the field's that fit the width.
    std::string fixed;
    tvDecimal fixedValue;
    int fixedKept = -1;  // leading digits kept; -1: no fixed form fits
    for (int d = decimals; d >= 0; --d) {
        tvDecimal rounded = roundTo(p_value, -d);
        if (fixedLength(rounded, d) <= width) {
            fixed = fixedText(rounded, d);
            fixedValue = rounded;
            fixedKept = p_value.digits.empty() ? 0 : std::clamp(leadPower(p_value) + d + 1, 0, digitCount);
            break;
        }
    }
    const bool fixedExact = fixedKept == digitCount;

    tvNumberFit fit = NUMBER_UNFIT;
    if (fixedExact) {
        p_text = fixed;
        fit = NUMBER_EXACT;
    } else if (!p_value.digits.empty()) {
        // Exponent form with as many digits as fit.
        std::string exponent;
        tvDecimal exponentValue;
        int exponentKept = 0;
        for (int m = digitCount; m >= 1; --m) {
            tvDecimal rounded = roundTo(p_value, leadPower(p_value) - m + 1);
            std::string text = exponentText(rounded);
            if (text.size() <= width) {
                exponent = text;
                exponentValue = rounded;
                exponentKept = m;
                break;
            }
        }
        if (exponentKept == digitCount) {
            p_text = exponent;
            fit = NUMBER_EXACT;
        } else if (exponentKept > 0 && exponentKept > fixedKept &&
                   !(fixedKept >= 0 && exponentValue.digits == fixedValue.digits &&
                     exponentValue.exponent == fixedValue.exponent)) {
            // (The fixed form is kept when both round to the same value.)
            p_text = exponent;
            fit = NUMBER_ROUNDED;
        } else if (fixedKept > 0) {
            p_text = fixed;
            fit = NUMBER_ROUNDED;
        }
    }
    if (fit == NUMBER_UNFIT) return fit;
    p_text.insert(0, width - p_text.size(), ' ');
    return fit;
}

tvNumberFit tvFormatIntegerField(long long p_value, int p_width, int p_decimals,
                                 std::string& p_text) {
    char digits[24];
    std::to_chars_result r = std::to_chars(digits, digits + sizeof digits, p_value);
    const size_t length = static_cast<size_t>(r.ptr - digits);
    if (p_decimals <= 0 && p_width > 0 && length <= static_cast<size_t>(p_width)) {
        // The fixed-point form without decimals: every digit, right-aligned.
        p_text.assign(static_cast<size_t>(p_width) - length, ' ');
        p_text.append(digits, length);
        return NUMBER_EXACT;
    }
    tvDecimal value;
    if (!tvParseDecimal(std::string(digits, length), value)) {
        p_text.clear();
        return NUMBER_UNFIT;
    }
    return tvFormatNumberField(value, p_width, p_decimals, p_text);
}
