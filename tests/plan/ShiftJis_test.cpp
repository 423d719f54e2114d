#include "plan/ShiftJis.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace tessera {
namespace {

// The bytes, or "none at" the offset of the character refused.
std::string Hex(const Planned<std::string>& bytes)
{
    if (!bytes)
        return "none at " + std::to_string(bytes.error().at);
    static const char digits[] = "0123456789ABCDEF";
    std::string s;
    for (const char c : *bytes) {
        if (!s.empty())
            s += ' ';
        s += digits[static_cast<unsigned char>(c) >> 4];
        s += digits[static_cast<unsigned char>(c) & 15];
    }
    return s;
}

TEST(EncodeShiftJis, Table)
{
    const struct {
        const char* utf8;
        const char* expected;
    } cases[] = {
        {"", ""},
        {"ab", "61 62"},
        {"表示", "95 5C 8E A6"},  // the trail byte of 表 is the backslash byte
        {"\xef\xbd\x9e", "81 60"},      // ～ U+FF5E
        {"\xe3\x80\x9c", "81 60"},      // 〜 U+301C, as Linux input methods type it
        {"\xc2\xa5", "5C"},             // ¥
        {"ｱ", "B1"},                    // half-width katakana
        {"①", "87 40"},                 // a code page 932 extension
        {"髙", "FB FC"},
        {"日本語", "93 FA 96 7B 8C EA"},
        // no code page 932 form, never "?"
        {"\xf0\x9f\x98\x80", "none at 0"},   // an emoji
        {"a\xf0\x9f\x98\x80" "b", "none at 1"},
        {"\xc3\xa9", "none at 0"},           // é
        // characters the converter would skip without a word: refused too
        {"\xe2\x80\x8b", "none at 0"},       // U+200B zero width space
        {"第\xf3\xa0\x80\x80一章", "none at 3"},  // U+E0000
        {"\xf3\xa0\x80\x81", "none at 0"},   // U+E0001 language tag
        {"\xf3\xa0\x84\x80", "none at 0"},   // U+E0100 variation selector
        {"a\xef\xb8\x8f", "none at 1"},      // U+FE0F variation selector
        // not UTF-8
        {"\xff", "none at 0"},
        {"a\x95\x5c", "none at 1"},           // already Shift_JIS
        {"\xc0\xaf", "none at 0"},           // an overlong slash
        {"\xed\xa0\x80", "none at 0"},       // a surrogate
        {"ab\xe8\xa1", "none at 2"},           // cut short
        {"\xf4\x90\x80\x80", "none at 0"},   // above U+10FFFF
    };
    for (const auto& c : cases)
        EXPECT_EQ(Hex(EncodeShiftJis(c.utf8)), c.expected) << c.utf8;
}

TEST(EncodeShiftJis, KeepsEmbeddedZeroBytes)
{
    EXPECT_EQ(Hex(EncodeShiftJis(std::string("a\0b", 3))), "61 00 62");
}

TEST(EncodeShiftJis, SafeFromSeveralThreads)
{
    std::vector<std::thread> threads;
    std::vector<int> wrong(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&wrong, t] {
            for (int i = 0; i < 2000; ++i) {
                if (Hex(EncodeShiftJis("表示〜")) != "95 5C 8E A6 81 60")
                    ++wrong[t];
            }
        });
    }
    for (std::thread& th : threads)
        th.join();
    for (int t = 0; t < 4; ++t)
        EXPECT_EQ(wrong[t], 0) << t;
}

TEST(DecodeShiftJisForDisplay, Table)
{
    const struct {
        std::string bytes;
        const char* shown;
    } cases[] = {
        {"", ""},
        {"abc", "abc"},
        {"\x95\x5c\x8e\xa6", "表示"},
        {"\xb1", "ｱ"},
        {"\x87\x40", "①"},
        {"\x81\x60", "～"},
        {std::string("a\0\tb\x7f", 5), "a..b."},        // control characters
        {"\x5c\x8e\xa6", "\\示"},                       // starts on the trail byte of 表
        {"\x95", "."},                                  // a lead byte cut off at the end
        {"\x95\x20", ". "},                             // a lead byte with no trail
        {"\xa0\xfd\xfe\xff", "...."},                  // no character of the code page
        {"\xf0\x40", "."},                              // user-defined: private use
    };
    for (const auto& c : cases)
        EXPECT_EQ(DecodeShiftJisForDisplay(c.bytes), c.shown) << Hex(c.bytes);
}

}  // namespace
}  // namespace tessera
