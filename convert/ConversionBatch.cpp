#include "convert/ConversionBatch.h"

#include <algorithm>
#include <filesystem>
#include <set>

#include "platform/win/DebugTrace.h"
#include "platform/win/TickCount.h"

namespace fs = std::filesystem;

ConversionBatch::ConversionBatch(IConversionRunner& runner, std::function<std::uint64_t()> nowMs)
    : m_runner(runner), m_now(nowMs ? std::move(nowMs) : [] { return GetTickCount64(); }) {}

void ConversionBatch::SetItems(std::vector<BatchItem> items) {
    m_checked.clear();
    for (auto& item : items)
        if (item.checked) m_checked.push_back(std::move(item));
}

std::string ConversionBatch::PathFor(std::size_t i) const {
    const std::string& name = m_checked[m_merge ? 0 : i].outputName;
    if (m_folder.empty()) return name;
    return (fs::path(m_folder) / name).string();
}

std::vector<std::string> ConversionBatch::PlannedPaths() const {
    std::vector<std::string> paths;
    for (std::size_t i = 0; i < m_checked.size(); ++i) {
        if (m_checked[i].task.trimLengthMs < kMinItemMs) continue;
        std::string p = PathFor(i);
        if (std::find(paths.begin(), paths.end(), p) == paths.end()) paths.push_back(p);
    }
    return paths;
}

bool ConversionBatch::Start() {
    if (m_started) return !m_finished;
    m_started = true;
    m_results.clear();
    m_totalSeconds = m_doneSeconds = 0;
    for (const auto& item : m_checked) {
        BatchItemResult r;
        r.outputName = item.outputName;
        m_results.push_back(r);
        m_totalSeconds += item.task.trimLengthMs / 1000.0;
    }
    if (m_checked.empty()) {
        m_finished = true;
        return false;
    }
    StartFrom(0);
    return true;
}

bool ConversionBatch::OpenFor(std::size_t i) {
    if (m_fileOpen) return true;
    std::string path = PathFor(i);
    std::string error;
    std::error_code ec;
    if (!m_overwrite && fs::exists(path, ec)) {
        Fail(i, "\"" + path + "\" exists and is not overwritten");
        return false;
    }
    if (!m_runner.OpenOutput(path, m_params, error)) {
        Fail(i, "cannot open \"" + path + "\": " + error);
        return false;
    }
    m_fileOpen = true;
    m_fileFailed = false;
    m_openPath = path;
    return true;
}

void ConversionBatch::Fail(std::size_t i, const std::string& reason) {
    BatchItemResult& r = m_results[i];
    r.status = BatchItemResult::Status::Failed;
    r.reason = reason;
    r.path = m_fileOpen ? m_openPath : PathFor(i);
    m_doneSeconds += m_checked[i].task.trimLengthMs / 1000.0;
    DebugTrace("batch: %s failed: %s\n", r.outputName.c_str(), reason.c_str());
    // A file of its own that lost its item is not left behind as if written.
    if (!m_merge && m_fileOpen) CloseCurrentFile(false);
}

void ConversionBatch::StartFrom(std::size_t first) {
    for (std::size_t i = first; i < m_checked.size(); ++i) {
        const ConvertTask& task = m_checked[i].task;
        if (task.trimLengthMs < kMinItemMs) {
            m_results[i].status = BatchItemResult::Status::Skipped;
            m_results[i].reason = "shorter than one second";
            m_doneSeconds += task.trimLengthMs / 1000.0;
            continue;
        }
        if (!OpenFor(i)) {
            if (m_merge) { // the one file of the batch is missing: nothing can go on
                for (std::size_t k = i + 1; k < m_checked.size(); ++k) {
                    if (m_checked[k].task.trimLengthMs >= kMinItemMs) {
                        Fail(k, m_results[i].reason);
                    } else {
                        m_results[k].status = BatchItemResult::Status::Skipped;
                        m_results[k].reason = "shorter than one second";
                        m_doneSeconds += m_checked[k].task.trimLengthMs / 1000.0;
                    }
                }
                break;
            }
            continue;
        }
        std::string error;
        if (!m_runner.StartItem(task, error)) {
            m_runner.StopItem();
            Fail(i, "cannot convert " + m_checked[i].outputName + ": " + error);
            continue;
        }
        m_current = i;
        m_running = true;
        m_paused = false;
        m_segmentStart = Now();
        m_accumulated = 0;
        return;
    }
    FinishBatch();
}

void ConversionBatch::ItemEnded(bool ok, const std::string& reason) {
    if (!m_running) return;
    m_running = false;
    std::uint64_t ran = m_accumulated + (m_paused ? 0 : Now() - m_segmentStart);
    m_batchAccumulated += ran;
    m_paused = false;
    m_runner.StopItem();
    const std::size_t i = m_current;
    if (ok) {
        m_results[i].status = BatchItemResult::Status::Done;
        m_results[i].path = m_openPath;
        m_doneSeconds += m_checked[i].task.trimLengthMs / 1000.0;
        if (!m_merge) CloseCurrentFile(true);
    } else {
        Fail(i, "conversion of " + m_checked[i].outputName + " failed: " +
                    (reason.empty() ? std::string("pipeline error") : reason));
    }
    StartFrom(i + 1);
}

