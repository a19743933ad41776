// Helpers shared by the media tests: a graph without a clock (or with the system
// clock), connection by pin index, and measurements on decoded output.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/dshow/FilterGraph.h"

namespace mediatest {

// A graph the test owns; clockless unless withClock.
ComPtr<FilterGraph> MakeGraph(bool withClock);
// The n-th pin of the given direction in enumeration order, or null.
ComPtr<IPin> PinOf(IBaseFilter* f, PIN_DIRECTION dir, int n);
// ConnectDirect of out pin i of a to in pin j of b, without a proposed type.
HRESULT Join(FilterGraph* g, IBaseFilter* a, int i, IBaseFilter* b, int j);
// Frequency of channel ch by zero crossings over frames [from, to).
double ToneFrequency(const std::vector<std::int16_t>& pcm, int channels, int ch, int rate,
                     std::size_t from, std::size_t to);
// Luma planes (width x height each) of the given decoded picture numbers, by
// ffmpeg decoding the file; empty when ffmpeg fails.
std::vector<std::vector<std::uint8_t>> FfmpegLuma(const std::string& file, int width, int height,
                                                  const std::vector<int>& frames);
double MeanAbsDiff(const std::uint8_t* a, const std::uint8_t* b, std::size_t n);

} // namespace mediatest
