#include "app/TitleListText.h"

#include <cstdio>

#include "demux/LanguageTable.h"
#include "platform/dvd/LibDvd.h"

bool TitleListText::IsListed(const DvdTitleInfo& title) { return title.durationMs >= kMinListedMs; }

std::string TitleListText::ItemName(int titleIndex, int chapterIndex) {
    char buf[32];
    if (chapterIndex < 0)
        std::snprintf(buf, sizeof buf, "Title_%02d", titleIndex + 1);
    else
        std::snprintf(buf, sizeof buf, "Chapter_%02d_%02d", titleIndex + 1, chapterIndex + 1);
    return buf;
}

std::string TitleListText::LengthText(double durationMs) {
    long long s = durationMs > 0 ? static_cast<long long>(durationMs / 1000.0) : 0;
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02lld:%02lld:%02lld", s / 3600, (s / 60) % 60, s % 60);
    return buf;
}

std::string TitleListText::FormatName(std::int32_t format) {
    switch (format) {
    case 0: return "AC3";
    case 2:
    case 3: return "MP3";
    case 4: return "LPCM";
    case 5: return "DTS";
    default: return "";
    }
}

int TitleListText::ChannelCount(std::int32_t channelCode) { return channelCode == 5 ? 6 : 2; }

std::string TitleListText::LanguageOf(std::int32_t packedLanguage) {
    return TwoLetterLanguageName(static_cast<unsigned>(packedLanguage));
}

std::string TitleListText::AudioEntry(std::int32_t packedLanguage, std::int32_t format,
                                      std::int32_t channelCode) {
    return LanguageOf(packedLanguage) + "(" + FormatName(format) + " " +
           std::to_string(ChannelCount(channelCode)) + "ch)";
}
