// The batch run against a scripted runner and a hand-turned clock: which
// files are opened and closed, skipped and failed items, progress, elapsed
// time without pauses, cancel.
#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <fstream>
#include <map>

#include "convert/ConversionBatch.h"

namespace fs = std::filesystem;

namespace {

struct FakeRunner : IConversionRunner {
    std::vector<std::string> calls;
    std::map<std::string, std::string> openFails;  // path -> reason
    std::map<int, std::string> startFails;         // title -> reason
    std::deque<Event> events;                      // for RunToEnd
    double position = 0, duration = 10;
    bool open = false;

    bool OpenOutput(const std::string& path, const EncodeParams&, std::string& error) override {
        calls.push_back("open " + fs::path(path).filename().string());
        if (openFails.count(path)) {
            error = openFails[path];
            return false;
        }
        std::ofstream(path) << "x";
        open = true;
        return true;
    }
    bool CloseOutput(std::string&) override {
        calls.push_back("close");
        open = false;
        return true;
    }
    bool StartItem(const ConvertTask& t, std::string& error) override {
        calls.push_back("start " + std::to_string(t.titleIndex));
        if (startFails.count(t.titleIndex)) {
            error = startFails[t.titleIndex];
            return false;
        }
        return true;
    }
    void PauseItem() override { calls.push_back("pause"); }
    void ResumeItem() override { calls.push_back("resume"); }
    void StopItem() override { calls.push_back("stop"); }
    Event WaitEvent(int, std::string& error) override {
        if (events.empty()) return Event::Complete;
        Event e = events.front();
        events.pop_front();
        if (e == Event::Error) error = "EC_ERRORABORT";
        return e;
    }
    double Position() override { return position; }
    double Duration() override { return duration; }
};

struct BatchTest : ::testing::Test {
    FakeRunner runner;
    std::uint64_t now = 1000;
    ConversionBatch batch{runner, [this] { return now; }};
    fs::path dir = fs::temp_directory_path() / ("batch_" + std::to_string(::getpid()));

    void SetUp() override {
        fs::remove_all(dir);
        fs::create_directories(dir);
        batch.SetOutputFolder(dir.string());
    }
    void TearDown() override { fs::remove_all(dir); }

