// Small filters for the framework tests: a source that emits numbered samples
// on its own thread, a transform that copies (and can relabel the subtype), a
// two-way tee with output queues, and a counting renderer. Each sample carries
// its number in its first 4 bytes and times number * kFrame (relative to the
// segment start).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/dshow/AMThread.h"
#include "platform/dshow/BaseFilter.h"
#include "platform/dshow/BaseInputPin.h"
#include "platform/dshow/BaseOutputPin.h"
#include "platform/dshow/OutputQueue.h"
#include "platform/dshow/PosPassThru.h"
#include "platform/dshow/TransformFilter.h"

namespace dshowtest {

constexpr REFERENCE_TIME kFrame = 400000; // 25 fps
constexpr CLSID CLSID_TestSource = MakeGuid("6A1F0000-0000-4000-8000-000000000001");
constexpr CLSID CLSID_TestTransform = MakeGuid("6A1F0000-0000-4000-8000-000000000002");
constexpr CLSID CLSID_TestRenderer = MakeGuid("6A1F0000-0000-4000-8000-000000000003");
constexpr CLSID CLSID_TestTee = MakeGuid("6A1F0000-0000-4000-8000-000000000004");
constexpr GUID MEDIASUBTYPE_TestA = FourCCSubtype(0x41545354); // "TSTA"
constexpr GUID MEDIASUBTYPE_TestB = FourCCSubtype(0x42545354); // "TSTB"

// A video type of the given subtype with a VIDEOINFOHEADER of width x height,
// 12 bits per pixel (YV12 sized).
CMediaType VideoType(const GUID& subtype, LONG width = 16, LONG height = 16);

// Waits (polling) up to ms for pred; true when it held.
template <class Pred>
bool WaitFor(Pred pred, int ms = 5000);

// Ends the process with a message when a threaded test runs past its time.
class Watchdog {
public:
    explicit Watchdog(int seconds);
    ~Watchdog();

private:
    std::mutex m_;
    std::condition_variable cv_;
    bool done_ = false;
    std::thread t_;
};

// ---------------------------------------------------------------- source

class CTestSource;

class CTestSourcePin : public CBaseOutputPin, public CAMThread, public IMediaSeeking {
public:
    CTestSourcePin(CTestSource* filter, CCritSec* lock, HRESULT* phr);
    ~CTestSourcePin() override;

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
    ULONG NonDelegatingAddRef() override { return CBasePin::NonDelegatingAddRef(); }
    ULONG NonDelegatingRelease() override { return CBasePin::NonDelegatingRelease(); }

    HRESULT CheckMediaType(const CMediaType* pmt) override;
    HRESULT GetMediaType(int iPosition, CMediaType* pmt) override;
    HRESULT DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* prop) override;
    HRESULT Active() override;
    HRESULT Inactive() override;

    // IMediaSeeking (media time only)
    HRESULT GetCapabilities(DWORD* p) override;
    HRESULT CheckCapabilities(DWORD* p) override;
    HRESULT IsFormatSupported(const GUID* f) override;
    HRESULT QueryPreferredFormat(GUID* f) override;
    HRESULT GetTimeFormat(GUID* f) override;
    HRESULT IsUsingTimeFormat(const GUID* f) override;
    HRESULT SetTimeFormat(const GUID* f) override;
    HRESULT GetDuration(LONGLONG* d) override;
    HRESULT GetStopPosition(LONGLONG* s) override;
    HRESULT GetCurrentPosition(LONGLONG* c) override;
    HRESULT ConvertTimeFormat(LONGLONG*, const GUID*, LONGLONG, const GUID*) override;
    HRESULT SetPositions(LONGLONG* c, DWORD cf, LONGLONG* s, DWORD sf) override;
    HRESULT GetPositions(LONGLONG* c, LONGLONG* s) override;
    HRESULT GetAvailable(LONGLONG* e, LONGLONG* l) override;
    HRESULT SetRate(double r) override;
    HRESULT GetRate(double* r) override;
    HRESULT GetPreroll(LONGLONG* p) override;

    std::atomic<int> delivered{0};
    std::atomic<HRESULT> lastDeliverResult{S_OK};
    std::atomic<bool> waitingForBuffer{false}; // inside GetDeliveryBuffer

protected:
    DWORD ThreadProc() override;

private:
    enum Command : DWORD { kExit = 0, kRun = 1, kPause = 2 };
    void Stream();
    CTestSource* source_;
    std::atomic<int> next_{0};
    std::atomic<REFERENCE_TIME> segmentStart_{0};
    std::atomic<bool> discontinuity_{true};
};

class CTestSource : public CBaseFilter {
public:
    // count samples of type mt, buffers x bufferSize bytes asked of the allocator.
    CTestSource(const CMediaType& mt, int count, LONG buffers = 2, LONG bufferSize = 1024);
    ~CTestSource() override;
    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override;
    CTestSourcePin* Pin() { return pin_.get(); }

    CMediaType type;
    int count;
    LONG buffers, bufferSize;

private:
    CCritSec lock_;
    std::unique_ptr<CTestSourcePin> pin_;
};

// ---------------------------------------------------------------- transform

class CTestTransform : public CTransformFilter {
public:
    // Accepts Video/in, offers Video/out with the same format.
    CTestTransform(const GUID& in = MEDIASUBTYPE_YV12, const GUID& out = MEDIASUBTYPE_YV12,
                   bool copy = true);
    static HRESULT Create(IUnknown* outer, REFIID riid, void** ppv, const GUID& in, const GUID& out);

