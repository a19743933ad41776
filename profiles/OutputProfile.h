// OutputProfile and EncodeParams: one catalogue entry, as fixed-size
// records. Text fields are zero-terminated 16-bit (UTF-16) arrays; the encoder
// names are 8-bit (UTF-8, the default code page of this port) because they go
// straight to FFmpeg. Setting a text field always goes through SetText /
// SetName, which cut the value to the field's capacity (one unit kept for the
// terminating zero, never half a surrogate pair or half a UTF-8 sequence), so
// nothing is ever written past a field.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The encoding block that a conversion reads (graph assembly, batch run, writer).
struct EncodeParams {
    std::int32_t HasVideo;     // 0 or 1: the output gets a video stream
    std::int32_t Width;        // pixels
    std::int32_t Height;       // pixels
    std::int32_t VideoBitRate; // bits per second
    std::int32_t FrameRate;    // frames per second times 1000 (29970 = 29.97)
    char VideoCodecName[16];   // FFmpeg encoder name, zero-terminated
    std::int32_t HasAudio;     // 0 or 1: the output gets an audio stream
    std::int32_t SampleRate;   // Hz
    std::int32_t Channel;      // channel count
    std::int32_t AudioBitRate; // bits per second
    char AudioCodecName[16];   // FFmpeg encoder name, zero-terminated
};

struct OutputProfile {
    std::int32_t Index;        // position among the root's Profile elements, from 0
    char16_t FormatExt[8];     // output extension with its leading dot (".mp4")
    char16_t ProfileName[160]; // display name
    char16_t Resolutions[128]; // choice lists (see ChoiceList.h)
    char16_t FrameRates[128];
    char16_t VideoBitRates[320];
    char16_t AudioBitRates[128];
    char16_t SampleRates[128];
    char16_t Channels[64];
    char16_t VideoCodecs[256];
    char16_t AudioCodecs[128];
    ::EncodeParams EncodeParams; // the part a conversion reads
};

// A record with all text empty and all numbers 0 (a "cleared" record).
OutputProfile EmptyProfile();

// Copies `value` into a 16-bit field, cut to N - 1 units and zero-terminated.
void SetTextField(char16_t* field, std::size_t capacity, std::u16string_view value);
template <std::size_t N> void SetText(char16_t (&field)[N], std::u16string_view value) {
    SetTextField(field, N, value);
}
// Copies `value` into an 8-bit field, cut to N - 1 bytes and zero-terminated.
void SetNameField(char* field, std::size_t capacity, std::string_view value);
template <std::size_t N> void SetName(char (&field)[N], std::string_view value) {
    SetNameField(field, N, value);
}

// The text of a field up to its terminating zero (or its capacity).
template <std::size_t N> std::u16string_view TextOf(const char16_t (&field)[N]) {
    std::size_t n = 0;
    while (n < N && field[n])
        ++n;
    return std::u16string_view(field, n);
}
template <std::size_t N> std::string_view TextOf(const char (&field)[N]) {
    std::size_t n = 0;
    while (n < N && field[n])
        ++n;
    return std::string_view(field, n);
}

// Base-10 reading as the catalogue does it: leading white space skipped, an
// optional sign, digits up to the first other character; no digits gives 0;
// values beyond the 32-bit range are clamped.
std::int32_t ParseDecimal(std::u16string_view text);
