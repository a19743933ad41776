// ConversionBatch: runs the checked items of a title list one after the
// other through an IConversionRunner, without any window. It names the output
// files after the items' output names in the output folder (one file per item,
// or one for all in merge mode), skips items shorter than one second, keeps
// the progress of the current item and of the batch, the elapsed time with
// pauses left out and the remaining time, and records what became of every
// item: a file that could not be opened, a pipeline that could not be built
// or failed midway is a failed item with its file and reason, and the batch
// goes on with the next item.
//
// Two ways to drive it: step by step from a window (Start, then ItemEnded on
// the pipeline's completion or error event, Poll from a timer, Pause,
// Continue, Cancel), or RunToEnd, which waits on the runner's events itself.
//
// Threads: one driving thread for everything, except RequestCancel and
// RequestPause/RequestContinue, which any thread may call while RunToEnd runs.
// Times: milliseconds of the given clock; seconds in Progress.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "convert/ConvertTask.h"
#include "convert/IConversionRunner.h"
#include "profiles/OutputProfile.h"

struct BatchItem {
    std::string outputName; // file name with extension ("Title_01.mp4")
    ConvertTask task;
    bool checked = true;
};

struct BatchItemResult {
    enum class Status { Pending, Done, Failed, Skipped, Cancelled };
    std::string outputName;
    std::string path; // the file the item went into
    Status status = Status::Pending;
    std::string reason; // why it failed or was skipped
};

struct BatchProgress {
    int itemIndex = -1;        // among the checked items; -1 before the start
    std::string outputPath;    // current file
    double itemFraction = 0;   // 0..1 of the current item
    double batchFraction = 0;  // 0..1 of all checked items' length
    double positionSeconds = 0, durationSeconds = 0;
    std::uint64_t elapsedMs = 0;    // current item, pauses excluded
    std::int64_t remainingMs = -1;  // current item, -1 unknown
    std::uint64_t batchElapsedMs = 0;   // whole batch, pauses excluded
    std::int64_t batchRemainingMs = -1; // whole batch, -1 unknown
    bool paused = false;
};

class ConversionBatch {
public:
    // Items shorter than this are skipped.
    static constexpr double kMinItemMs = 1000.0;

    // `runner` must outlive the batch. `nowMs`: a monotonic millisecond clock
    // (the system tick count when empty).
    explicit ConversionBatch(IConversionRunner& runner,
                             std::function<std::uint64_t()> nowMs = {});

    void SetItems(std::vector<BatchItem> items);
    void SetProfile(const EncodeParams& params) { m_params = params; }
    void SetOutputFolder(const std::string& folder) { m_folder = folder; }
    void SetMerge(bool merge) { m_merge = merge; }
    // When false, an existing output file fails its item instead of being
    // replaced.
    void SetOverwrite(bool overwrite) { m_overwrite = overwrite; }
    // The paths the batch will write (one in merge mode), in order.
    std::vector<std::string> PlannedPaths() const;

    // -- step by step
    // Starts the first checked item; false when there is none.
    bool Start();
    // The current item's pipeline reported its end: `ok` for completion,
    // otherwise `reason` says what went wrong. Moves on to the next item.
    void ItemEnded(bool ok, const std::string& reason = {});
    BatchProgress Poll();
    void Pause();
    void Continue();
    // Stops the current item, finishes the open file with what was written.
    void Cancel();
    bool Finished() const { return m_finished; }
    bool Paused() const { return m_paused; }

    // -- all at once: runs until the end or a cancel request; `progress` is
    // called about every `pollMs` milliseconds.
    void RunToEnd(const std::function<void(const BatchProgress&)>& progress, int pollMs = 200);
    void RequestCancel() { m_cancelRequest = true; }
    void RequestPause(bool pause) { m_pauseRequest = pause; }

    const std::vector<BatchItemResult>& Results() const { return m_results; }
    int FailedCount() const;
    // Files written completely (once each).
    std::vector<std::string> WrittenFiles() const;

private:
    std::string PathFor(std::size_t checkedIndex) const;
    void StartFrom(std::size_t checkedIndex);
    bool OpenFor(std::size_t checkedIndex);
    void Fail(std::size_t checkedIndex, const std::string& reason);
    void CloseCurrentFile(bool keepPartial);
    void FinishBatch();
    std::uint64_t Now() const { return m_now(); }

    IConversionRunner& m_runner;
    std::function<std::uint64_t()> m_now;
    std::vector<BatchItem> m_checked; // the checked items only, in order
    std::vector<BatchItemResult> m_results;
    EncodeParams m_params{};
    std::string m_folder;
    bool m_merge = false;
    bool m_overwrite = true;

    // -- run state
    bool m_started = false, m_finished = false, m_running = false, m_paused = false;
    bool m_fileOpen = false;      // an output file is open
    bool m_fileFailed = false;    // the open file lost an item (non-merge: removed at close)
    std::string m_openPath;
    std::size_t m_current = 0;
    double m_totalSeconds = 0, m_doneSeconds = 0;
    std::uint64_t m_segmentStart = 0, m_accumulated = 0;
    std::uint64_t m_batchAccumulated = 0; // finished items' running time
    std::atomic<bool> m_cancelRequest{false};
    std::atomic<bool> m_pauseRequest{false};
};
