// Converts titles of an authored disc through ConversionBatch, the way the
// window and the command line do, for the conversion tests.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "convert/ConversionBatch.h"
#include "convert/ConversionGraph.h"
#include "platform/dvd/LibDvd.h"

namespace disc_conversion {

struct Item {
    int title;
    double startMs = 0, lengthMs = -1; // length < 0: the whole title
};

struct Options {
    std::string ext;            // of the output names, "Title_0N" + ext
    bool merge = false;
    int audioId = -1, subtitleId = -1;
    PictureSettings picture{};
};

// Converts `items` of the disc in `folder` into `outDir` with `params`. Every
// item must end done; returns the files written.
inline std::vector<std::string> Convert(const std::string& folder, const std::vector<Item>& items,
                                        const EncodeParams& params, const std::string& outDir,
                                        const Options& options) {
    DvdHandle dvd = MyDVDOpen(folder.c_str());
    EXPECT_TRUE(dvd) << folder;
    if (!dvd) return {};
    DvdDiscInfo info{};
    MyDVDGetInfo(dvd, &info);
    std::vector<std::string> files;
    {
        ConversionGraph graph;
        graph.SetDisc(dvd, &info);
        graph.SetStreamChoice(options.audioId, options.subtitleId);
        graph.SetEncoderThreads(2);
        ConversionBatch batch(graph);
        std::vector<BatchItem> list;
        for (const Item& it : items) {
            BatchItem b;
            b.outputName = "Title_0" + std::to_string(it.title + 1) + options.ext;
            b.task.titleIndex = it.title;
            b.task.titleLengthMs = info.titles[it.title].durationMs;
            b.task.trimStartMs = it.startMs;
            b.task.trimLengthMs = it.lengthMs < 0 ? info.titles[it.title].durationMs : it.lengthMs;
            b.task.picture = options.picture;
            list.push_back(b);
        }
        batch.SetItems(list);
        batch.SetProfile(params);
        batch.SetOutputFolder(outDir);
        batch.SetMerge(options.merge);
        batch.SetOverwrite(true);
        batch.RunToEnd({}, 200);
        for (const auto& r : batch.Results())
            EXPECT_EQ(BatchItemResult::Status::Done, r.status) << r.outputName << ": " << r.reason;
        files = batch.WrittenFiles();
    }
    MyDVDClose(dvd);
    return files;
}

} // namespace disc_conversion
