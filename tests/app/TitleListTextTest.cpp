#include <gtest/gtest.h>

#include "app/TitleListText.h"
#include "platform/dvd/LibDvd.h"

namespace {
constexpr std::int32_t Lang(char a, char b) { return (a << 8) | b; }
} // namespace

TEST(TitleListText, LengthTextTruncatesToWholeSeconds) {
    struct Case {
        double ms;
        const char* text;
    } cases[] = {
        {7200000, "02:00:00"}, {3599999, "00:59:59"}, {60060, "00:01:00"},
        {999, "00:00:00"},     {0, "00:00:00"},       {-5, "00:00:00"},
        {359999000, "99:59:59"},
    };
    for (const auto& c : cases) EXPECT_EQ(TitleListText::LengthText(c.ms), c.text) << c.ms;
}

TEST(TitleListText, ListsTitlesOfThreeSecondsOrMore) {
    DvdTitleInfo t{};
    t.durationMs = 3000;
    EXPECT_TRUE(TitleListText::IsListed(t));
    t.durationMs = 2999.9;
    EXPECT_FALSE(TitleListText::IsListed(t));
}

TEST(TitleListText, ItemNamesCountFromOne) {
    EXPECT_EQ(TitleListText::ItemName(0), "Title_01");
    EXPECT_EQ(TitleListText::ItemName(2), "Title_03");
    EXPECT_EQ(TitleListText::ItemName(1, 4), "Chapter_02_05");
    EXPECT_EQ(TitleListText::ItemName(99), "Title_100");
}

TEST(TitleListText, AudioEntries) {
    struct Case {
        std::int32_t lang, format, channels;
        const char* text;
    } cases[] = {
        {Lang('e', 'n'), 3, 5, "English(MP3 6ch)"},
        {Lang('e', 'n'), 1, 2, "English( 2ch)"},
        {Lang('f', 'r'), 0, 1, "French(AC3 2ch)"},
        {Lang('d', 'e'), 4, 1, "German(LPCM 2ch)"},
        {Lang('e', 's'), 5, 5, "Spanish(DTS 6ch)"},
        {Lang('x', 'x'), 2, 0, "(MP3 2ch)"},
        {0, 0, 1, "(AC3 2ch)"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TitleListText::AudioEntry(c.lang, c.format, c.channels), c.text) << c.text;
}