    static BatchItem Item(int title, double lengthMs, bool checked = true) {
        BatchItem item;
        item.outputName = "Title_0" + std::to_string(title + 1) + ".mp4";
        item.task.titleIndex = title;
        item.task.trimLengthMs = lengthMs;
        item.checked = checked;
        return item;
    }
    std::string Path(const char* name) { return (dir / name).string(); }
};

using Status = BatchItemResult::Status;
using Calls = std::vector<std::string>;

TEST_F(BatchTest, ShortItemIsSkippedAndEachItemGetsItsFile) {
    batch.SetItems({Item(0, 60000), Item(1, 900), Item(2, 30000), Item(3, 5000, false)});
    ASSERT_TRUE(batch.Start());
    batch.ItemEnded(true);
    batch.ItemEnded(true);
    EXPECT_TRUE(batch.Finished());
    EXPECT_EQ((Calls{"open Title_01.mp4", "start 0", "stop", "close", "open Title_03.mp4",
                     "start 2", "stop", "close"}),
              runner.calls);
    ASSERT_EQ(3u, batch.Results().size()); // unchecked items are not part of the batch
    EXPECT_EQ(Status::Done, batch.Results()[0].status);
    EXPECT_EQ(Status::Skipped, batch.Results()[1].status);
    EXPECT_EQ(Status::Done, batch.Results()[2].status);
    EXPECT_EQ((std::vector<std::string>{Path("Title_01.mp4"), Path("Title_03.mp4")}),
              batch.WrittenFiles());
    EXPECT_DOUBLE_EQ(1.0, batch.Poll().batchFraction);
}

TEST_F(BatchTest, MergeWritesOneFileNamedAfterTheFirstItem) {
    batch.SetMerge(true);
    batch.SetItems({Item(0, 60000), Item(1, 20000), Item(2, 30000)});
    EXPECT_EQ(std::vector<std::string>{Path("Title_01.mp4")}, batch.PlannedPaths());
    ASSERT_TRUE(batch.Start());
    batch.ItemEnded(true);
    batch.ItemEnded(true);
    batch.ItemEnded(true);
    EXPECT_EQ((Calls{"open Title_01.mp4", "start 0", "stop", "start 1", "stop", "start 2", "stop",
                     "close"}),
              runner.calls);
    EXPECT_EQ(std::vector<std::string>{Path("Title_01.mp4")}, batch.WrittenFiles());
    EXPECT_EQ(0, batch.FailedCount());
}

TEST_F(BatchTest, NoCheckedItemStartsNothing) {
    batch.SetItems({Item(0, 60000, false)});
    EXPECT_FALSE(batch.Start());
    EXPECT_TRUE(batch.Finished());
    EXPECT_TRUE(runner.calls.empty());
}

TEST_F(BatchTest, FailuresAreRecordedWithFileAndReasonAndTheBatchGoesOn) {
    runner.openFails[Path("Title_01.mp4")] = "Permission denied";
    runner.startFails[1] = "connect splitter and decoder error(video)";
    batch.SetItems({Item(0, 60000), Item(1, 60000), Item(2, 60000), Item(3, 60000)});
    ASSERT_TRUE(batch.Start());
    // Title 3 starts; it fails midway, title 4 completes.
    EXPECT_EQ(2, batch.Poll().itemIndex);
    batch.ItemEnded(false, "EC_ERRORABORT");
    batch.ItemEnded(true);
    ASSERT_TRUE(batch.Finished());
    const auto& r = batch.Results();
    EXPECT_EQ(Status::Failed, r[0].status);
    EXPECT_NE(std::string::npos, r[0].reason.find("Permission denied"));
    EXPECT_NE(std::string::npos, r[0].reason.find(Path("Title_01.mp4")));
    EXPECT_EQ(Status::Failed, r[1].status);
    EXPECT_NE(std::string::npos, r[1].reason.find("error(video)"));
    EXPECT_EQ(Status::Failed, r[2].status);
    EXPECT_NE(std::string::npos, r[2].reason.find("EC_ERRORABORT"));
    EXPECT_EQ(Status::Done, r[3].status);
    EXPECT_EQ(3, batch.FailedCount());
    // The files of failed items are not left behind looking like results.
    EXPECT_FALSE(fs::exists(Path("Title_02.mp4")));
    EXPECT_FALSE(fs::exists(Path("Title_03.mp4")));
    EXPECT_TRUE(fs::exists(Path("Title_04.mp4")));
    EXPECT_EQ(std::vector<std::string>{Path("Title_04.mp4")}, batch.WrittenFiles());
}

TEST_F(BatchTest, MergeFileThatCannotBeOpenedFailsEveryItem) {
    batch.SetMerge(true);
    runner.openFails[Path("Title_01.mp4")] = "No space left on device";
    batch.SetItems({Item(0, 60000), Item(1, 500), Item(2, 60000)});
    EXPECT_FALSE(batch.Start() && !batch.Finished());
    EXPECT_EQ(2, batch.FailedCount());
    EXPECT_EQ(Status::Skipped, batch.Results()[1].status);
    EXPECT_TRUE(batch.WrittenFiles().empty());
}

TEST_F(BatchTest, ExistingFileIsNotOverwrittenWhenRefused) {
    std::ofstream(Path("Title_01.mp4")) << "keep me";
    batch.SetOverwrite(false);
    batch.SetItems({Item(0, 60000)});
    batch.Start();
    EXPECT_TRUE(batch.Finished());
    EXPECT_EQ(1, batch.FailedCount());
    EXPECT_NE(std::string::npos, batch.Results()[0].reason.find("exists"));
    EXPECT_EQ(7u, fs::file_size(Path("Title_01.mp4")));
}

TEST_F(BatchTest, ElapsedTimeLeavesPausesOutAndRemainingFollowsTheFraction) {
    batch.SetItems({Item(0, 10000), Item(1, 30000)});
    ASSERT_TRUE(batch.Start());
    now += 2000;
    batch.Pause();
    now += 10000;
    batch.Continue();
    now += 1000;
    batch.Pause();
    now += 10000;
    EXPECT_TRUE(batch.Poll().paused);
    batch.Continue();
    now += 1000;
    runner.position = 5;
    runner.duration = 10;
    BatchProgress p = batch.Poll();
    EXPECT_EQ(4000u, p.elapsedMs);
    EXPECT_DOUBLE_EQ(0.5, p.itemFraction);
    EXPECT_EQ(4000, p.remainingMs);
    EXPECT_DOUBLE_EQ(5.0 / 40.0, p.batchFraction);
    EXPECT_EQ((Calls{"open Title_01.mp4", "start 0", "pause", "resume", "pause", "resume"}),
              runner.calls);
    batch.ItemEnded(true);
    now += 1000;
    runner.position = 15;
    runner.duration = 30;
    p = batch.Poll();
    EXPECT_EQ(1000u, p.elapsedMs); // the next item counts afresh
    EXPECT_EQ(5000u, p.batchElapsedMs);
    EXPECT_DOUBLE_EQ(25.0 / 40.0, p.batchFraction);
    EXPECT_EQ(3000, p.batchRemainingMs);
}

TEST_F(BatchTest, CancelKeepsWhatWasWrittenAndMarksTheRest) {
    batch.SetItems({Item(0, 60000), Item(1, 60000)});
    ASSERT_TRUE(batch.Start());
    batch.Cancel();
    EXPECT_TRUE(batch.Finished());
    EXPECT_EQ(Status::Cancelled, batch.Results()[0].status);
    EXPECT_EQ(Status::Cancelled, batch.Results()[1].status);
    EXPECT_EQ((Calls{"open Title_01.mp4", "start 0", "stop", "close"}), runner.calls);
    EXPECT_TRUE(fs::exists(Path("Title_01.mp4")));
    EXPECT_TRUE(batch.WrittenFiles().empty());
}

TEST_F(BatchTest, RunToEndFollowsTheRunnerEvents) {
    using E = IConversionRunner::Event;
    runner.events = {E::None, E::None, E::Complete, E::None, E::Error, E::Complete};
    batch.SetItems({Item(0, 60000), Item(1, 60000), Item(2, 60000)});
    int reports = 0;
    batch.RunToEnd([&](const BatchProgress&) { ++reports; }, 10);
    EXPECT_TRUE(batch.Finished());
    EXPECT_EQ(7, reports);
    EXPECT_EQ(Status::Done, batch.Results()[0].status);
    EXPECT_EQ(Status::Failed, batch.Results()[1].status);
    EXPECT_EQ(Status::Done, batch.Results()[2].status);
}

TEST_F(BatchTest, CancelRequestStopsRunToEnd) {
    using E = IConversionRunner::Event;
    runner.events = {E::None, E::None, E::None};
    batch.SetItems({Item(0, 60000)});
    int reports = 0;
    batch.RunToEnd([&](const BatchProgress&) {
        if (++reports == 2) batch.RequestCancel();
    }, 10);
    EXPECT_EQ(Status::Cancelled, batch.Results()[0].status);
}

} // namespace
