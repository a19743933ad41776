#include <gtest/gtest.h>

#include "platform/win/TextConvert.h"

namespace {

struct DecodeCase {
    const char* name;
    UINT codePage;
    std::string bytes;
    std::u16string expected;
};

class Decode : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(Decode, ToUtf16) {
    std::u16string out;
    EXPECT_TRUE(MultiByteToUtf16(GetParam().codePage, GetParam().bytes, out));
    EXPECT_EQ(out, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    CodePages, Decode,
    ::testing::Values(DecodeCase{"utf8", CP_UTF8, "caf\xC3\xA9 \xE2\x82\xAC", u"caf\u00e9 \u20ac"},
                      DecodeCase{"utf8_astral", CP_UTF8, "\xF0\x9F\x98\x80", u"\U0001F600"},
                      DecodeCase{"utf8_invalid_byte", CP_UTF8, "a\xFFz", u"a\uFFFDz"},
                      DecodeCase{"cp1252_euro", 1252, "\x80\xE9", u"\u20ac\u00e9"},
                      DecodeCase{"latin1", 28591, "\x80\xE9", u"\u0080\u00e9"},
                      DecodeCase{"latin9", 28605, "\xA4", u"\u20ac"},
                      DecodeCase{"cp1251", 1251, "\xCF\xF0", u"\u041f\u0440"},
                      DecodeCase{"koi8r", 20866, "\xF0\xD2", u"\u041f\u0440"},
                      DecodeCase{"shift_jis", 932, "\x93\xFA\x96\x7B", u"\u65e5\u672c"},
                      DecodeCase{"gbk", 936, "\xD6\xD0\xCE\xC4", u"\u4e2d\u6587"},
                      DecodeCase{"big5", 950, "\xA4\xA4\xA4\xE5", u"\u4e2d\u6587"},
                      DecodeCase{"euc_kr", 51949, "\xC7\xD1", u"\ud55c"},
                      DecodeCase{"gb18030", 54936, "\x81\x30\x81\x30", u"\u0080"},
                      DecodeCase{"ascii", 20127, "abc", u"abc"},
                      DecodeCase{"acp_utf8", CP_ACP, "\xC3\xA9", u"\u00e9"},
                      DecodeCase{"acp_fallback_1252", CP_ACP, "caf\xE9", u"caf\u00e9"},
                      DecodeCase{"empty", CP_UTF8, "", u""}),
    [](const ::testing::TestParamInfo<DecodeCase>& info) { return info.param.name; });

TEST(Decode, UnknownCodePageFallsBack) {
    std::u16string out;
    EXPECT_FALSE(MultiByteToUtf16(12345, "a\xE9", out));
    EXPECT_EQ(out, u"a\u00e9");
}

TEST(Encode, RoundTripsAndReplacements) {
    std::string out;
    EXPECT_TRUE(Utf16ToMultiByte(1252, u"\u20ac\u00e9", out));
    EXPECT_EQ(out, "\x80\xE9");
    EXPECT_TRUE(Utf16ToMultiByte(1252, u"a\u4e2db", out));
    EXPECT_EQ(out, "a?b");
    EXPECT_EQ(Utf16ToUtf8(u"\U0001F600x"), "\xF0\x9F\x98\x80x");
    EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xD800)) + u"x"), "\xEF\xBF\xBDx");
    EXPECT_EQ(Utf8ToUtf16(Utf16ToUtf8(u"\u4e2d\u6587 abc \u00e9")), u"\u4e2d\u6587 abc \u00e9");
    EXPECT_EQ(Utf16ToAnsi(u"libx264"), "libx264");
    EXPECT_EQ(AnsiToUtf16("libx264"), u"libx264");
}

TEST(Encode, LongText) {
    std::u16string text(100000, u'\u00e9');
    EXPECT_EQ(Utf8ToUtf16(Utf16ToUtf8(text)), text);
}

struct Utf8Case {
    const char* bytes;
    bool valid;
    bool validCut;
};

class Utf8Validity : public ::testing::TestWithParam<Utf8Case> {};

TEST_P(Utf8Validity, Check) {
    EXPECT_EQ(IsValidUtf8(GetParam().bytes, false), GetParam().valid) << GetParam().bytes;
    EXPECT_EQ(IsValidUtf8(GetParam().bytes, true), GetParam().validCut) << GetParam().bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, Utf8Validity,
    ::testing::Values(
        Utf8Case{"plain", true, true}, Utf8Case{"caf\xC3\xA9", true, true},
        Utf8Case{"\xE2\x82\xAC", true, true}, Utf8Case{"\xF0\x9F\x98\x80", true, true},
        Utf8Case{"caf\xE9", false, true}, // a lead byte cut by the end
        Utf8Case{"caf\xE9!", false, false}, Utf8Case{"\xC0\xAF", false, false}, // overlong
        Utf8Case{"\xE0\x80\xAF", false, false},                                 // overlong
        Utf8Case{"\xED\xA0\x80", false, false},                                 // surrogate
        Utf8Case{"\xF4\x90\x80\x80", false, false},                             // > U+10FFFF
        Utf8Case{"\x80", false, false}, Utf8Case{"ab\xE2\x82", false, true},    // cut at the end
        Utf8Case{"ab\xE2\x82x", false, false}));

TEST(Utf8Validity, StopsAtZeroByte) {
    EXPECT_TRUE(IsValidUtf8(std::string_view("ok\0\xFF", 4)));
}

TEST(CodePageNames, Known) {
    EXPECT_EQ(CodePageIconvName(1252), "CP1252");
    EXPECT_EQ(CodePageIconvName(65001), "UTF-8");
    EXPECT_EQ(CodePageIconvName(CP_ACP), "UTF-8");
    EXPECT_EQ(CodePageIconvName(4242), "");
}

} // namespace
