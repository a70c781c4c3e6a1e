#include "oracle/identifier.h"

namespace {

const size_t MAX_IDENTIFIER_BYTES = 128;

bool isLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

}  // namespace

std::string quoteIdentifier(const std::string& p_name) {
    std::string quoted = "\"";
    for (char c : p_name) {
        quoted += c;
        if (c == '"') quoted += '"';
    }
    return quoted + "\"";
}

std::string qualifiedTableName(const std::string& p_owner, const std::string& p_table) {
    return p_owner.empty() ? quoteIdentifier(p_table)
                           : quoteIdentifier(p_owner) + "." + quoteIdentifier(p_table);
}

bool readIdentifierArgument(const std::string& p_text, std::string& p_name) {
    if (p_text.size() >= 2 && p_text.front() == '"' && p_text.back() == '"') {
        std::string name;
        for (size_t i = 1; i + 1 < p_text.size(); ++i) {
            char c = p_text[i];
            if (c == '\0') return false;
            if (c == '"') {
                // Only a doubled quote may stand inside the name.
                if (i + 2 >= p_text.size() || p_text[i + 1] != '"') return false;
                ++i;
            }
            name += c;
        }
        if (name.empty() || name.size() > MAX_IDENTIFIER_BYTES) return false;
        p_name = name;
        return true;
    }
    if (p_text.empty() || p_text.size() > MAX_IDENTIFIER_BYTES || !isLetter(p_text[0])) return false;
    std::string name;
    for (char c : p_text) {
        if (!isLetter(c) && !(c >= '0' && c <= '9') && c != '_' && c != '$' && c != '#') return false;
        name += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    }
    p_name = name;
    return true;
}
