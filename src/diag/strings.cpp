#include "diag/strings.h"

#include <cctype>

void upper(std::string& text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
}

void lower(std::string& text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

std::string safeFileNamePart(const std::string& p_name) {
    std::string safe = p_name;
    bool leading = true;
    for (char& c : safe) {
        unsigned char u = static_cast<unsigned char>(c);
        if (leading && c == '.') {
            c = '_';
            continue;
        }
        leading = false;
        if (c == '/' || c == '\\' || u < 0x20 || u == 0x7f) c = '_';
    }
    if (safe.empty()) safe = "_";
    return safe;
}