void ConversionBatch::CloseCurrentFile(bool keepFile) {
    if (!m_fileOpen) return;
    m_fileOpen = false;
    std::string error;
    bool ok = m_runner.CloseOutput(error);
    if (!ok) {
        for (auto& r : m_results)
            if (r.path == m_openPath && r.status == BatchItemResult::Status::Done) {
                r.status = BatchItemResult::Status::Failed;
                r.reason = "cannot finish \"" + m_openPath + "\": " + error;
            }
    }
    if (!ok || !keepFile) {
        std::error_code ec;
        fs::remove(m_openPath, ec);
    }
}

void ConversionBatch::FinishBatch() {
    CloseCurrentFile(true);
    m_running = false;
    m_finished = true;
}

BatchProgress ConversionBatch::Poll() {
    BatchProgress p;
    p.paused = m_paused;
    p.outputPath = m_openPath;
    if (m_finished) {
        p.itemIndex = int(m_checked.size());
        p.itemFraction = 1;
        p.batchFraction = m_totalSeconds > 0 ? std::min(1.0, m_doneSeconds / m_totalSeconds) : 1;
        p.batchElapsedMs = m_batchAccumulated;
        p.batchRemainingMs = 0;
        p.remainingMs = 0;
        return p;
    }
    if (!m_running) return p;
    p.itemIndex = int(m_current);
    double pos = std::max(0.0, m_runner.Position());
    double dur = m_runner.Duration();
    if (dur <= 0) dur = 1;
    p.positionSeconds = pos;
    p.durationSeconds = dur;
    p.itemFraction = std::clamp(pos / dur, 0.0, 1.0);
    p.elapsedMs = m_accumulated + (m_paused ? 0 : Now() - m_segmentStart);
    if (p.elapsedMs > 100 && p.itemFraction > 0)
        p.remainingMs = std::int64_t((1 - p.itemFraction) * double(p.elapsedMs) / p.itemFraction + 0.5);
    double itemSeconds = m_checked[m_current].task.trimLengthMs / 1000.0;
    double done = m_doneSeconds + std::min(pos, itemSeconds);
    p.batchFraction = m_totalSeconds > 0 ? std::clamp(done / m_totalSeconds, 0.0, 1.0) : 0;
    p.batchElapsedMs = m_batchAccumulated + p.elapsedMs;
    if (p.batchElapsedMs > 100 && p.batchFraction > 0)
        p.batchRemainingMs = std::int64_t((1 - p.batchFraction) * double(p.batchElapsedMs) /
                                              p.batchFraction + 0.5);
    return p;
}

void ConversionBatch::Pause() {
    if (!m_running || m_paused) return;
    m_accumulated += Now() - m_segmentStart;
    m_paused = true;
    m_runner.PauseItem();
}

void ConversionBatch::Continue() {
    if (!m_running || !m_paused) return;
    m_segmentStart = Now();
    m_paused = false;
    m_runner.ResumeItem();
}

void ConversionBatch::Cancel() {
    if (m_finished) return;
    if (m_running) {
        m_runner.StopItem();
        m_results[m_current].status = BatchItemResult::Status::Cancelled;
        m_results[m_current].reason = "cancelled";
        m_results[m_current].path = m_openPath;
        m_running = false;
    }
    for (auto& r : m_results)
        if (r.status == BatchItemResult::Status::Pending) {
            r.status = BatchItemResult::Status::Cancelled;
            r.reason = "not started";
        }
    CloseCurrentFile(true); // what was written so far stays, with its trailer
    m_finished = true;
}

void ConversionBatch::RunToEnd(const std::function<void(const BatchProgress&)>& progress,
                               int pollMs) {
    if (!m_started) Start();
    while (!m_finished) {
        if (m_cancelRequest) {
            Cancel();
            break;
        }
        if (m_pauseRequest && !m_paused) Pause();
        if (!m_pauseRequest && m_paused) Continue();
        std::string error;
        IConversionRunner::Event ev = m_runner.WaitEvent(pollMs, error);
        if (ev == IConversionRunner::Event::Complete) ItemEnded(true);
        if (ev == IConversionRunner::Event::Error) ItemEnded(false, error);
        if (progress) progress(Poll());
    }
    if (progress) progress(Poll());
}

int ConversionBatch::FailedCount() const {
    return int(std::count_if(m_results.begin(), m_results.end(), [](const BatchItemResult& r) {
        return r.status == BatchItemResult::Status::Failed;
    }));
}

std::vector<std::string> ConversionBatch::WrittenFiles() const {
    std::vector<std::string> files;
    for (const auto& r : m_results)
        if (r.status == BatchItemResult::Status::Done &&
            std::find(files.begin(), files.end(), r.path) == files.end())
            files.push_back(r.path);
    return files;
}