    HRESULT CheckInputType(const CMediaType* mtIn) override;
    HRESULT CheckTransform(const CMediaType* mtIn, const CMediaType* mtOut) override;
    HRESULT DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* prop) override;
    HRESULT GetMediaType(int iPosition, CMediaType* pmt) override;
    HRESULT Transform(IMediaSample* in, IMediaSample* out) override;

    std::atomic<int> transformed{0};

private:
    GUID in_, out_;
    bool copy_;
};

// ---------------------------------------------------------------- renderer

class CCountingRenderer;

class CCountingInputPin : public CBaseInputPin {
public:
    CCountingInputPin(CCountingRenderer* filter, CCritSec* lock, HRESULT* phr);
    HRESULT CheckMediaType(const CMediaType* pmt) override;
    HRESULT GetMediaType(int iPosition, CMediaType* pmt) override;
    HRESULT GetAllocatorRequirements(ALLOCATOR_PROPERTIES* props) override;
    HRESULT NotifyAllocator(IMemAllocator* alloc, BOOL readOnly) override;
    HRESULT Receive(IMediaSample* sample) override;
    HRESULT EndOfStream() override;
    HRESULT BeginFlush() override;
    HRESULT EndFlush() override;
    HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;
    HRESULT Inactive() override;

private:
    CCountingRenderer* r_;
};

class CCountingRenderer : public CBaseFilter {
public:
    // Accepts Video (any subtype when accept is GUID_NULL).
    explicit CCountingRenderer(const GUID& accept = GUID_NULL);
    ~CCountingRenderer() override;
    static HRESULT Create(IUnknown* outer, REFIID riid, void** ppv, const GUID& accept);

    DECLARE_IUNKNOWN
    // Adds IMediaSeeking / IMediaPosition through a CPosPassThru over the input.
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override;
    HRESULT Stop() override;
    CCountingInputPin* Pin() { return pin_.get(); }

    // -- what was received, under m
    std::mutex m;
    std::condition_variable cv;
    std::vector<std::uint32_t> numbers;
    std::vector<REFERENCE_TIME> starts;
    std::vector<bool> discontinuities;
    std::vector<REFERENCE_TIME> segments;
    std::vector<std::thread::id> threads;
    int eos = 0, beginFlush = 0, endFlush = 0;
    size_t Count();

    // -- behaviour
    GUID accept;
    std::vector<CMediaType> offered;        // types the input pin offers
    ALLOCATOR_PROPERTIES requirements{};     // returned by GetAllocatorRequirements when set
    bool refuseAllocator = false;            // NotifyAllocator fails
    bool holdSamples = false;                // keep every sample until Stop
    std::atomic<bool> block{false};          // Receive waits until Stop/flush/unblock
    void Unblock();

private:
    friend class CCountingInputPin;
    CCritSec lock_;
    std::unique_ptr<CCountingInputPin> pin_;
    CPosPassThru* passThru_ = nullptr;
    std::vector<IMediaSample*> held_;
    bool released_ = false; // blocking released (under m)
};

// ---------------------------------------------------------------- tee

class CTestTee;

class CTestTeeInput : public CBaseInputPin {
public:
    CTestTeeInput(CTestTee* tee, CCritSec* lock, HRESULT* phr);
    HRESULT CheckMediaType(const CMediaType* pmt) override;
    HRESULT Receive(IMediaSample* sample) override;
    HRESULT EndOfStream() override;
    HRESULT BeginFlush() override;
    HRESULT EndFlush() override;
    HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

private:
    CTestTee* tee_;
};

class CTestTeeOutput : public CBaseOutputPin {
public:
    CTestTeeOutput(CTestTee* tee, CCritSec* lock, HRESULT* phr, LPCWSTR name);
    ~CTestTeeOutput() override;
    HRESULT CheckMediaType(const CMediaType* pmt) override;
    HRESULT GetMediaType(int iPosition, CMediaType* pmt) override;
    HRESULT DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* prop) override;
    HRESULT Active() override;
    HRESULT Inactive() override;
    HRESULT Deliver(IMediaSample* sample) override;
    HRESULT DeliverEndOfStream() override;
    HRESULT DeliverBeginFlush() override;
    HRESULT DeliverEndFlush() override;
    HRESULT DeliverNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

private:
    CTestTee* tee_;
    CCritSec streamLock_; // held around queue use on the streaming thread
    std::unique_ptr<COutputQueue> queue_; // changed under streamLock_ (application thread)
};

class CTestTee : public CBaseFilter {
public:
    explicit CTestTee(LONG batch = 5, LONG list = 5);
    ~CTestTee() override;
    int GetPinCount() override { return 3; }
    CBasePin* GetPin(int n) override;

    LONG batch, list;
    CTestTeeInput* input;
    CTestTeeOutput* outputs[2];

private:
    CCritSec lock_;
};

// ---------------------------------------------------------------- helpers

// Pin n of a filter in enumeration order with the given direction.
ComPtr<IPin> GetPinOf(IBaseFilter* f, PIN_DIRECTION dir, int n = 0);

template <class Pred>
bool WaitFor(Pred pred, int ms) {
    for (int i = 0; i < ms; ++i) {
        if (pred()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return pred();
}

} // namespace dshowtest
