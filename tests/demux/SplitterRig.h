// Test harness for the MPEG demultiplexer: a byte source (the DVD source on an
// authored disc, or bytes in memory) feeding a CMpegSplitterFilter whose output
// pins each end in a CCountingSink that logs every sample.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "MemoryAsyncReader.h"
#include "demux/CCountingSink.h"
#include "demux/CMpegSplitterFilter.h"
#include "platform/dvd/LibDvd.h"
#include "source/CDVDReader.h"

// Exposes what the connection of the input pin would do, for sources that are
// not filters (bytes in memory).
class TestMpegSplitter : public CMpegSplitterFilter {
public:
    TestMpegSplitter() : CMpegSplitterFilter(nullptr, &hr_) {}
    HRESULT BuildFrom(IAsyncReader* reader) { return CreateOutputPins(reader); }

private:
    HRESULT hr_ = S_OK;
};

class SplitterRig {
public:
    SplitterRig() = default;
    SplitterRig(const SplitterRig&) = delete;
    SplitterRig& operator=(const SplitterRig&) = delete;
    ~SplitterRig() {
        Stop();
        if (splitter_) splitter_->DisconnectPins();
        splitterRef_.Reset();
        sinks_.clear();
        sourceRef_.Reset();
        if (disc_) MyDVDClose(disc_);
    }

    // The DVD source on title `title` of the disc in `folder`, connected to the
    // splitter's input pin. With `titleStreams` the splitter gets the title's
    // record first (as the preview does), so it lists the declared subtitles.
    HRESULT OpenDisc(const std::string& folder, int title, bool titleStreams = false) {
        disc_ = MyDVDOpen(folder.c_str());
        if (!disc_) return E_FAIL;
        HRESULT hr = CDVDReader::Create(&sourceRef_);
        if (FAILED(hr)) return hr;
        auto control = sourceRef_.As<IMyDVDReader>();
        if (FAILED(hr = control->SetDvdHandle(disc_))) return hr;
        if (FAILED(hr = control->SetTitleArea(title, -1))) return hr;
        control->GetTitleDuration(&titleMs_);
        CreateSplitter();
        if (titleStreams) {
            auto info = std::make_unique<DvdDiscInfo>();
            if (MyDVDGetInfo(disc_, info.get()) != 0) return E_FAIL;
            splitter_->SetTitleStreams(&info->titles[title]);
        }
        ComPtr<IPin> out;
        if (FAILED(hr = sourceRef_->FindPin(L"Output", &out))) return hr;
        return out->Connect(splitter_->GetPin(splitter_->GetPinCount() - 1), nullptr);
    }

    // Bytes in memory: the parser is built straight from the reader.
    HRESULT OpenMemory(IAsyncReader* reader) {
        CreateSplitter();
        return splitter_->BuildFrom(reader);
    }

    // One logging sink per output pin, in pin order.
    HRESULT ConnectSinks() {
        int outputs = splitter_->GetPinCount() - 1;
        for (int i = 0; i < outputs; ++i) {
            auto* sink = new CCountingSink(true);
            sinks_.emplace_back(static_cast<IBaseFilter*>(sink));
            sinkPtrs_.push_back(sink);
            HRESULT hr = splitter_->GetPin(i)->Connect(sink->InputPin(), nullptr);
            if (FAILED(hr)) return hr;
        }
        return S_OK;
    }

    HRESULT Pause() {
        for (auto* s : sinkPtrs_)
            s->Pause();
        if (sourceRef_) sourceRef_->Pause();
        return splitter_->Pause();
    }

    // Stops the splitter (and the rest); returns the time the splitter took.
    std::chrono::milliseconds Stop() {
        auto t0 = std::chrono::steady_clock::now();
        if (splitter_) splitter_->Stop();
        auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - t0);
        for (auto* s : sinkPtrs_)
            s->Stop();
        if (sourceRef_) sourceRef_->Stop();
        return took;
    }

    // Waits until every sink saw end of stream.
    bool WaitForAllEnds(int ms) {
        for (auto* s : sinkPtrs_)
            if (!s->WaitForEnd(ms)) return false;
        return true;
    }

    TestMpegSplitter* Splitter() { return splitter_; }
    CCountingSink* Sink(int i) { return sinkPtrs_.at(std::size_t(i)); }
    int SinkCount() const { return int(sinkPtrs_.size()); }
    LONGLONG TitleMs() const { return titleMs_; }
    DvdHandle Disc() const { return disc_; }
    template <class I> ComPtr<I> As() { return ComPtr<IBaseFilter>(splitterRef_).As<I>(); }

private:
    void CreateSplitter() {
        splitter_ = new TestMpegSplitter();
        splitterRef_ = static_cast<IBaseFilter*>(splitter_);
    }

    DvdHandle disc_ = 0;
    LONGLONG titleMs_ = 0;
    ComPtr<IBaseFilter> sourceRef_;
    ComPtr<IBaseFilter> splitterRef_;
    TestMpegSplitter* splitter_ = nullptr;
    std::vector<ComPtr<IBaseFilter>> sinks_;
    std::vector<CCountingSink*> sinkPtrs_;
};
