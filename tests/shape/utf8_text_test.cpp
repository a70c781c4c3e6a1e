// Text made valid UTF-8 and cut at character boundaries.
#include <gtest/gtest.h>

#include "shape/utf8_text.h"

namespace {

std::string clean(std::string p_text, bool* p_replaced = nullptr, bool* p_nul = nullptr) {
    bool replaced = false, nul = false;
    tvCleanUtf8(p_text, replaced, nul);
    if (p_replaced) *p_replaced = replaced;
    if (p_nul) *p_nul = nul;
    return p_text;
}

const std::string FFFD = "\xEF\xBF\xBD";

}  // namespace

TEST(Utf8Text, ValidTextStaysAsItIs) {
    bool replaced = true, nul = true;
    for (const std::string& text :
         {std::string("plain"), std::string(""), std::string("Zürich"), std::string("東京都"),
          std::string("\xF0\x9F\x97\xBA map"), std::string("\xED\x9F\xBF"), std::string("\xF4\x8F\xBF\xBF")}) {
        EXPECT_EQ(clean(text, &replaced, &nul), text);
        EXPECT_FALSE(replaced) << text;
        EXPECT_FALSE(nul) << text;
    }
}

TEST(Utf8Text, InvalidSequencesBecomeReplacementCharacters) {
    bool replaced = false, nul = false;
    EXPECT_EQ(clean("a\xFF" "b", &replaced, &nul), "a" + FFFD + "b");
    EXPECT_TRUE(replaced);
    EXPECT_FALSE(nul);
    // Latin-1 text read as UTF-8.
    EXPECT_EQ(clean("Z\xFCrich"), "Z" + FFFD + "rich");
    // A stray continuation byte, and a sequence cut short at the end.
    EXPECT_EQ(clean("\x80x\xE6\x9D"), FFFD + "x" + FFFD);
    // Overlong forms, a surrogate and a code point above U+10FFFF: one
    // replacement for each maximal invalid part.
    EXPECT_EQ(clean("\xC0\xAF"), FFFD + FFFD);
    EXPECT_EQ(clean("\xE0\x80\xAF"), FFFD + FFFD + FFFD);
    EXPECT_EQ(clean("\xED\xA0\x80"), FFFD + FFFD + FFFD);
    EXPECT_EQ(clean("\xF4\x90\x80\x80"), FFFD + FFFD + FFFD + FFFD);
    EXPECT_EQ(clean("\xE6\x9D" "x"), FFFD + "x");
}

TEST(Utf8Text, NulBecomesASpace) {
    bool replaced = true, nul = false;
    EXPECT_EQ(clean(std::string("ab\0cd\0", 6), &replaced, &nul), "ab cd ");
    EXPECT_TRUE(nul);
    EXPECT_FALSE(replaced);
}

// Plain text is scanned eight bytes at a time: each kind of byte, at every
// offset of a text of three words, is found and changed, or kept, there.
TEST(Utf8Text, EachByteAtEveryOffset) {
    const struct {
        std::string in, out;
        bool replaced, nul;
    } cases[] = {{std::string(1, '\0'), " ", false, true},   {"\x80", FFFD, true, false},
                 {"\xFF", FFFD, true, false},                {"\xC3", FFFD, true, false},
                 {"\xC3\xA9", "\xC3\xA9", false, false},       {"\x01", "\x01", false, false},
                 {"\x7F", "\x7F", false, false}};
    const std::string plain = "abcdefghijklmnopqrstuvwx";
    for (const auto& c : cases) {
        for (size_t at = 0; at <= plain.size(); ++at) {
            bool replaced = !c.replaced, nul = !c.nul;
            const std::string head = plain.substr(0, at), tail = plain.substr(at);
            EXPECT_EQ(clean(head + c.in + tail, &replaced, &nul), head + c.out + tail) << at;
            EXPECT_EQ(replaced, c.replaced) << at;
            EXPECT_EQ(nul, c.nul) << at;
        }
    }
}

TEST(Utf8Text, CutsAtTheLastWholeCharacter) {
    std::string cjk = "東京都渋谷";  // 5 characters, 15 bytes
    std::string text = cjk;
    EXPECT_FALSE(tvCutUtf8(text, 15));
    EXPECT_EQ(text, cjk);
    for (size_t bytes = 0; bytes < 15; ++bytes) {
        text = cjk;
        EXPECT_TRUE(tvCutUtf8(text, bytes));
        EXPECT_EQ(text.size(), bytes / 3 * 3) << bytes;
    }
    text = std::string(254, 'a') + "é";
    EXPECT_TRUE(tvCutUtf8(text, 255));
    EXPECT_EQ(text, std::string(254, 'a'));
    EXPECT_EQ(tvUtf8Length(cjk), 5u);
    EXPECT_EQ(tvUtf8Length("Zürich"), 6u);
}
