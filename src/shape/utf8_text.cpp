#include "shape/utf8_text.h"

#include <cstdint>
#include <cstring>

namespace {

// Length of the valid sequence starting at p_text[i] (1 to 4), or 0 when it
// is invalid; then p_skip is the length of its maximal invalid part.
size_t validSequence(const std::string& p_text, size_t i, size_t& p_skip) {
    const unsigned char b = static_cast<unsigned char>(p_text[i]);
    size_t need;
    unsigned char low = 0x80, high = 0xBF;  // bounds of the second byte
    if (b < 0x80) return 1;
    if (b >= 0xC2 && b <= 0xDF) need = 1;
    else if (b == 0xE0) need = 2, low = 0xA0;
    else if (b == 0xED) need = 2, high = 0x9F;
    else if (b >= 0xE1 && b <= 0xEF) need = 2;
    else if (b == 0xF0) need = 3, low = 0x90;
    else if (b == 0xF4) need = 3, high = 0x8F;
    else if (b >= 0xF1 && b <= 0xF3) need = 3;
    else {
        p_skip = 1;
        return 0;
    }
    for (size_t k = 1; k <= need; ++k) {
        if (i + k >= p_text.size()) {
            p_skip = k;
            return 0;
        }
        const unsigned char c = static_cast<unsigned char>(p_text[i + k]);
        const bool ok = k == 1 ? c >= low && c <= high : (c & 0xC0) == 0x80;
        if (!ok) {
            p_skip = k;
            return 0;
        }
    }
    return need + 1;
}

// The length of the leading part of p_text that is plain ASCII without NUL,
// eight bytes at a time while it lasts.
size_t plainAsciiPrefix(const std::string& p_text) {
    const char* data = p_text.data();
    const size_t size = p_text.size();
    const uint64_t HIGH = 0x8080808080808080ULL;
    const uint64_t ONES = 0x0101010101010101ULL;
    size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        uint64_t word;
        std::memcpy(&word, data + i, sizeof word);
        // Without a high bit in any byte, (word - ONES) & ~word has one
        // exactly where a byte is zero.
        if (((word & HIGH) | ((word - ONES) & ~word & HIGH)) != 0) break;
    }
    while (i < size && static_cast<unsigned char>(data[i]) < 0x80 && data[i] != '\0') ++i;
    return i;
}

}  // namespace

void tvCleanUtf8(std::string& p_text, bool& p_replaced, bool& p_nul) {
    p_replaced = false;
    p_nul = false;
    // Valid text without NUL, the common case, is left as it is: the copy
    // starts at the first byte to change.
    size_t i = plainAsciiPrefix(p_text);
    while (i < p_text.size() && p_text[i] != '\0') {
        size_t skip = 0;
        const size_t length = validSequence(p_text, i, skip);
        if (length == 0) break;
        i += length;
    }
    if (i == p_text.size()) return;

    std::string out = p_text.substr(0, i);
    out.reserve(p_text.size() + 8);
    while (i < p_text.size()) {
        if (p_text[i] == '\0') {
            out += ' ';
            p_nul = true;
            ++i;
            continue;
        }
        size_t skip = 0;
        size_t length = validSequence(p_text, i, skip);
        if (length > 0) {
            out.append(p_text, i, length);
            i += length;
        } else {
            out += "\xEF\xBF\xBD";
            p_replaced = true;
            i += skip;
        }
    }
    p_text.swap(out);
}

bool tvCutUtf8(std::string& p_text, size_t p_bytes) {
    if (p_text.size() <= p_bytes) return false;
    size_t cut = p_bytes;
    while (cut > 0 && (static_cast<unsigned char>(p_text[cut]) & 0xC0) == 0x80) --cut;
    p_text.resize(cut);
    return true;
}

size_t tvUtf8Length(const std::string& p_text) {
    size_t count = 0;
    for (char c : p_text) {
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++count;
    }
    return count;
}
