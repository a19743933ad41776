// The texts of the title list and its stream lists, shared by the window and
// the command line so both show a disc the same way.
#pragma once

#include <cstdint>
#include <string>

struct DvdTitleInfo;

class TitleListText {
public:
    // Titles shorter than this are not listed.
    static constexpr double kMinListedMs = 3000.0;

    static bool IsListed(const DvdTitleInfo& title);
    // "Title_03" for title index 2 (counted from 0); "Chapter_02_05" for
    // title 1, chapter 4. chapter < 0 names the whole title.
    static std::string ItemName(int titleIndex, int chapterIndex = -1);
    // "%02d:%02d:%02d" of the whole seconds of `durationMs` (truncated).
    static std::string LengthText(double durationMs);
    // "AC3", "MP3", "LPCM", "DTS", or "" for an unknown format code.
    static std::string FormatName(std::int32_t format);
    // 6 for channel code 5, otherwise 2.
    static int ChannelCount(std::int32_t channelCode);
    // Language name of a packed two-letter code, "" when unknown.
    static std::string LanguageOf(std::int32_t packedLanguage);
    // "English(AC3 2ch)"; an unknown format gives "English( 2ch)".
    static std::string AudioEntry(std::int32_t packedLanguage, std::int32_t format,
                                  std::int32_t channelCode);
};
