#include "shape/date_width.h"

#include <cctype>
#include <cstring>

namespace {

struct Element {
    const char* name;
    int width;
};

// Longest names first, so that MONTH wins over MON and MM, SSSSS over SS.
const Element ELEMENTS[] = {
    {"SSSSS", 5}, {"SYYYY", 5}, {"SYEAR", 31}, {"Y,YYY", 5}, {"MONTH", 9},
    {"HH24", 2},  {"HH12", 2},  {"IYYY", 4},   {"RRRR", 4},  {"YYYY", 4},  {"YEAR", 30},
    {"A.M.", 4},  {"P.M.", 4},  {"A.D.", 4},   {"B.C.", 4},
    {"DAY", 9},   {"DDD", 3},   {"MON", 3},    {"IYY", 3},   {"YYY", 3},   {"SCC", 3},
    {"TZH", 3},   {"TZM", 2},   {"TZR", 32},   {"TZD", 6},   {"FF1", 1},   {"FF2", 2},
    {"FF3", 3},   {"FF4", 4},   {"FF5", 5},    {"FF6", 6},   {"FF7", 7},   {"FF8", 8},
    {"FF9", 9},
    {"DD", 2},    {"DY", 3},    {"DL", 29},    {"DS", 10},   {"TS", 11},   {"HH", 2},
    {"MI", 2},    {"MM", 2},    {"SS", 2},     {"FF", 9},    {"AM", 2},    {"PM", 2},
    {"AD", 2},    {"BC", 2},    {"CC", 2},     {"IY", 2},    {"IW", 2},    {"RR", 2},
    {"RM", 4},    {"WW", 2},    {"YY", 2},     {"EE", 8},    {"FM", 0},    {"FX", 0},
    {"D", 1},     {"E", 4},     {"I", 1},      {"J", 7},     {"Q", 1},     {"W", 1},
    {"X", 1},     {"Y", 1},
};

bool matchesAt(const std::string& p_text, size_t p_at, const char* p_name) {
    size_t length = std::strlen(p_name);
    if (p_at + length > p_text.size()) return false;
    for (size_t i = 0; i < length; ++i) {
        if (std::toupper(static_cast<unsigned char>(p_text[p_at + i])) != p_name[i]) return false;
    }
    return true;
}

const int SPELLED_WIDTH = 40;

}  // namespace

int tvDateFormatWidth(const std::string& p_format) {
    long width = 0;
    size_t i = 0;
    while (i < p_format.size()) {
        if (p_format[i] == '"') {
            size_t close = p_format.find('"', i + 1);
            if (close == std::string::npos) close = p_format.size();
            width += static_cast<long>(close - i - 1);
            i = close + 1;
            continue;
        }
        const Element* found = nullptr;
        for (const Element& element : ELEMENTS) {
            if (matchesAt(p_format, i, element.name)) {
                found = &element;
                break;
            }
        }
        if (found == nullptr) {
            ++width;  // punctuation and other text as written
            ++i;
            continue;
        }
        i += std::strlen(found->name);
        int elementWidth = found->width;
        // Suffixes of numeric elements: SP spells the number, TH adds "st",
        // "nd", "rd" or "th"; SPTH and THSP do both.
        bool spelled = false, ordinal = false;
        for (int k = 0; k < 2; ++k) {
            if (!spelled && matchesAt(p_format, i, "SP")) spelled = true, i += 2;
            else if (!ordinal && matchesAt(p_format, i, "TH")) ordinal = true, i += 2;
        }
        if (spelled) elementWidth = SPELLED_WIDTH;
        if (ordinal) elementWidth += 2;
        width += elementWidth;
        if (width > 100000) break;
    }
    return static_cast<int>(width > 100000 ? 100000 : width);
}
